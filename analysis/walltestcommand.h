// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <functional>

class QTextStream;

// The wall test for scripts:
//   --wall-test FILE.csv --q S --warm S --cold S [--heavy] [--capacity C]
// reads the recording FILE.csv (as "Save as..." and the live recording write it), takes sensor
// S's heat flux as q and the temperatures of the --warm and --cold sensors as T_si and T_se
// (S is 1 to 4 and must be in the file), and prints the report lines (walltestreport.h).

// The values given on the command line (a null string: not given).
struct WallTestArguments
{
    QString file;
    QString q, warm, cold;
    bool heavy = false;
    QString capacity;
};

// The options, for the program's parser, and their values once it has parsed.
struct WallTestOptions
{
    WallTestOptions();
    QList<QCommandLineOption> all() const;
    // Set: whether an option was given; value: its value.
    WallTestArguments read(const std::function<bool(const QCommandLineOption &)> &isSet,
                           const std::function<QString(const QCommandLineOption &)> &value) const;

    QCommandLineOption wallTest, q, warm, cold, heavy, capacity;
};

// The exit status for bad input.
constexpr int WallTestBadInput = 2;

// Runs the wall test, its lines to out. Returns the exit status: 0, or WallTestBadInput with a
// message on err for bad input (a sensor number, the file, a sensor the file does not hold, the
// capacity). What the file held that was left out, and heat flowing the other way, are said on
// err too, with status 0.
int runWallTestCommand(const WallTestArguments &arguments, QTextStream &out, QTextStream &err);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QTextStream;
struct WallTestReportData;

// The wall test for scripts:
//   --wall-test FILE.csv --q S --warm S --cold S [--heavy] [--capacity C]
//       [--method average|dynamic] [--step-h H] [--td S:TD:TCAL]... [--report FILE.pdf]
//       [--element TEXT] [--place TEXT]
// reads the recording FILE.csv (as "Save as..." and the live recording write it), takes sensor
// S's heat flux as q and the temperatures of the --warm and --cold sensors as T_si and T_se
// (S is 1 to 4 and must be in the file), and prints the report lines of the method asked for
// (walltestreport.h; the average method's by default). --td corrects sensor S's heat flux for its
// temperature (fluxcorrection.h) in both methods; --report also writes the test's report as a PDF.

// The values given on the command line (a null string: not given).
struct WallTestArguments
{
    QString file;
    QString q, warm, cold;
    bool heavy = false;
    QString capacity;
    QString method;
    QString step;
    QStringList corrections; // each "S:TD:TCAL"
    QString report;
    QString element, place;
};

// The options, for the program's parser, and their values once it has parsed.
struct WallTestOptions
{
    WallTestOptions();
    QList<QCommandLineOption> all() const;
    // Set: whether an option was given; values: the values it was given, in order.
    WallTestArguments read(const std::function<bool(const QCommandLineOption &)> &isSet,
                           const std::function<QStringList(const QCommandLineOption &)> &values) const;

    QCommandLineOption wallTest, q, warm, cold, heavy, capacity, method, step, td, report, element, place;
};

// The exit status for bad input.
constexpr int WallTestBadInput = 2;

// Writes the report of a wall test as a PDF to fileName; false with *error set if it can't.
using WallTestReportWriter =
    std::function<bool(const QString &fileName, const WallTestReportData &data, QString *error)>;

// Runs the wall test, its lines to out. Returns the exit status: 0, or WallTestBadInput with a
// message on err for bad input (a sensor number, the file, a sensor the file does not hold, the
// capacity, the method, the interval, a correction) and for a report that could not be written.
// What the file held that was left out, heat flowing the other way and why the dynamic method has
// no R are said on err too, with status 0.
int runWallTestCommand(const WallTestArguments &arguments, QTextStream &out, QTextStream &err,
                       const WallTestReportWriter &writeReport = {});

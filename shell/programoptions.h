// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The command line of quellspan and quellspan-demo, read before the program needs a display, so
// that --help, --version and mistakes are answered on a terminal without one too (over ssh, on a
// console, in a script). Help and version are printed and the program ends with 0; an unknown
// option, a missing value or an argument where none is taken end it with Qt's parser's message
// on the error output and exit code 2. The options Qt's own GUI classes read (-platform, -style,
// -display, ...) are accepted and left to them.
//
// A program adds its own options, parses, then reads them:
//     ProgramOptions options(QStringLiteral("quellspan"), description);
//     const QCommandLineOption recordings(...);
//     options.add(recordings);
//     options.parse(argc, argv); // returns only when the program is to run
//     ... options.value(recordings) ...
class ProgramOptions
{
public:
    // Exit code of a mistake on the command line.
    static constexpr int UsageError = 2;

    // program: the name the messages start with; description: the first line of --help.
    ProgramOptions(const QString &program, const QString &description);

    void add(const QCommandLineOption &option);

    // Lets the program take arguments (files, say): named in --help as syntax, with description.
    // Without this, an argument is a mistake.
    void acceptArguments(const QString &name, const QString &description, const QString &syntax);
    QStringList arguments() const { return parser.positionalArguments(); }

    // Reads the command line. Returns only when the program is to run; answers --help and
    // --version, and ends the program on a mistake, itself.
    void parse(int argc, char *argv[]);

    bool isSet(const QCommandLineOption &option) const { return parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return parser.value(option); }
    QStringList values(const QCommandLineOption &option) const { return parser.values(option); }

    // Ends the program with a mistake found in the options' values: "<program>: <message>" on
    // the error output, exit code 2.
    [[noreturn]] void fail(const QString &message) const;

private:
    QString program;
    QCommandLineParser parser;
    QCommandLineOption help;
    QCommandLineOption version;
    bool takesArguments = false;
};

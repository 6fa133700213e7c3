// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/summarycommand.h"
#include "control_panel/mainwindow.h"
#include "control_panel/programstart.h"
#include "data/recordingfile.h"
#include "data/version.h"
#include "review/reviewwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

namespace {

// What the command line asks of the program.
struct ProgramOptions
{
    QString recordingsFolder; // empty: the user's data folder
    QStringList recordings;   // to open in review windows instead of running the unit
};

// Reads the command line. --help and --version print their text and end the program here; so does
// an unknown option, with a message and exit code 1. Arguments are recordings to show.
ProgramOptions parseCommandLine(const QApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Records heat-flux experiments from the Quellspan measuring unit (USB 2341:0058)."));
    parser.addHelpOption();
    parser.addVersionOption();
    // The program's own options: added here, read into ProgramOptions below.
    const QCommandLineOption recordingsOption(
        QStringLiteral("recordings"),
        QStringLiteral("Keep the live recordings in <dir> instead of the user's data folder."),
        QStringLiteral("dir"));
    parser.addOption(recordingsOption);
    // Answered in main() before any of this: listed here for --help.
    parser.addOption(QCommandLineOption(
        QStringLiteral("summary"),
        QStringLiteral("Print the statistics of each column of the recording <file> for scripts and exit: "
                       "samples, mean, min, max and sd, over the times from --from S to --to S seconds "
                       "(both included) if given."),
        QStringLiteral("file")));
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QStringLiteral("Recordings (CSV) to show, each in a review window of its own, "
                       "instead of looking for the unit."),
        QStringLiteral("[file...]"));
    parser.process(app);

    ProgramOptions options;
    options.recordingsFolder = parser.value(recordingsOption);
    options.recordings = parser.positionalArguments();
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    // The statistics for scripts print their table and end here, with no display and no window.
    if (asksForSummary(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
        QTextStream out(stdout), err(stderr);
        return runSummaryCommand(QCoreApplication::arguments().mid(1), out, err);
    }
    // --help and --version answer on a terminal without a display too (over ssh, on a console).
    prepareProgramStart(argc, argv, {"-h", "--help", "-?", "--help-all", "-v", "--version"});
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellspan.quellspan"));
    const ProgramOptions options = parseCommandLine(app);
    if (!options.recordings.isEmpty()) {
        // Recordings to look at: no unit, no control panel, nothing recovered; the program ends
        // when the last of their windows is closed.
        if (!options.recordingsFolder.isEmpty())
            setRecordingsFolder(options.recordingsFolder);
        for (const QString &file : options.recordings)
            ReviewWindow::openBeside(nullptr, nullptr, file);
        return app.exec();
    }
    prepareRecordings(options.recordingsFolder);

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

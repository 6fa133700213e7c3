// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/politequit.h"
#include "analysis/panels/walltestpdf.h"
#include "analysis/summarycommand.h"
#include "analysis/walltestcommand.h"
#include "control_panel/mainwindow.h"
#include "data/recordingsfolder.h"
#include "data/version.h"
#include "publish/ui/publishoptions.h"
#include "review/reviewwindow.h"
#include "shell/filenames.h"
#include "shell/programoptions.h"
#include "shell/programstart.h"
#include "shell/rememberedsettings.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    // File names on the command line (and from "Open With") open the files they name, whatever
    // their bytes.
    decodeFileNamesLosslessly();
    // The statistics for scripts read their own options, print their table and end here, with no
    // display and no window.
    if (asksForSummary(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
        QTextStream out(stdout), err(stderr);
        return runSummaryCommand(decodedArguments(argc, argv).mid(1), out, err);
    }

    // Read before anything needs a display: --help, --version and mistakes are answered on a
    // terminal without one too (over ssh, on a console).
    ProgramOptions options(
        QStringLiteral("quellspan"),
        QStringLiteral("Records heat-flux experiments from the Quellspan measuring unit (USB 2341:0058)."));
    const QCommandLineOption recordingsOption(
        QStringLiteral("recordings"),
        QStringLiteral("Keep the live recordings in <dir> instead of the user's data folder."),
        QStringLiteral("dir"));
    options.add(recordingsOption);
    const PublishOptions publishing;
    options.add(publishing.publish);
    options.add(publishing.ca);
    // Answered above; listed here for --help.
    options.add(QCommandLineOption(
        QStringLiteral("summary"),
        QStringLiteral("Print the statistics of each column of the recording <file> for scripts and exit: "
                       "samples, mean, min, max and sd, over the times from --from S to --to S seconds "
                       "(both included) if given."),
        QStringLiteral("file")));
    const WallTestOptions wallTest;
    for (const QCommandLineOption &option : wallTest.all())
        options.add(option);
    options.acceptArguments(QStringLiteral("files"),
                            QStringLiteral("Recordings (CSV) to show, each in a review window of its own, "
                                           "instead of looking for the unit."),
                            QStringLiteral("[file...]"));
    options.parse(argc, argv);

    const WallTestArguments wallTestArguments =
        wallTest.read([&](const QCommandLineOption &o) { return options.isSet(o); },
                      [&](const QCommandLineOption &o) { return options.values(o); });
    if (options.isSet(wallTest.wallTest)) {
        if (!options.arguments().isEmpty())
            options.fail(QStringLiteral("unexpected argument %1").arg(options.arguments().constFirst()));
        if (options.isSet(wallTest.report)) {
            // The report's charts are drawn as widgets, off screen: still no display needed. Where
            // the session has no runtime folder, the platform's note about that is no news to a
            // script.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static const QtMessageHandler passOn = qInstallMessageHandler(
                [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                    if (!message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
                        passOn(type, context, message);
                });
            QApplication app(argc, argv);
            QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
            QTextStream out(stdout), err(stderr);
            return runWallTestCommand(wallTestArguments, out, err, writeWallTestPdf);
        }
        // For scripts: the lines are printed with no display and no window.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
        QTextStream out(stdout), err(stderr);
        return runWallTestCommand(wallTestArguments, out, err);
    }
    for (const QCommandLineOption &option : wallTest.all()) {
        if (options.isSet(option))
            options.fail(QStringLiteral("--%1 goes with --wall-test").arg(option.names().constFirst()));
    }

    if (const QString mistake =
            publishing.apply([&](const QCommandLineOption &o) { return options.isSet(o); },
                             [&](const QCommandLineOption &o) { return options.value(o); });
        !mistake.isEmpty())
        options.fail(mistake);

    prepareProgramStart(argc, argv, {});
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellspan.quellspan"));

    // The wall test's setup is remembered with the other settings, in review windows too.
    ReviewWindow::setWallTestMemory(
        {[] { return RememberedSettings().wallTestSetup(); },
         [](const WallTestSetup &setup) { RememberedSettings().setWallTestSetup(setup); }});

    const QStringList recordings = options.arguments();
    if (!recordings.isEmpty()) {
        // Recordings to look at: no unit, no control panel, nothing recovered; the program ends
        // when the last of their windows is closed.
        const QString folder = options.value(recordingsOption);
        if (!folder.isEmpty())
            setRecordingsFolder(folder);
        for (const QString &file : recordings)
            ReviewWindow::openBeside(nullptr, nullptr, file);
        return app.exec();
    }

    prepareRecordings(options.value(recordingsOption));
    // Asked by the system to quit (a shutdown, kill, Ctrl+C): the run is closed normally first.
    PoliteQuit::instance()->install();

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/politequit.h"
#include "analysis/walltestcommand.h"
#include "control_panel/mainwindow.h"
#include "control_panel/programoptions.h"
#include "control_panel/programstart.h"
#include "data/version.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
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
    const WallTestOptions wallTest;
    for (const QCommandLineOption &option : wallTest.all())
        options.add(option);
    options.parse(argc, argv);

    const WallTestArguments wallTestArguments =
        wallTest.read([&](const QCommandLineOption &o) { return options.isSet(o); },
                      [&](const QCommandLineOption &o) { return options.value(o); });
    if (options.isSet(wallTest.wallTest)) {
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

    prepareProgramStart(argc, argv, {});
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellspan.quellspan"));
    prepareRecordings(options.value(recordingsOption));
    // Asked by the system to quit (a shutdown, kill, Ctrl+C): the run is closed normally first.
    PoliteQuit::instance()->install();

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

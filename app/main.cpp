// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/data/recordingfile.h"
#include "acquisition/liverecorder.h"
#include "control_panel/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <csignal>
#include <cstdlib>

namespace {

// What the command line asks of the program.
struct ProgramOptions
{
    QString recordingsFolder; // empty: the user's data folder
};

// Reads the command line. --help and --version print their text and end the program here; so does
// an unknown option or an argument, with a message and exit code 1.
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
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << QCoreApplication::applicationName() << ": unexpected argument "
                            << parser.positionalArguments().first() << "\n";
        std::exit(EXIT_FAILURE);
    }
    ProgramOptions options;
    options.recordingsFolder = parser.value(recordingsOption);
    return options;
}

// --help and --version answer on a terminal without a display (over ssh, on a console).
void printWithoutDisplay(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    const QStringList textOnly = {"-h", "--help", "-?", "--help-all", "-v", "--version"};
    for (int i = 1; i < argc; ++i) {
        if (textOnly.contains(QString::fromLocal8Bit(argv[i])))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A file-size limit then fails the write (and the live recording says so) instead of ending the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Sharp and correctly sized on high-DPI screens: the fixed-geometry forms scale as a whole.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    printWithoutDisplay(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellspan.quellspan"));
    const ProgramOptions options = parseCommandLine(app);
    if (!options.recordingsFolder.isEmpty())
        setRecordingsFolder(options.recordingsFolder);
    // Recordings left open by a run that ended without closing them are made whole first.
    LiveRecorder::recoverAbandoned();

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

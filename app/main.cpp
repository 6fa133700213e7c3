// SPDX-License-Identifier: GPL-3.0-or-later
#include "control_panel/mainwindow.h"
#include "control_panel/programstart.h"
#include "data/version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

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

} // namespace

int main(int argc, char *argv[])
{
    // --help and --version answer on a terminal without a display too (over ssh, on a console).
    prepareProgramStart(argc, argv, {"-h", "--help", "-?", "--help-all", "-v", "--version"});
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellspan.quellspan"));
    const ProgramOptions options = parseCommandLine(app);
    prepareRecordings(options.recordingsFolder);

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

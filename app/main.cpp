// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/data/recordingfile.h"
#include "acquisition/liverecorder.h"
#include "control_panel/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>

#include <csignal>

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A file-size limit then fails the write (and the live recording says so) instead of ending the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Records heat-flux experiments from the measuring unit."));
    parser.addHelpOption();
    const QCommandLineOption recordingsOption(
        QStringLiteral("recordings"),
        QStringLiteral("Keep the live recordings in <dir> instead of the user's data folder."),
        QStringLiteral("dir"));
    parser.addOption(recordingsOption);
    parser.process(app);
    if (parser.isSet(recordingsOption))
        setRecordingsFolder(parser.value(recordingsOption));
    // Recordings left open by a run that ended without closing them are made whole first.
    LiveRecorder::recoverAbandoned();

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

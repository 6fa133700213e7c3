// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/programstart.h"

#include "acquisition/runsafety/liverecorder.h"
#include "data/recordingsfolder.h"

#include <QApplication>

#include <csignal>

void prepareProgramStart(int argc, char *argv[], const QStringList &noDisplayOptions)
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        for (const QString &option : noDisplayOptions) {
            if (arg == option || arg.startsWith(option + QLatin1Char('='))) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
                return;
            }
        }
    }
}

void prepareRecordings(const QString &folder)
{
    if (!folder.isEmpty())
        setRecordingsFolder(folder);
    LiveRecorder::recoverAbandoned();
}

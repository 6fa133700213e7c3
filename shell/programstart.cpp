// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/programstart.h"

#include "acquisition/runsafety/liverecorder.h"
#include "data/recordingsfolder.h"

#include <QApplication>
#include <QTextStream>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>

namespace {

// Why the X server cannot be reached, or empty when it can (or another platform was chosen).
QString displayMissing(int argc, char *argv[])
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return QString();
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        // -platform chosen on the command line; -display names the server to reach.
        if (arg == "-platform" || arg == "--platform" || arg.startsWith("-platform=") ||
            arg.startsWith("--platform=") || arg == "-display" || arg == "--display")
            return QString();
    }
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral("no display to show its windows on (DISPLAY is not set)");
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reached ? QString()
                   : QStringLiteral("cannot reach the display %1 to show its windows on")
                         .arg(QString::fromLocal8Bit(display));
}

} // namespace

void prepareProgramStart(int argc, char *argv[], const QStringList &noDisplayOptions,
                         const WithoutDisplay &withoutDisplay)
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
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
    if (const QString why = displayMissing(argc, argv); !why.isEmpty()) {
        QTextStream(stderr) << withoutDisplay.program << ": " << why << ". It needs one; without one it runs "
                            << withoutDisplay.options << ".\n";
        std::exit(2);
    }
}

void prepareRecordings(const QString &folder)
{
    if (!folder.isEmpty())
        setRecordingsFolder(folder);
    LiveRecorder::recoverAbandoned();
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition figures: what the whole program costs while a unit sends, from the start of a
// run to a recording of millions of records, in a zoomed view and with the window hidden; how
// late the time stamps are against a plain reader; redraw costs, memory per record, CSV saves and
// the live recording. The windows are shown on an X server of the benchmark's own (Xvfb), whose
// CPU is measured beside the program's; --offscreen uses Qt's offscreen platform instead.
// Records go through the real path: a pseudo-terminal "unit" written by a thread of its own at a
// steady rate (as a real unit sends), the serial port, the window's reader.
#include "acquisition/runsafety/liverecorder.h"
#include "bench/scenarios.h"
#include "data/recordingsfolder.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <sys/utsname.h>

namespace bench {

std::vector<Goal> &goals()
{
    static std::vector<Goal> all;
    return all;
}

} // namespace bench

namespace {

QString machine()
{
    QString cpu = QStringLiteral("?");
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    utsname name{};
    uname(&name);
    return QStringLiteral("%1, %2 cores, Linux %3, Qt %4")
        .arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(QString::fromLatin1(name.release), QString::fromLatin1(qVersion()));
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace bench;
    bool offscreen = false;
    Options options;
    QByteArray only; // --only start|growth|recording|publishing|shipped|remote: that part alone
    for (int i = 1; i < argc; ++i) {
        offscreen |= std::strcmp(argv[i], "--offscreen") == 0;
        options.quick |= std::strcmp(argv[i], "--quick") == 0;
        options.longRun |= std::strcmp(argv[i], "--long") == 0;
        options.events |= std::strcmp(argv[i], "--events") == 0;
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = argv[++i];
        if (std::strcmp(argv[i], "--perf") == 0 && i + 1 < argc)
            options.perfFolder = QString::fromLocal8Bit(argv[++i]);
    }
    auto runs = [&only](const char *part) { return only.isEmpty() || only == part; };
    std::unique_ptr<XServer> x;
    if (!offscreen && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        QString why;
        x = XServer::start(&why);
        if (x)
            qputenv("QT_QPA_PLATFORM", "xcb");
        else
            std::printf("No X server of its own (%s): on the offscreen platform.\n", qPrintable(why));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false;qt.qpa.*=false");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    options.x = x.get();

    QTemporaryDir recordings;
    setRecordingsFolder(recordings.path());
    std::printf("Quellspan acquisition figures\nMachine: %s\nPlatform: %s%s; load %s at the start\n",
                qPrintable(machine()), qPrintable(QGuiApplication::platformName()),
                x ? qPrintable(QStringLiteral(" (Xvfb on %1)").arg(x->display())) : "",
                qPrintable(loadAverage()));
    std::fflush(stdout);

    const double startSeconds = options.quick ? 15 : 60;
    if (runs("start")) {
        startOfRunScenario(options, 4, 16, startSeconds);
        startOfRunScenario(options, 1, FullLineRate, startSeconds);
    }
    if (runs("growth")) {
        Bench bench(4, options.x);
        const int zoomAt = options.quick ? 100000 : 1000000;
        const double seconds = options.quick ? 10 : 30;
        growthScenario(bench, options, [&](int size) {
            if (size != zoomAt)
                return;
            zoomedScenario(bench, options, 16, seconds);
            hiddenScenario(bench, options, 16, seconds);
        });
    }
    if (runs("recording"))
        recordingScenario(options);
    if (runs("shipped"))
        shippedScenario(options);
    if (runs("publishing"))
        publishingScenario(options);
    if (runs("remote"))
        remoteScenario(options);

    std::printf("\n| figure (same run) | measured | goal |\n|---|---:|---:|\n");
    for (const Goal &g : goals())
        std::printf("| %s | %s | %s |\n", qPrintable(g.figure), qPrintable(g.measured), qPrintable(g.goal));
    std::printf("\nLoad at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}

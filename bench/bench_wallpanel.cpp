// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what the wall-test panel costs: the whole program's CPU while a four-sensor run grows at
// 96 records/s, with the panel open and kept up at the charts' redraw pace (every 45 ms) and
// without it; the memory it adds; and how long it takes to catch up with a long run when opened,
// with the longest the event loop waited meanwhile.
//
// bench_wallpanel [--records N] [--seconds S]   (defaults: 1000000 records before, 20 s each way)
#include "analysis/panels/walltestchart.h"
#include "analysis/panels/walltestpanel.h"
#include "bench/support/measuring.h"
#include "support/recordedrun.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double LineRate = 96;      // records a second, the most 9600 baud carries
constexpr int RedrawIntervalMs = 45; // the charts' redraw pace

using bench::processCpuSeconds;
using bench::residentBytes;

// A four-sensor run as the acquisition window holds it: a wall that settles under a daily swing,
// with noise on every channel (the hard case: R moves at every record).
struct Run : RecordedRun
{
    std::mt19937 random{12345};
    std::normal_distribution<double> noise{0, 0.05};

    explicit Run(int room)
    {
        time.reserve(room);
        for (QVector<double> &c : channels)
            c.reserve(room);
    }
    void append()
    {
        const double t = time.size() / LineRate;
        const double day = std::sin(2 * M_PI * t / 86400);
        const double warm = 20 + noise(random), cold = -2 + 5 * day + noise(random);
        RecordedRun::append(t, {8 + 2 * day + noise(random), warm, 9 + 2 * day + noise(random), cold,
                                10 + 2 * day + noise(random), warm + 0.1, 11 + 2 * day + noise(random),
                                cold - 0.1});
    }
};

// Runs the event loop for seconds while records arrive at LineRate and `tick` is called at the
// redraw pace; returns the program's CPU share of one core.
double cpuShareWhileGrowing(Run *run, double seconds, const std::function<void()> &tick)
{
    QElapsedTimer clock;
    clock.start();
    const int first = run->time.size();
    QTimer arrivals;
    arrivals.setTimerType(Qt::PreciseTimer);
    QObject::connect(&arrivals, &QTimer::timeout, [&] {
        while (run->time.size() - first < int(clock.elapsed() * LineRate / 1000))
            run->append();
    });
    arrivals.start(10);
    QTimer redraws;
    QObject::connect(&redraws, &QTimer::timeout, tick);
    redraws.start(RedrawIntervalMs);
    const double cpu0 = processCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    return (processCpuSeconds() - cpu0) / (double(clock.elapsed()) / 1000);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&args](const char *name, double fallback) {
        const int i = args.indexOf(QLatin1String(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1].toDouble() : fallback;
    };
    const int records = int(option("--records", 1e6));
    const double seconds = option("--seconds", 20);

    Run run(records + int(3 * seconds * LineRate) + 1024);
    for (int i = 0; i < records; ++i)
        run.append();
    std::printf("A four-sensor run of %d records (%.1f h at %.0f records/s)\n", records,
                records / LineRate / 3600, LineRate);

    // A panel on an empty run first: what a panel window costs whatever the run (fonts, style,
    // buffers), so that the panel opened next shows what the run's length adds.
    {
        Run empty(0);
        WallTestPanel first(empty.view(), [] { return 4; }, {});
        first.show();
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();

    // Opening the panel on the run: caught up in slices while a 1-ms timer watches the event loop.
    const double before = residentBytes();
    QElapsedTimer clock;
    clock.start();
    WallTestPanel panel(run.view(), [] { return 4; }, {});
    panel.show();
    const qint64 openingMs = clock.elapsed();
    const qint64 takenAtOnce = panel.analysis().takenFromSeries();
    const double cpu0 = processCpuSeconds();
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    std::vector<qint64> waits;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        waits.push_back(sinceTurn.restart());
        if (!panel.isCatchingUp())
            QCoreApplication::exit();
    });
    watch.start(1);
    app.exec();
    watch.stop();
    const double catchUpCpu = processCpuSeconds() - cpu0;
    std::sort(waits.begin(), waits.end());
    const qint64 longestWait = waits.empty() ? 0 : waits.back();
    const qint64 mostWaits = waits.empty() ? 0 : waits[waits.size() * 99 / 100];
    std::printf("Opening the panel: %lld ms to the first turn of the event loop (the window and a first "
                "slice of %lld records)\n",
                openingMs, takenAtOnce);
    std::printf(
        "Catching up with the rest: %.2f s (%.2f s of CPU, %.0f ns a record); the event loop waited at "
        "most %lld ms between turns, 99 %% of the waits at most %lld ms\n",
        double(clock.elapsed() - openingMs) / 1000, catchUpCpu,
        records > takenAtOnce ? catchUpCpu * 1e9 / double(records - takenAtOnce) : 0.0, longestWait,
        mostWaits);
    std::printf("Memory the open panel added: %.1f MB (%.2f B a record)\n", (residentBytes() - before) / 1e6,
                records > 0 ? (residentBytes() - before) / records : 0.0);
    QEventLoop settle; // until the chart has drawn the last of the catching up
    QTimer::singleShot(2 * WallTestChart::MinRedrawIntervalMs, &settle, &QEventLoop::quit);
    settle.exec();

    // Growing at 96 records/s, without the panel kept up and with it, twice each way. The panel
    // stays open: when it is not kept up it takes no records and draws nothing.
    double without = 0, with = 0;
    for (int round = 0; round < 2; ++round) {
        without += cpuShareWhileGrowing(&run, seconds / 2, [] {});
        with += cpuShareWhileGrowing(&run, seconds / 2, [&panel] { panel.catchUp(); });
    }
    without /= 2;
    with /= 2;
    std::printf("At %.0f records/s for %.0f s each way: whole program %.2f %% of a core without the panel, "
                "%.2f %% with it open and kept up every %d ms: the panel costs %.2f %% of a core\n",
                LineRate, seconds, 100 * without, 100 * with, RedrawIntervalMs, 100 * (with - without));
    std::printf("One drawing of the R(t) chart (%d points): %.1f ms\n",
                panel.findChild<WallTestChart *>()->pointsShown(),
                panel.findChild<WallTestChart *>()->replotTime());
    std::printf("Records taken by the panel: %lld of %d\n", panel.analysis().takenFromSeries(),
                run.time.size());
    return 0;
}

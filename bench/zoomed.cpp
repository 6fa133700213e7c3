// SPDX-License-Identifier: GPL-3.0-or-later
// A zoomed view of a long run that keeps the newest records in it: a 10-second window, moved on
// when the records reach its last second (as an operator following them would drag it). Each
// move is a change of view, drawn whole; in between records are drawn as they arrive.
#include "acquisition/window2.h"
#include "bench/scenarios.h"
#include "charts/chartfeeder.h"

#include <QTimer>
#include <qcustomplot.h>

#include <cstdio>

namespace bench {

void zoomedScenario(Bench &bench, const Options &, double linesPerSecond, double seconds)
{
    constexpr double Window = 10;
    ChartFeeder *feeder = bench.feeder();
    const QVector<double> &times = bench.window->recordedTimes();
    int moves = 0;
    auto showFrom = [&](double lower) {
        for (int chart = 0; chart < 2; ++chart)
            feeder->chart(chart)->xAxis->setRange(lower, lower + Window);
        feeder->setFollowing(false);
        feeder->redraw();
        ++moves;
    };
    showFrom(times.isEmpty() ? 0 : times.last() - 1);
    QTimer follow;
    QObject::connect(&follow, &QTimer::timeout, [&] {
        if (!times.isEmpty() && times.last() > feeder->chart(0)->xAxis->range().upper - 1)
            showFrom(times.last() - 1);
    });
    follow.start(100);
    const int records = bench.records();
    const LineRateFigures f = bench.atLineRate(seconds, linesPerSecond);
    follow.stop();
    std::printf("\nZoomed in: a %.0f-second window of the run of %d records, kept on the newest records\n",
                Window, records);
    printLineRate("zoomed", f, linesPerSecond);
    std::printf("  the view was moved on %d times (each drawn whole)\n", moves);
    feeder->setFollowing(true);
    feeder->redraw();
    goals().push_back(
        {QStringLiteral("whole-program CPU in a zoomed view of a run of %1 records, N = %2, %3 lines/s")
             .arg(records)
             .arg(bench.sensors())
             .arg(linesPerSecond, 0, 'f', 0),
         QStringLiteral("%1 % (X server %2 %) [load %3]")
             .arg(f.cpuShare * 100, 0, 'f', 1)
             .arg(f.xShare * 100, 0, 'f', 1)
             .arg(f.loadBefore),
         QStringLiteral("at most 4 %")});
}

} // namespace bench

// SPDX-License-Identifier: GPL-3.0-or-later
// A run from its first record, as every run starts: few records per pixel column, so the curves
// are mostly lines, and the time axis moves on in steps once the records pass its first 30 s.
#include "acquisition/window2.h"
#include "bench/scenarios.h"
#include "charts/chartfeeder.h"

#include <qcustomplot.h>

#include <cstdio>

namespace bench {

void startOfRunScenario(const Options &options, int sensors, double linesPerSecond, double seconds)
{
    std::printf(
        "\nStart of a run: N = %d, %.0f lines/s from the first record for %.0f s, following the run\n",
        sensors, linesPerSecond, seconds);
    Bench bench(sensors, options.x);
    int wholeRedraws = 0;
    QObject::connect(bench.feeder()->chart(0), &QCustomPlot::afterReplot, [&] { ++wholeRedraws; });
    const LineRateFigures f = bench.atLineRate(seconds, linesPerSecond);
    printLineRate("from 0 records", f, linesPerSecond);
    std::printf("  %llu redraws, %d of them drawn whole (the time axis moved on)\n",
                (unsigned long long)f.redraws, wholeRedraws);
    const QString what = QStringLiteral("start of a run, N = %1, %2 lines/s, %3 s")
                             .arg(sensors)
                             .arg(linesPerSecond, 0, 'f', 0)
                             .arg(seconds, 0, 'f', 0);
    goals().push_back({QStringLiteral("whole-program CPU, ") + what,
                       QStringLiteral("%1 % (X server %2 %) [load %3]")
                           .arg(f.cpuShare * 100, 0, 'f', 1)
                           .arg(f.xShare * 100, 0, 'f', 1)
                           .arg(f.loadBefore),
                       QStringLiteral("at most 4 %")});
    goals().push_back({QStringLiteral("time stamps, 99th percentile lateness beyond a plain reader, ") + what,
                       QStringLiteral("%1 ms (%2 ms against %3 ms)")
                           .arg(f.p99StampMs - f.plainP99Ms, 0, 'f', 2)
                           .arg(f.p99StampMs, 0, 'f', 2)
                           .arg(f.plainP99Ms, 0, 'f', 2),
                       QStringLiteral("at most 2 ms")});
}

} // namespace bench

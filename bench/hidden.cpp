// SPDX-License-Identifier: GPL-3.0-or-later
// Nobody sees the acquisition window while the unit sends: unmapped (what a window manager does
// to a minimised window), then covered whole by another window. Records, the live recording and
// the charts' summaries go on; nothing is drawn until the window is seen again.
#include "acquisition/window2.h"
#include "bench/scenarios.h"
#include "charts/chartfeeder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <cstdio>

namespace bench {
namespace {

bool waitForSeen(const ChartFeeder *feeder, bool seen)
{
    QElapsedTimer waited;
    waited.start();
    while (feeder->isSeen() != seen && waited.elapsed() < 3000)
        Bench::settle(20);
    return feeder->isSeen() == seen;
}

void measureUnseen(Bench &bench, const char *how, double linesPerSecond, double seconds)
{
    if (!waitForSeen(bench.feeder(), false)) {
        std::printf("  %s: the program still counts the window as seen; not measured\n", how);
        return;
    }
    const LineRateFigures f = bench.atLineRate(seconds, linesPerSecond);
    printLineRate(how, f, linesPerSecond);
    goals().push_back({QStringLiteral("whole-program CPU, window %1, N = %2, %3 lines/s")
                           .arg(QLatin1String(how))
                           .arg(bench.sensors())
                           .arg(linesPerSecond, 0, 'f', 0),
                       QStringLiteral("%1 % (X server %2 %), %3 redraws [load %4]")
                           .arg(f.cpuShare * 100, 0, 'f', 2)
                           .arg(f.xShare * 100, 0, 'f', 2)
                           .arg(f.redraws)
                           .arg(f.loadBefore),
                       QStringLiteral("at most 1 %")});
}

void reportShownAgain(Bench &bench, quint64 redrawsBefore)
{
    const bool seen = waitForSeen(bench.feeder(), true);
    std::printf("  seen again: %s, %llu redraw(s) on being shown\n", seen ? "yes" : "no",
                (unsigned long long)(bench.feeder()->redrawCount() - redrawsBefore));
}

} // namespace

void hiddenScenario(Bench &bench, const Options &options, double linesPerSecond, double seconds)
{
    std::printf("\nNobody sees the window: N = %d, %.0f lines/s, run of %d records\n", bench.sensors(),
                linesPerSecond, bench.records());
    Window2 *window = bench.window;
    if (!options.x) {
        window->showMinimized();
        measureUnseen(bench, "minimised", linesPerSecond, seconds);
        const quint64 before = bench.feeder()->redrawCount();
        window->showNormal();
        reportShownAgain(bench, before);
        return;
    }
    // Unmapped as a window manager unmaps a minimised window.
    setMapped(*options.x, quint32(window->winId()), false);
    measureUnseen(bench, "unmapped", linesPerSecond, seconds);
    const quint64 unmappedBefore = bench.feeder()->redrawCount();
    setMapped(*options.x, quint32(window->winId()), true);
    reportShownAgain(bench, unmappedBefore);

    QWidget cover;
    cover.setGeometry(window->frameGeometry().adjusted(-20, -20, 20, 20));
    cover.show();
    cover.raise();
    measureUnseen(bench, "covered", linesPerSecond, seconds);
    const quint64 before = bench.feeder()->redrawCount();
    cover.hide();
    reportShownAgain(bench, before);
}

} // namespace bench

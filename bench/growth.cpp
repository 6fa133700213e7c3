// SPDX-License-Identifier: GPL-3.0-or-later
// The recording as it grows: at each size the whole program's CPU share and drawing's while the
// unit sends 96 lines/s, redraws per second, one redraw of both charts against the same charts
// empty, how late the time stamps are, CPU per record; then memory per record, CSV save speed and
// a save in the middle of the run.
#include "acquisition/window2.h"
#include "bench/scenarios.h"
#include "charts/chartfeeder.h"
#include "charts/envelopegraph.h"
#include "data/csvwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace bench {
namespace {

// One redraw of both charts: the CPU time it takes (the median of many), so that other programs
// on the machine do not count. Unchanged: the charts redrawn with nothing new, as they are;
// UnchangedWhole: the same, everything drawn anew (axes, grid and labels too). AfterRecord: after
// a record arrived; a redraw draws only the curves, and of them only the columns new records
// changed. Whole: everything drawn anew, as after the time axis moved on a step or a value axis
// widened.
enum class Redraw
{
    Unchanged,
    UnchangedWhole,
    AfterRecord,
    Whole
};
double redrawMillis(Bench &bench, int samples, Redraw kind, int *partialRedraws = nullptr)
{
    const bool whole = kind == Redraw::Whole || kind == Redraw::UnchangedWhole;
    std::vector<double> costs;
    for (int i = 0; i < samples; ++i) {
        if (kind == Redraw::AfterRecord || kind == Redraw::Whole) {
            // Drawn just now: the record's own paced redraw is not due before it is measured.
            bench.feeder()->redraw();
            const int before = bench.records();
            bench.pty.write(bench.maker.next());
            while (bench.records() == before)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const double cpu0 = threadCpuSeconds();
        bench.feeder()->redraw(whole);
        costs.push_back((threadCpuSeconds() - cpu0) * 1e3);
        const auto *g = qobject_cast<EnvelopeGraph *>(bench.feeder()->chart(0)->graph(0));
        if (partialRedraws && g && g->bandCanvas().lastRewrittenFrom() > 0)
            ++*partialRedraws;
    }
    return median(costs);
}

// "Save as..." in the middle of the unit sending at 96 lines/s: how long the save took, and how
// late the records that came meanwhile were stamped (ms, the latest).
double latestStampDuringSave(Bench &bench, const QString &fileName, double *saveSecs)
{
    const int first = bench.records();
    // Long enough for the save (about 3 s at 1e7 records) and a second or more on either side.
    const qint64 lines = qint64((2.0 + double(first) / 1e6) * FullLineRate);
    std::vector<Clock::time_point> written;
    written.reserve(size_t(lines));
    QElapsedTimer saving;
    {
        Writer writer(bench.pty.masterDescriptor(), &bench.maker, FullLineRate, lines, &written);
        QTimer::singleShot(1000, [&] {
            saving.start();
            QString error;
            if (!bench.window->saveRun(fileName, &error))
                std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
            *saveSecs = double(saving.nsecsElapsed()) / 1e9;
        });
        while (!writer.finished() || bench.records() < first + int(lines))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const std::vector<double> late = bench.lateness(first, written, 1);
    return late.empty() ? 0 : late.back();
}

double saveSeconds(const Window2 *w, int sensors, const QString &fileName, QByteArray *bytes)
{
    RecordedSeries series;
    series.time = &w->recordedTimes();
    for (int k = 1; k <= 8; ++k)
        series.channels[size_t(k - 1)] = &w->channelSeries(k);
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!saveCsv(fileName, series, sensors, &error))
        std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
    const double secs = double(timer.nsecsElapsed()) / 1e9;
    QFile f(fileName);
    if (f.open(QIODevice::ReadOnly))
        *bytes = f.readAll();
    return secs;
}

// The floor: the same bytes written from memory with one plain write, made durable as a save is.
double plainWriteSeconds(const QByteArray &bytes, const QString &fileName)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char *p = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n <= 0 && errno != EINTR)
            break;
        if (n > 0) {
            p += n;
            left -= size_t(n);
        }
    }
    ::fsync(fd);
    ::close(fd);
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

void growthScenario(Bench &bench, const Options &options, const std::function<void(int size)> &atSize)
{
    QList<int> sizes{5000, 100000, 1000000};
    if (options.quick)
        sizes = {5000, 100000};
    if (options.longRun)
        sizes.append(10000000);
    const double liveSeconds = options.quick ? 5 : 20;
    const double loadRate = 20000; // lines/s while the recording is filled up to the next size

    std::printf("\nThe recording as it grows (N = %d sensors, all shown; %.0f lines/s at each size)\n",
                bench.sensors(), FullLineRate);
    // The ratios' base: both charts empty, drawn whole (axes, grid, labels and the empty curves).
    const double emptyRedraw = redrawMillis(bench, 31, Redraw::UnchangedWhole);
    std::printf("One redraw of both charts, empty: %.2f ms drawn whole; %.3f ms redrawn as they are (the "
                "curves' layer)\n",
                emptyRedraw, redrawMillis(bench, 31, Redraw::Unchanged));
    std::fflush(stdout);
    const double rss0 = residentBytes();

    std::vector<GrowthRow> rows;
    for (int size : sizes) {
        const int toLoad = size - bench.records();
        double loadLatest = 0;
        const double loadSecs = toLoad > 0 ? bench.load(toLoad, loadRate, &loadLatest) : 0;
        const QVector<double> &t = bench.window->recordedTimes();
        std::printf("\n%d records (%d loaded in %.1f s at up to %.0f lines/s, time stamps late by %.1f ms at "
                    "most; time axis 0 to %.1f s)\n",
                    size, toLoad, loadSecs, loadRate, loadLatest, t.isEmpty() ? 0.0 : t.last());
        GrowthRow row{size, 0, 0, 0, {}};
        Bench::settle(3000);
        row.live = bench.atLineRate(liveSeconds);
        printLineRate("following the run", row.live, FullLineRate);
        // Right after the steady flow (a pause before would put a line across the gap at the
        // run's end, which is drawn whole until the run has moved on past it).
        int partial = 0;
        row.redrawMs = redrawMillis(bench, 31, Redraw::AfterRecord, &partial);
        row.wholeRedrawMs = redrawMillis(bench, 31, Redraw::Whole);
        std::printf(
            "  one redraw of both charts after a new record: %.2f ms (%.1f x empty); drawn whole "
            "(after the time axis moved on): %.2f ms (%.1f x empty); %d of 31 drew only what changed\n",
            row.redrawMs, row.redrawMs / emptyRedraw, row.wholeRedrawMs, row.wholeRedrawMs / emptyRedraw,
            partial);
        std::fflush(stdout);
        row.perRecordUs = bench.perRecordMicros(300);
        std::printf("  CPU per record, redraws excluded: %.0f us\n", row.perRecordUs);
        std::fflush(stdout);
        rows.push_back(row);
        if (size == sizes.last() || size == 1000000) {
            const double perRecordBytes = (residentBytes() - rss0) / double(bench.records());
            std::printf("  memory per recorded record: %.0f bytes (resident growth; the series' room is "
                        "reserved before the first record, so only what records use counts)\n",
                        perRecordBytes);
            if (size == sizes.last())
                goals().push_back({QStringLiteral("memory per recorded record, N = 4 (%1 records)").arg(size),
                                   QStringLiteral("%1 B").arg(perRecordBytes, 0, 'f', 0),
                                   QStringLiteral("at most 90 B")});
        }
        atSize(size);
    }
    const int recorded = bench.records();

    QTemporaryDir dir;
    QByteArray bytes;
    const double save =
        saveSeconds(bench.window, bench.sensors(), dir.filePath(QStringLiteral("save.csv")), &bytes);
    const double plain = plainWriteSeconds(bytes, dir.filePath(QStringLiteral("plain.csv")));
    std::printf("\nCSV save of %d records (%.1f MB): %.3f s; one plain write of the same bytes: %.3f s; "
                "ratio %.2f\n",
                recorded, double(bytes.size()) / 1e6, save, plain, save / plain);
    double savingSecs = 0;
    const double duringSave =
        latestStampDuringSave(bench, dir.filePath(QStringLiteral("saveas.csv")), &savingSecs);
    std::printf("Save as of %d records while the unit sends %.0f lines/s: %.3f s; the records that came "
                "meanwhile were stamped %.1f ms late at most\n",
                recorded, FullLineRate, savingSecs, duringSave);

    // The same charts empty again (Reset), measured as at the start; ratios are against the lesser.
    bench.resetRun();
    const double emptyAfter = redrawMillis(bench, 31, Redraw::UnchangedWhole);
    const double empty = std::min(emptyRedraw, emptyAfter);
    std::printf("One redraw of both charts, empty after Reset: %.2f ms drawn whole\n", emptyAfter);

    std::printf(
        "\n| records recorded | whole program CPU | X server | drawing | redraws per second | one redraw "
        "of both charts after a record | drawn whole | time stamps late, 99 %% / latest (plain "
        "reader) | CPU per record, redraws excluded |\n"
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const GrowthRow &r : rows) {
        std::printf(
            "| %d | %.1f %% | %.1f %% | %.1f %% | %.1f | %.2f ms (%.1fx empty) | %.2f ms (%.1fx) | %.1f / "
            "%.1f ms (%.1f / %.1f ms) | %.0f us |\n",
            r.records, r.live.cpuShare * 100, r.live.xShare * 100, r.live.drawShare * 100,
            r.live.redrawsPerSecond, r.redrawMs, r.redrawMs / empty, r.wholeRedrawMs, r.wholeRedrawMs / empty,
            r.live.p99StampMs, r.live.latestStampMs, r.live.plainP99Ms, r.live.plainLatestMs, r.perRecordUs);
    }
    std::printf("\nOne redraw of both charts empty, drawn whole: %.2f ms (the lesser of before loading and "
                "after Reset).\n",
                empty);
    for (const GrowthRow &r : rows) {
        if (r.records != 1000000 && r.records != 10000000)
            continue;
        const QString at = r.records == 1000000 ? QStringLiteral("1e6") : QStringLiteral("1e7");
        goals().push_back(
            {QStringLiteral("one redraw of both charts at %1 noisy records / the same charts empty").arg(at),
             QStringLiteral("%1x (drawn whole %2x)")
                 .arg(r.redrawMs / empty, 0, 'f', 1)
                 .arg(r.wholeRedrawMs / empty, 0, 'f', 1),
             QStringLiteral("at most 10x")});
        if (r.records != 1000000)
            continue;
        goals().push_back(
            {QStringLiteral("whole-program CPU at 1e6 records, N = 4, 96 lines/s (X server beside it)"),
             QStringLiteral("%1 % (X server %2 %)")
                 .arg(r.live.cpuShare * 100, 0, 'f', 1)
                 .arg(r.live.xShare * 100, 0, 'f', 1),
             QStringLiteral("at most 4 %")});
        goals().push_back({QStringLiteral("redraws per second at 1e6 records, 96 lines/s"),
                           QString::number(r.live.redrawsPerSecond, 'f', 1), QStringLiteral("at least 20")});
    }
}

} // namespace bench

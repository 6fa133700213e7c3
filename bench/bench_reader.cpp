// SPDX-License-Identifier: GPL-3.0-or-later
// Prints how fast a recording is read back and what it holds in memory, beside reading the same
// file with `cat > /dev/null`, and how long statistics over a stretch of it take.
// Files of 1e6 and 1e7 rows, N = 4, noisy values as the unit sends them, are written to a
// temporary folder first (about 70 MB and 760 MB). --quick stops at 1e6 rows.
#include "analysis/runstatistics.h"
#include "bench/support/measuring.h"
#include "bench/support/runfile.h"
#include "data/recordingreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using bench::resetPeak;
using bench::statusBytes;
using bench::threadCpuSeconds;

void measureStatistics(const RecordingData &data)
{
    RunStatistics statistics;
    statistics.setSeries(data.series(), 2 * data.sensorCount);
    QElapsedTimer timer;
    timer.start();
    statistics.update();
    const double build = double(timer.nsecsElapsed()) / 1e6;

    // Random stretches, from a few samples to the whole run: the median and the slowest, in
    // elapsed time and in the thread's CPU time (which a busy machine's preemptions leave out).
    std::mt19937_64 random(7);
    const double end = data.time.last();
    std::uniform_real_distribution<double> at(0.0, end);
    std::vector<double> times;
    std::vector<double> cpuTimes;
    double sink = 0;
    for (int i = 0; i < 200; ++i) {
        double from = at(random);
        double to = at(random);
        if (from > to)
            std::swap(from, to);
        if (i == 0) {
            from = 0;
            to = end;
        }
        timer.restart();
        const double cpuBefore = threadCpuSeconds();
        const StretchStatistics s = statistics.compute(from, to);
        cpuTimes.push_back((threadCpuSeconds() - cpuBefore) * 1e3);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        sink += s.channels.isEmpty() ? 0 : double(s.channels[0].samples);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    std::printf("  statistics: block summaries of the whole run built in %.1f ms; a stretch takes %.3f ms "
                "(median of 200), %.3f ms at most; in CPU time %.3f ms and %.3f ms at most%s\n",
                build, times[times.size() / 2], times.back(), cpuTimes[cpuTimes.size() / 2], cpuTimes.back(),
                sink > 0 ? "" : " (no samples?)");
}

bool measure(const QString &folder, int rows)
{
    const RunFile file = prepareRunFile(folder, rows);
    if (file.path.isEmpty())
        return false;

    const double before = statusBytes("VmRSS:");
    resetPeak();
    const double peakBefore = statusBytes("VmHWM:");
    RecordingData data;
    RecordingReader reader;
    int progressCalls = 0;
    reader.setProgress([&](qint64, qint64) { ++progressCalls; });
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = threadCpuSeconds();
    const RecordingReadReport report = reader.read(file.path, &data);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = threadCpuSeconds() - cpuBefore;
    const double held = statusBytes("VmRSS:") - before;
    const double peak = statusBytes("VmHWM:") - peakBefore;
    if (!report.ok() || report.rows != rows) {
        std::fprintf(stderr, "read %lld rows of %d: %s\n", report.rows, rows,
                     qPrintable(report.errorMessage()));
        return false;
    }
    std::printf(
        "%d rows, N = %d, %.1f MB: read in %.3f s, %.3f s of CPU (%.0f MB/s; cat > /dev/null: %.3f s); "
        "%.1f B per row held (peak %.1f B per row while reading); %d progress calls\n",
        rows, RunFileSensors, file.bytes / 1e6, seconds, cpu, file.bytes / 1e6 / seconds, file.catSeconds,
        held / rows, peak / rows, progressCalls);
    measureStatistics(data);
    QFile::remove(file.path);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    for (int rows : {1000000, 10000000}) {
        if (quick && rows > 1000000)
            break;
        if (!measure(dir.path(), rows))
            return 1;
    }
    return 0;
}

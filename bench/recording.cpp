// SPDX-License-Identifier: GPL-3.0-or-later
// The live recording's cost: the same short run with it (in a folder) and without it (its folder
// made impossible), and RecordingFile::append alone.
#include "acquisition/runsafety/liverecorder.h"
#include "bench/scenarios.h"
#include "data/recordingfile.h"
#include "data/recordingsfolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace bench {
namespace {

struct RecordingCost
{
    bool recording = false;
    double perRecordUs = 0, cpuShare = 0, syncsPerSecond = 0;
};

RecordingCost recordingCost(const Options &options, const QString &folder, double seconds)
{
    setRecordingsFolder(folder);
    Bench bench(4, options.x);
    bench.load(20000, 20000);
    Bench::settle(2000);
    RecordingCost cost;
    cost.perRecordUs = bench.perRecordMicros(1000);
    const quint64 syncs0 = bench.syncs();
    QElapsedTimer wall;
    wall.start();
    cost.cpuShare = bench.atLineRate(seconds).cpuShare;
    cost.syncsPerSecond = double(bench.syncs() - syncs0) / (double(wall.nsecsElapsed()) / 1e9);
    cost.recording = bench.recording();
    return cost;
}

// The caller's share of recording a record: RecordingFile::append alone, many times over
// (nanoseconds of the calling thread's CPU per record, N = 4).
double appendNanos(const QString &folder, int count)
{
    RecordingFile file;
    RecordingInfo info;
    info.start = QDateTime::currentDateTime();
    info.sensorCount = 4;
    if (!file.open(folder, info))
        return -1;
    RecordValues values{};
    const double cpu0 = threadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 8; ++k)
            values[size_t(k)] = 20 + 0.01 * double((i + k) % 1000);
        file.append(0.01 * i, values, 8);
    }
    const double nanos = (threadCpuSeconds() - cpu0) * 1e9 / count;
    file.close();
    return nanos;
}

} // namespace

void recordingScenario(const Options &options)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
    if (!blocker.open(QIODevice::WriteOnly))
        return;
    blocker.close();
    const double seconds = options.quick ? 5 : 15;
    const RecordingCost on = recordingCost(options, dir.filePath(QStringLiteral("on")), seconds);
    const RecordingCost off =
        recordingCost(options, dir.filePath(QStringLiteral("not-a-folder/recordings")), seconds);
    if (!on.recording || off.recording) {
        std::fprintf(stderr, "the live recording was not on and off as meant\n");
        return;
    }
    std::printf("\nLive recording, 20,000 records recorded, %.0f lines/s for %.0f s:\n"
                "| | GUI thread CPU per record, redraws excluded | whole program CPU | syncs per second |\n"
                "|---|---:|---:|---:|\n"
                "| recording | %.1f us | %.1f %% | %.2f |\n| not recording | %.1f us | %.1f %% | %.2f |\n",
                FullLineRate, seconds, on.perRecordUs, on.cpuShare * 100, on.syncsPerSecond, off.perRecordUs,
                off.cpuShare * 100, off.syncsPerSecond);
    std::printf("RecordingFile::append alone: %.0f ns of the calling thread's CPU per record (N = 4)\n",
                appendNanos(dir.filePath(QStringLiteral("append")), 200000));
}

} // namespace bench

// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing's cost: the same run at the unit's full line rate without publishing and published to
// a local mosquitto, side by side (whole program CPU, time stamps); then a backlog of 1e6 records
// read back from a recording and published as after a long outage.
#include "bench/scenarios.h"

#ifndef QUELLSPAN_BENCH_PUBLISHING
#include <cstdio>

void bench::publishingScenario(const Options &)
{
    std::printf("\nPublishing: not measured (it needs the tests' broker helper: build with the tests).\n");
}
#else
#include "data/csvnumber.h"
#include "publish/publisher.h"
#include "publish/ui/runpublisher.h"
#include "support/testbroker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace bench {
namespace {

LineRateFigures runAt(const Options &options, const PublishChoice &choice, double seconds)
{
    RunPublisher::setCommandLineChoice(choice);
    Bench bench(4, options.x);
    bench.load(5000, 5000);
    Bench::settle(2000);
    return bench.atLineRate(seconds);
}

} // namespace

bool writeRecording(const QString &path, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray lines;
    double values[8];
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 8; ++k)
            values[k] = (k % 2 ? 21.0 : 150.0) + 0.01 * double((i * 7 + k) % 1000);
        appendCsvLine(&lines, 0.0104 * i, values, 8);
        if (lines.size() > (1 << 20)) {
            file.write(lines);
            lines.clear();
        }
    }
    file.write(lines);
    return true;
}

void publishingScenario(const Options &options)
{
    TestBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "publishing: no broker: %s\n", qPrintable(broker.errorString()));
        return;
    }
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1/bench/rig").arg(broker.port());
    const double seconds = options.quick ? 10 : 30;
    // Side by side, twice each, so that a change of the machine's load shows.
    LineRateFigures off[2], on[2];
    for (int round = 0; round < 2; ++round) {
        off[round] = runAt(options, PublishChoice{false, url, QString()}, seconds);
        on[round] = runAt(options, PublishChoice{true, url, QString()}, seconds);
    }
    RunPublisher::setCommandLineChoice(PublishChoice{false, QString(), QString()});
    std::printf("\nPublishing to a local mosquitto, N = 4, %.0f lines/s for %.0f s each, alternating:\n"
                "| | whole program CPU | stamps p99 | latest stamp | plain reader p99 | load before |\n"
                "|---|---:|---:|---:|---:|---|\n",
                FullLineRate, seconds);
    for (int round = 0; round < 2; ++round) {
        for (const auto &[label, f] : {std::pair<const char *, LineRateFigures>{"not publishing", off[round]},
                                       std::pair<const char *, LineRateFigures>{"publishing", on[round]}}) {
            std::printf("| %s | %.2f %% | %.0f ms | %.0f ms | %.0f ms | %s |\n", label, f.cpuShare * 100,
                        f.p99StampMs, f.latestStampMs, f.plainP99Ms, qPrintable(f.loadBefore));
        }
    }
    const double addedCpu =
        ((on[0].cpuShare + on[1].cpuShare) - (off[0].cpuShare + off[1].cpuShare)) / 2 * 100;
    const double addedP99 =
        ((on[0].p99StampMs + on[1].p99StampMs) - (off[0].p99StampMs + off[1].p99StampMs)) / 2;
    goals().push_back({QStringLiteral("publishing at %1 records/s: added CPU").arg(FullLineRate),
                       QStringLiteral("%1 % of a core").arg(addedCpu, 0, 'f', 2),
                       QStringLiteral("<= 0.5 %")});
    goals().push_back({QStringLiteral("publishing: added to the stamps' p99"),
                       QStringLiteral("%1 ms").arg(addedP99, 0, 'f', 1), QStringLiteral("<= 1 ms")});

    // The backlog: 1e6 records waiting in the recording, as after a long outage.
    const int backlog = options.quick ? 200000 : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("backlog.csv"));
    if (!writeRecording(path, backlog))
        return;
    PublishSettings settings;
    settings.target.host = QStringLiteral("127.0.0.1");
    settings.target.port = broker.port();
    settings.target.prefix = QStringLiteral("bench/backlog");
    PublishedRun run;
    run.start = QDateTime::currentDateTime();
    run.sensorCount = 4;
    run.recording = QStringLiteral("backlog.csv");
    const double cpu0 = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    Publisher publisher(settings);
    publisher.startRun(run, path, quint64(backlog));
    while (publisher.progress().acknowledgedRecords < quint64(backlog) && clock.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double took = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = processCpuSeconds() - cpu0;
    std::printf("\nBacklog of %d records (N = 4) from the recording to a local mosquitto: %.1f s "
                "(%.0f records/s), %.1f s of this process's CPU (mosquitto's own not counted); load %s\n",
                backlog, took, backlog / took, cpu, qPrintable(loadAverage()));
    goals().push_back({QStringLiteral("publishing: backlog of %1 records to a local broker").arg(backlog),
                       QStringLiteral("%1 s").arg(took, 0, 'f', 1),
                       backlog == 1000000 ? QStringLiteral("<= 60 s") : QStringLiteral("(quick run)")});
}

} // namespace bench
#endif

// SPDX-License-Identifier: GPL-3.0-or-later
// Watching a rig from elsewhere, through a local mosquitto: what a remote window following the
// rig at the unit's full line rate costs, beside what the rig's own program (the acquisition
// window, publishing) costs for the same run; what answering history requests does to the rig's
// time stamps (the askers are processes of their own, as viewers on other computers are); and how
// long a history of 1e6 records takes to reach a viewer, without a window and in a remote window.
#include "bench/scenarios.h"

#ifndef QUELLSPAN_BENCH_PUBLISHING
#include <cstdio>

void bench::remoteScenario(const Options &)
{
    std::printf(
        "\nWatching a rig: not measured (it needs the tests' broker helper: build with the tests).\n");
}
#else
#include "acquisition/window2.h"
#include "publish/publisher.h"
#include "publish/ui/runpublisher.h"
#include "remote/rigfollower.h"
#include "remote/riglink.h"
#include "remote/ui/remotewindow.h"
#include "remote/ui/runview.h"
#include "support/testbroker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace bench {
namespace {

qint64 steadyMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// A viewer without a window: a link and a follower that count what they are handed.
class CountingViewer : public RunSink
{
public:
    explicit CountingViewer(const PublishTarget &target)
    {
        RigLinkSettings settings;
        settings.target = target;
        link = std::make_unique<RigLink>(settings);
        RigLink *l = link.get();
        const QByteArray prefix = target.prefix.toUtf8();
        follower = std::make_unique<RigFollower>(
            target.prefix, this, [l, prefix](HistoryRequest request) { l->ask(prefix, request); }, steadyMs,
            RigFollower::Settings());
        QObject::connect(l, &RigLink::arrived, l, [this] {
            for (RigLink::Incoming &in : link->take()) {
                if (!in.isAnswer)
                    follower->message(in.topic, in.payload, in.retained);
                else if (in.why.isEmpty())
                    follower->answer(in.answer);
                else
                    follower->refusedAnswer(in.topic, in.why);
            }
        });
        QObject::connect(l, &RigLink::connected, l, [this] { follower->linkUp(); });
    }

    Held runSeen(const RigRun &) override { return Held(); }
    void records(const QByteArray &, const RigRecords &r) override { count += quint64(r.rows); }
    void gap(const QByteArray &, quint64 from, quint64 to, const QString &) override { missing += to - from; }
    void event(const QByteArray &, const RigEvent &) override {}
    void runEnded(const QByteArray &, bool) override {}
    void rigStatus(bool, bool) override {}
    void refused(const QByteArray &, const QString &) override { ++refusals; }

    quint64 count = 0, missing = 0, refusals = 0;

private:
    std::unique_ptr<RigFollower> follower;
    std::unique_ptr<RigLink> link; // goes first: nothing more comes to the follower
};

PublishTarget targetOf(const QString &url)
{
    PublishTarget target;
    QString why;
    RigLink::parseUrl(url, false, &target, &why);
    return target;
}

template <typename Done> bool waitFor(Done done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    // Sleeping in the event loop between looks, so that waiting costs no CPU of its own.
    while (!done() && clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

struct Watched
{
    LineRateFigures rig;
    int rigRecords = 0, shownRecords = -1;
};

// The rig (acquisition window, publishing) at the full line rate, with or without a remote window
// in the same process following it.
Watched runWatched(const Options &options, const QString &url, bool window, double seconds)
{
    RunPublisher::setCommandLineChoice(PublishChoice{true, url, QString()});
    Bench bench(4, options.x);
    bench.load(5000, 5000);
    Bench::settle(2000);
    QPointer<RemoteWindow> remote;
    if (window) {
        remote = new RemoteWindow(targetOf(url), QByteArray());
        // Charts of the same size as the acquisition window's: the same drawing to do.
        remote->resize(bench.window->size());
        remote->show();
        waitFor([&] { return remote->shownView() && remote->shownView()->records() >= bench.records(); },
                30000);
        Bench::settle(1000);
    }
    Watched w;
    w.rig = bench.atLineRate(seconds);
    if (remote) {
        Bench::settle(1500);
        w.rigRecords = bench.records();
        w.shownRecords = remote->shownView() ? remote->shownView()->records() : 0;
        delete remote;
    }
    return w;
}

void windowBesideRig(const Options &options, const QString &url)
{
    const double seconds = options.quick ? 10 : 30;
    Watched alone[2], watched[2];
    for (int round = 0; round < 2; ++round) {
        alone[round] = runWatched(options, url, false, seconds);
        watched[round] = runWatched(options, url, true, seconds);
    }
    std::printf("\nA remote window following the rig, in the rig's own process, N = 4, %.0f lines/s for "
                "%.0f s each, alternating:\n"
                "| | whole program CPU | stamps p99 | records shown / at the rig | load before |\n"
                "|---|---:|---:|---:|---|\n",
                FullLineRate, seconds);
    for (int round = 0; round < 2; ++round) {
        std::printf("| rig alone (acquisition window, publishing) | %.2f %% | %.0f ms | | %s |\n",
                    alone[round].rig.cpuShare * 100, alone[round].rig.p99StampMs,
                    qPrintable(alone[round].rig.loadBefore));
        std::printf("| rig and a remote window | %.2f %% | %.0f ms | %d / %d | %s |\n",
                    watched[round].rig.cpuShare * 100, watched[round].rig.p99StampMs,
                    watched[round].shownRecords, watched[round].rigRecords,
                    qPrintable(watched[round].rig.loadBefore));
    }
    const double rig = (alone[0].rig.cpuShare + alone[1].rig.cpuShare) / 2 * 100;
    const double window = (watched[0].rig.cpuShare + watched[1].rig.cpuShare) / 2 * 100 - rig;
    std::printf("Remote window's share: %.2f %% of a core; the rig's own program: %.2f %%\n", window, rig);
    goals().push_back({QStringLiteral("remote window at %1 records/s: CPU").arg(FullLineRate),
                       QStringLiteral("%1 % of a core").arg(window, 0, 'f', 2),
                       QStringLiteral("<= the rig's program, %1 %").arg(rig, 0, 'f', 2)});
}

// The rig at the full line rate while processes of their own ask for its whole history every
// 3 s (each request is the whole run so far), against the same rig not asked.
void historyBesideRig(const Options &options, const TestBroker &broker, const QString &url)
{
    const double seconds = options.quick ? 10 : 30;
    const int history = options.quick ? 30000 : 100000;
    RunPublisher::setCommandLineChoice(PublishChoice{true, url, QString()});
    Bench bench(4, options.x);
    bench.load(history, 20000);
    Bench::settle(5000); // the records loaded reach the broker
    const QString port = QString::number(broker.port());
    const QString prefix = targetOf(url).prefix;
    QTemporaryDir dir;
    LineRateFigures plain[2], asked[2];
    int answers[2] = {0, 0}, messages[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
        plain[round] = bench.atLineRate(seconds);
        const QString heard = dir.filePath(QStringLiteral("answers%1").arg(round));
        QProcess listener;
        listener.setStandardOutputFile(heard);
        listener.start(QStringLiteral("mosquitto_sub"),
                       {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), port,
                        QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"),
                        prefix + QStringLiteral("/history/reply/bench")});
        listener.waitForStarted();
        QProcess asker;
        asker.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("i=0; while :; do mosquitto_pub -h 127.0.0.1 -p %1 -q 1 -t '%2/history/request' "
                            "-m \"{\\\"from\\\":0,\\\"id\\\":\\\"b$i\\\",\\\"reply\\\":\\\"%2/history/reply/"
                            "bench\\\"}\"; i=$((i+1)); sleep 3; done")
                 .arg(port, prefix)});
        asker.waitForStarted();
        Bench::settle(1000);
        asked[round] = bench.atLineRate(seconds);
        asker.kill();
        asker.waitForFinished();
        Bench::settle(500);
        listener.terminate();
        listener.waitForFinished();
        QFile file(heard);
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.atEnd()) {
                const QByteArray line = file.readLine();
                ++messages[round];
                answers[round] += line.contains("\"done\":true") ? 1 : 0;
            }
        }
    }
    std::printf("\nHistory requests answered while the rig runs, N = 4, a run of %d+ records, each request "
                "for all of it, one every 3 s from another process, %.0f lines/s for %.0f s each:\n"
                "| | whole program CPU | stamps p99 | latest stamp | plain reader p99 | answers whole "
                "(messages) | load before |\n|---|---:|---:|---:|---:|---:|---|\n",
                history, FullLineRate, seconds);
    for (int round = 0; round < 2; ++round) {
        std::printf("| not asked | %.2f %% | %.0f ms | %.0f ms | %.0f ms | | %s |\n",
                    plain[round].cpuShare * 100, plain[round].p99StampMs, plain[round].latestStampMs,
                    plain[round].plainP99Ms, qPrintable(plain[round].loadBefore));
        std::printf("| asked | %.2f %% | %.0f ms | %.0f ms | %.0f ms | %d (%d) | %s |\n",
                    asked[round].cpuShare * 100, asked[round].p99StampMs, asked[round].latestStampMs,
                    asked[round].plainP99Ms, answers[round], messages[round],
                    qPrintable(asked[round].loadBefore));
    }
    const double added =
        ((asked[0].p99StampMs + asked[1].p99StampMs) - (plain[0].p99StampMs + plain[1].p99StampMs)) / 2;
    goals().push_back({QStringLiteral("history requests: added to the rig's stamps' p99"),
                       QStringLiteral("%1 ms").arg(added, 0, 'f', 1), QStringLiteral("<= 1 ms")});
}

// A run of count records held by a rig (a publisher reading its recording), asked for whole by a
// viewer that joins once the broker has everything live.
void historyToViewer(const Options &options, const TestBroker &broker)
{
    const int count = options.quick ? 200000 : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.csv"));
    if (!writeRecording(path, count))
        return;
    PublishSettings settings;
    settings.target.host = QStringLiteral("127.0.0.1");
    settings.target.port = broker.port();
    settings.target.prefix = QStringLiteral("bench/history");
    PublishedRun run;
    run.start = QDateTime::currentDateTime();
    run.sensorCount = 4;
    run.recording = QStringLiteral("history.csv");
    Publisher publisher(settings);
    publisher.startRun(run, path, quint64(count));
    if (!waitFor([&] { return publisher.progress().acknowledgedRecords >= quint64(count); }, 600000)) {
        std::printf("\nHistory to a viewer: the rig did not get its run to the broker\n");
        return;
    }
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1/bench/history").arg(broker.port());

    QElapsedTimer clock;
    clock.start();
    double cpu0 = processCpuSeconds();
    double headless = -1, headlessCpu = 0;
    quint64 headlessMissing = 0, headlessRecords = 0;
    {
        CountingViewer viewer(targetOf(url));
        if (waitFor([&] { return viewer.count + viewer.missing >= quint64(count); }, 120000))
            headless = double(clock.nsecsElapsed()) / 1e9;
        headlessCpu = processCpuSeconds() - cpu0;
        headlessMissing = viewer.missing;
        headlessRecords = viewer.count;
    }
    clock.restart();
    cpu0 = processCpuSeconds();
    double windowed = -1, windowCpu = 0;
    int shown = 0;
    {
        QPointer<RemoteWindow> remote = new RemoteWindow(targetOf(url), QByteArray());
        remote->show();
        if (waitFor([&] { return remote->shownView() && remote->shownView()->nextSeq() >= quint64(count); },
                    120000))
            windowed = double(clock.nsecsElapsed()) / 1e9;
        windowCpu = processCpuSeconds() - cpu0;
        shown = remote->shownView() ? remote->shownView()->records() : 0;
        delete remote;
    }
    std::printf(
        "\nA history of %d records (N = 4) from the rig to a viewer through a local mosquitto:\n"
        "| viewer | time | records | missing | this process's CPU (rig's publisher and viewer) | load |\n"
        "|---|---:|---:|---:|---:|---|\n"
        "| without a window (link and follower) | %.1f s | %llu | %llu | %.1f s | %s |\n"
        "| a remote window | %.1f s | %d | | %.1f s | %s |\n",
        count, headless, static_cast<unsigned long long>(headlessRecords),
        static_cast<unsigned long long>(headlessMissing), headlessCpu, qPrintable(loadAverage()), windowed,
        shown, windowCpu, qPrintable(loadAverage()));
    goals().push_back(
        {QStringLiteral("history of %1 records to a remote window on a local broker").arg(count),
         windowed < 0 ? QStringLiteral("not whole in 120 s")
                      : QStringLiteral("%1 s").arg(windowed, 0, 'f', 1),
         count == 1000000 ? QStringLiteral("<= 30 s") : QStringLiteral("(quick run)")});
}

} // namespace

void remoteScenario(const Options &options)
{
    TestBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "watching a rig: no broker: %s\n", qPrintable(broker.errorString()));
        return;
    }
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1/bench/rig").arg(broker.port());
    windowBesideRig(options, url);
    std::fflush(stdout);
    historyBesideRig(options, broker, url);
    std::fflush(stdout);
    RunPublisher::setCommandLineChoice(PublishChoice{false, QString(), QString()});
    historyToViewer(options, broker);
    std::fflush(stdout);
}

} // namespace bench
#endif

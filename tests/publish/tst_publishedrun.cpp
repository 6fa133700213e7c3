// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program publishing (quellspan-demo --autopilot --publish): a run published through a
// connection cut for ten seconds reaches a subscriber whole and ends with "offline"; a killed
// program shows "offline" (the last will), and its recording, recovered at the next start, is not
// published again.
#include "support/testbroker.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

namespace {

QStringList csvFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
}

qint64 seqOf(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object().value("seq").toVariant().toLongLong();
}

} // namespace

class TstPublishedRun : public QObject
{
    Q_OBJECT

private slots:
    void runThroughACutArrivesWhole();
    void killedProgramShowsOfflineAndIsNotRepublished();
    void askedToQuitSaysOffline();
};

void TstPublishedRun::runThroughACutArrivesWhole()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TcpRelay relay(broker.port());
    TestSubscriber subscriber(broker.port(), QStringLiteral("e2e/#"));
    QVERIFY(subscriber.waitSubscribed());
    QTemporaryDir out, recordings;
    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(QStringLiteral(DEMO_PROGRAM),
               {"--autopilot", out.path(), "--seconds", "30", "--sensors", "2", "--recordings",
                recordings.path(), "--publish", QStringLiteral("mqtt://127.0.0.1:%1/e2e").arg(relay.port())});
    QVERIFY(demo.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.payloads("e2e/data").size() >= 10, 20000);
    relay.cut();
    QTest::qWait(10000);
    const int duringCut = subscriber.payloads("e2e/data").size();
    QVERIFY(relay.restore());
    // The relay works on this thread's event loop: waiting must keep it turning.
    QTRY_COMPARE_WITH_TIMEOUT(demo.state(), QProcess::NotRunning, 60000);
    QCOMPARE(demo.exitCode(), 0);

    const QStringList files = csvFiles(recordings.path());
    QCOMPARE(files.size(), 1);
    QFile csv(QDir(recordings.path()).filePath(files.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = csv.readAll().split('\n');
    lines.removeLast();
    QVERIFY(lines.size() > 100); // the unit sends about 10 records a second
    std::map<qint64, QByteArray> bySeq;
    for (const QByteArray &payload : subscriber.payloads("e2e/data"))
        bySeq.emplace(seqOf(payload), payload);
    QCOMPARE(bySeq.size(), size_t(lines.size()));
    for (int i = 0; i < lines.size(); ++i) {
        const QJsonObject record = QJsonDocument::fromJson(bySeq[i]).object();
        const QList<QByteArray> fields = lines[i].split(',');
        QCOMPARE(record.value("seq").toInt(), i);
        QCOMPARE(record.value("t").toDouble(), fields[0].toDouble());
        QCOMPARE(record.value("T2").toDouble(), fields[4].toDouble());
    }
    QVERIFY(duringCut < lines.size() - 50); // the cut held many back
    const QJsonObject run = QJsonDocument::fromJson(subscriber.payloads("e2e/run").last()).object();
    QCOMPARE(run.value("recording").toString(), files.first());
    QCOMPARE(run.value("sensors").toInt(), 2);
    QStringList kinds;
    for (const QByteArray &payload : subscriber.payloads("e2e/event"))
        kinds << QJsonDocument::fromJson(payload).object().value("kind").toString();
    QVERIFY2(kinds.contains("start") && kinds.contains("pause"), qPrintable(kinds.join(' ')));
    QCOMPARE(subscriber.payloads("e2e/status").last(), QByteArray("offline"));
}

void TstPublishedRun::killedProgramShowsOfflineAndIsNotRepublished()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestSubscriber subscriber(broker.port(), QStringLiteral("kill/#"));
    QVERIFY(subscriber.waitSubscribed());
    QTemporaryDir out, recordings;
    const QStringList common = {"--recordings", recordings.path(), "--publish",
                                QStringLiteral("mqtt://127.0.0.1:%1/kill").arg(broker.port())};
    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(QStringLiteral(DEMO_PROGRAM),
               QStringList{"--autopilot", out.path(), "--seconds", "60"} + common);
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.payloads("kill/data").size() >= 5, 20000);
    demo.kill();
    QVERIFY(demo.waitForFinished());
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("kill/status").last(), QByteArray("offline"), 10000);
    const QString killedRun = csvFiles(recordings.path()).value(0);
    QVERIFY(!killedRun.isEmpty());
    std::set<qint64> before;
    for (const QByteArray &payload : subscriber.payloads("kill/data"))
        before.insert(seqOf(payload));

    // The next start recovers the killed run's recording and publishes only its own run.
    subscriber.clear();
    QProcess next;
    next.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    next.start(QStringLiteral(DEMO_PROGRAM),
               QStringList{"--autopilot", out.path(), "--seconds", "2"} + common);
    QVERIFY(next.waitForFinished(60000));
    QCOMPARE(next.exitCode(), 0);
    const QList<QByteArray> runs = subscriber.payloads("kill/run");
    QVERIFY(!runs.isEmpty());
    for (const QByteArray &payload : runs)
        QVERIFY(QJsonDocument::fromJson(payload).object().value("recording").toString() != killedRun);
    const QStringList files = csvFiles(recordings.path());
    QCOMPARE(files.size(), 2);
    QFile csv(QDir(recordings.path()).filePath(files.last()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(subscriber.payloads("kill/data").size(), csv.readAll().count('\n'));
    QCOMPARE(subscriber.payloads("kill/status").last(), QByteArray("offline"));
}

void TstPublishedRun::askedToQuitSaysOffline()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestSubscriber subscriber(broker.port(), QStringLiteral("term/#"));
    QVERIFY(subscriber.waitSubscribed());
    QTemporaryDir out, recordings;
    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(QStringLiteral(DEMO_PROGRAM),
               {"--autopilot", out.path(), "--seconds", "60", "--recordings", recordings.path(), "--publish",
                QStringLiteral("mqtt://127.0.0.1:%1/term").arg(broker.port())});
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.payloads("term/data").size() >= 5, 20000);
    demo.terminate(); // SIGTERM: the run is closed as on a normal close
    QVERIFY(demo.waitForFinished(20000));
    QCOMPARE(demo.exitCode(), 128 + 15);
    QCOMPARE(subscriber.payloads("term/status"), (QList<QByteArray>{"online", "offline"}));
    // Everything the recording holds reached the broker before "offline".
    QFile csv(QDir(recordings.path()).filePath(csvFiles(recordings.path()).value(0)));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(subscriber.payloads("term/data").size(), csv.readAll().count('\n'));
}

QTEST_GUILESS_MAIN(TstPublishedRun)
#include "tst_publishedrun.moc"

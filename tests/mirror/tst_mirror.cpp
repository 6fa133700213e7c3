// SPDX-License-Identifier: GPL-3.0-or-later
// The mirror against a real mosquitto on loopback and a rig that records and publishes as the
// acquisition window does: started in the middle of a run it ends with the rig's live recording
// byte for byte and a description with the same start, sensors and events; stopped and started
// again it goes on with the same files and fills what it missed; it follows several rigs, keeps
// whole across outages of the rig's link and of its own, and refuses what a rig does not send.
#include "mirror/mirror.h"
#include "mirror/runcopies.h"
#include "publish/publisher.h"
#include "remote/rigfollower.h"
#include "support/testbroker.h"
#include "support/testrig.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

RigLinkSettings mirrorSettings(quint16 port, const QString &prefix)
{
    RigLinkSettings s;
    s.target = targetAt(port, prefix);
    s.firstRetryMs = 200;
    s.lastRetryMs = 1000;
    return s;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of a description that start with one of the prefixes, in order.
QList<QByteArray> linesStarting(const QByteArray &text, const QList<QByteArray> &prefixes)
{
    QList<QByteArray> kept;
    for (const QByteArray &line : text.split('\n')) {
        for (const QByteArray &p : prefixes) {
            if (line.startsWith(p)) {
                kept << line;
                break;
            }
        }
    }
    return kept;
}

const QList<QByteArray> HeadLines = {
    "Quellspan", "Samples:", "Columns:", "Started:", "Sensors:", "Sensitivity", "Program:"};

// The copy of a rig's recording in folder: the same name.
QString copyOf(const QString &folder, const TestRig &rig)
{
    return QDir(folder).filePath(QFileInfo(rig.csvPath()).fileName());
}

// Waits until the copy holds what the rig's recording holds (both files as they are on disk).
bool caughtUp(const QString &copy, const TestRig &rig, int timeoutMs = 20000)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        const QByteArray original = rig.csv();
        if (!original.isEmpty() && readFile(copy) == original)
            return true;
        QTest::qWait(100);
    }
    qWarning("the copy has %d lines, the rig's recording %d", int(readFile(copy).count('\n')),
             int(rig.csv().count('\n')));
    return false;
}

void compareDescriptions(const QByteArray &rig, const QByteArray &copy)
{
    QCOMPARE(linesStarting(copy, HeadLines), linesStarting(rig, HeadLines));
    QCOMPARE(linesStarting(copy, {"Event: "}), linesStarting(rig, {"Event: "}));
}

} // namespace

class TstMirror : public QObject
{
    Q_OBJECT

private slots:
    void startedMidRunHoldsTheWholeRun();
    void restartGoesOnAndFillsWhatItMissed();
    void followsSeveralRigs();
    void outagesOfEitherLinkLoseNothing();
    void refusesWhatARigDoesNotSend();
    void historyOverMqtt311();
};

void TstMirror::startedMidRunHoldsTheWholeRun()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir rigFolder, copies;
    Publisher publisher(rigSettings(broker.port(), QStringLiteral("lab/rig")));
    auto rig = std::make_unique<TestRig>(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime());
    rig->marks().addEvent(0, RunEventKind::Start, QStringLiteral("Start"));
    // Much more history than the rig sends unacknowledged to one asker at a time (answers of up
    // to 1000 records, 8 in flight): the answer goes on as the broker takes them.
    rig->add(30000);
    rig->marks().addMark(rig->lastTime());
    rig->marks().setNote(1, QStringLiteral("door \"opened\", heater on"));
    rig->add(500);
    rig->marks().addMark(rig->lastTime());
    rig->marks().deleteMark(1);
    rig->marks().addEvent(rig->lastTime(), RunEventKind::UnitLost, QStringLiteral("Unit lost: cable"));
    QTRY_COMPARE_WITH_TIMEOUT(publisher.progress().acknowledgedRecords, quint64(30500), 20000);

    // A few seconds into the run the mirror starts, and the run goes on.
    QStringList log;
    Mirror mirror(mirrorSettings(broker.port(), QStringLiteral("lab/rig")), copies.path(),
                  [&log](const QString &line) { log << line; });
    const QString copy = copyOf(copies.path(), *rig);
    // The whole history in one answer, well before an unanswered request is asked again (15 s).
    QVERIFY2(caughtUp(copy, *rig, 10000), qPrintable(log.join('\n')));
    feed(*rig, 400);
    rig->marks().addMark(rig->lastTime());
    feed(*rig, 200);
    // A Reset: the run ends, the next begins, and the copy of the first is closed.
    rig->end();
    const QByteArray original = rig->csv();
    QCOMPARE(original.count('\n'), 31100);
    TestRig next(&publisher, rigFolder.path(), 1, QDateTime::currentDateTime().addSecs(1));
    next.add(30);
    QTRY_VERIFY_WITH_TIMEOUT(
        !QFile::exists(QDir(copies.path()).filePath(QFileInfo(copy).completeBaseName() + ".lock")), 20000);
    QVERIFY2(readFile(copy) == original, qPrintable(log.join('\n')));
    const QByteArray copied =
        readFile(QDir(copies.path()).filePath(QFileInfo(copy).completeBaseName() + ".txt"));
    compareDescriptions(rig->description(), copied);
    QVERIFY(linesStarting(copied, {"Event: "}).size() >= 7);
    QVERIFY(copied.contains("Mirror of: mqtt://127.0.0.1:"));
    QVERIFY(copied.contains("\nClosed: "));
    // The next run is copied too.
    QVERIFY(caughtUp(copyOf(copies.path(), next), next));
}

void TstMirror::restartGoesOnAndFillsWhatItMissed()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir rigFolder, copies;
    Publisher publisher(rigSettings(broker.port(), QStringLiteral("lab/rig")));
    TestRig rig(&publisher, rigFolder.path(), 4, QDateTime::currentDateTime());
    rig.add(1000);
    rig.marks().addMark(rig.lastTime());
    const QString copy = copyOf(copies.path(), rig);
    QStringList log;
    {
        Mirror mirror(mirrorSettings(broker.port(), QStringLiteral("lab/rig")), copies.path(),
                      [&log](const QString &line) { log << line; });
        feed(rig, 200);
        QVERIFY(caughtUp(copy, rig));
    }
    // Stopped politely: the copy is closed, its lock gone.
    const QString base = QDir(copies.path()).filePath(QFileInfo(copy).completeBaseName());
    QVERIFY(!QFile::exists(base + ".lock"));
    QVERIFY(readFile(base + ".txt").contains("\nClosed: "));

    // While it is not running the run goes on; started again, it fills what it missed.
    rig.add(2000);
    rig.marks().addMark(rig.lastTime());
    rig.marks().setNote(2, QStringLiteral("while the mirror was away"));
    {
        Mirror mirror(mirrorSettings(broker.port(), QStringLiteral("lab/rig")), copies.path(),
                      [&log](const QString &line) { log << line; });
        feed(rig, 300);
        rig.recording.syncSoon();
        QVERIFY2(caughtUp(copy, rig), qPrintable(log.join('\n')));
        QTRY_COMPARE_WITH_TIMEOUT(linesStarting(readFile(base + ".txt"), {"Event: "}),
                                  linesStarting(rig.description(), {"Event: "}), 10000);
    }
    QCOMPARE(QDir(copies.path()).entryList({"*.csv"}).size(), 1);
    const QByteArray description = readFile(base + ".txt");
    QVERIFY(description.contains("\nContinued: "));
    QCOMPARE(description.count("\nSamples: "), 1);
    QVERIFY(!description.contains("Gap: "));
}

void TstMirror::followsSeveralRigs()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir folderA, folderB, copies;
    Publisher a(rigSettings(broker.port(), QStringLiteral("lab/rig-a")));
    Publisher b(rigSettings(broker.port(), QStringLiteral("lab/rig.b")));
    TestRig rigA(&a, folderA.path(), 1, QDateTime::currentDateTime());
    TestRig rigB(&b, folderB.path(), 3, QDateTime::currentDateTime().addMSecs(250));
    rigA.add(700);
    rigB.add(300);
    QStringList log;
    Mirror mirror(mirrorSettings(broker.port(), QStringLiteral("lab/+")), copies.path(),
                  [&log](const QString &line) { log << line; });
    for (int i = 0; i < 10; ++i) {
        rigA.add(20);
        rigB.add(10);
        QTest::qWait(100);
    }
    rigA.recording.syncSoon();
    rigB.recording.syncSoon();
    QVERIFY(caughtUp(copyOf(QDir(copies.path()).filePath("rig-a"), rigA), rigA));
    QVERIFY(caughtUp(copyOf(QDir(copies.path()).filePath("rig.b"), rigB), rigB));
    // A level that would make a path or a hidden name is escaped.
    QCOMPARE(Mirror::rigFolder("/m", "lab/..", true), QStringLiteral("/m/%2E."));
    QCOMPARE(Mirror::rigFolder("/m", "lab/a b", true), QStringLiteral("/m/a%20b"));
}

void TstMirror::outagesOfEitherLinkLoseNothing()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TcpRelay rigRelay(broker.port()), mirrorRelay(broker.port());
    QTemporaryDir rigFolder, copies;
    Publisher publisher(rigSettings(rigRelay.port(), QStringLiteral("lab/rig")));
    TestRig rig(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime());
    rig.add(500);
    QStringList log;
    Mirror mirror(mirrorSettings(mirrorRelay.port(), QStringLiteral("lab/rig")), copies.path(),
                  [&log](const QString &line) { log << line; });
    feed(rig, 200);
    // The rig's link goes for three seconds while it records.
    rigRelay.cut();
    feed(rig, 300, 30);
    QVERIFY(rigRelay.restore());
    feed(rig, 200);
    // Then the mirror's.
    mirrorRelay.cut();
    feed(rig, 300, 30);
    QVERIFY(mirrorRelay.restore());
    feed(rig, 200);
    rig.marks().addMark(rig.lastTime());
    rig.end();
    TestRig next(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime().addSecs(1));
    next.add(10);
    const QString copy = copyOf(copies.path(), rig);
    QTRY_VERIFY_WITH_TIMEOUT(
        !QFile::exists(QDir(copies.path()).filePath(QFileInfo(copy).completeBaseName() + ".lock")), 30000);
    QVERIFY2(readFile(copy) == rig.csv(), qPrintable(log.join('\n')));
    compareDescriptions(rig.description(), readFile(descriptionFileName(copy)));
}

void TstMirror::refusesWhatARigDoesNotSend()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir rigFolder, copies;
    Publisher publisher(rigSettings(broker.port(), QStringLiteral("lab/rig")));
    TestRig rig(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime());
    rig.add(300);
    // The mirror's answer topic, as anyone listening to the rig's requests learns it.
    TestSubscriber requests(broker.port(), QStringLiteral("lab/rig/history/request"));
    QVERIFY(requests.waitSubscribed());
    QStringList log;
    Mirror mirror(mirrorSettings(broker.port(), QStringLiteral("lab/rig")), copies.path(),
                  [&log](const QString &line) { log << line; });
    const QString copy = copyOf(copies.path(), rig);
    QVERIFY(caughtUp(copy, rig));
    QTRY_VERIFY(!requests.messages().isEmpty());
    const QByteArray reply = QJsonDocument::fromJson(requests.messages().first().payload)
                                 .object()
                                 .value("reply")
                                 .toString()
                                 .toUtf8();
    QVERIFY(reply.startsWith("lab/rig/history/reply/"));

    QByteArray id;
    {
        // The run's identity, as the rig's retained run message gives it.
        TestSubscriber retained(broker.port(), QStringLiteral("lab/rig/run"));
        QVERIFY(retained.waitSubscribed());
        QTRY_VERIFY(!retained.messages().isEmpty());
        id = QJsonDocument::fromJson(retained.messages().first().payload)
                 .object()
                 .value("start")
                 .toString()
                 .toUtf8();
    }
    const QByteArray next = QByteArray::number(rig.records);
    const QList<QPair<QByteArray, QByteArray>> hostile = {
        {"lab/rig/data", "not json"},
        {"lab/rig/data",
         "{\"seq\":" + next + ",\"run\":\"" + id + "\",\"t\":1e999,\"q1\":1,\"T1\":2,\"q2\":3,\"T2\":4}"},
        {"lab/rig/data",
         "{\"seq\":" + next + ",\"run\":\"" + id + "\",\"t\":99,\"q1\":\"x\",\"T1\":2,\"q2\":3,\"T2\":4}"},
        {"lab/rig/data",
         "{\"seq\":" + next + ",\"run\":\"" + id + "\",\"t\":99,\"q1\":1.50,\"T1\":2,\"q2\":3,\"T2\":4}"},
        {"lab/rig/data", "{\"seq\":" + next + ",\"run\":\"" + id + "\",\"t\":99,\"q1\":1,\"T1\":2}"},
        {"lab/rig/data",
         "{\"seq\":5,\"run\":\"" + id + "\",\"t\":0.3125,\"q1\":666,\"T1\":666,\"q2\":666,\"T2\":666}"},
        {"lab/rig/data",
         "{\"seq\":900000000000,\"run\":\"" + id + "\",\"t\":1,\"q1\":1,\"T1\":2,\"q2\":3,\"T2\":4}"},
        {"lab/rig/data", "{\"seq\":" + next + ",\"seq\":1,\"run\":\"" + id +
                             "\",\"t\":1,\"q1\":1,\"T1\":2,\"q2\":3,\"T2\":4}"},
        {"lab/rig/data", QByteArray(2 * 1024 * 1024, '[')},
        {"lab/rig/event", "{\"i\":0,\"run\":\"" + id + "\",\"t\":1,\"kind\":\"explode\",\"note\":\"x\"}"},
        {"lab/rig/run", "{\"start\":\"2026-01-01T00:00:00.000Z\",\"sensors\":9}"},
        {"lab/rig/status", "maybe"},
        {reply, "{\"id\":\"1\",\"run\":\"" + id + "\",\"first\":" + next + ",\"records\":[[1,2,3,\"4\",5]]}"},
        {reply, "{\"id\":\"1\",\"run\":\"" + id + "\",\"first\":" + next + ",\"records\":[[1,2,3]]}"},
        {reply, "{\"id\":\"1\",\"run\":\"" + id + "\",\"first\":0,\"records\":[[0,6,6,6,6]]}"},
        {reply, "{\"id\":\"1\",\"run\":\"" + id + "\",\"records\":[[" + QByteArray(100000, '[') + "]]}"},
    };
    for (const auto &[topic, payload] : hostile)
        QVERIFY(publishAsStranger(broker.port(), topic, payload));
    feed(rig, 200);
    rig.end();
    TestRig after(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime().addSecs(1));
    after.add(10);
    QTRY_VERIFY_WITH_TIMEOUT(
        !QFile::exists(QDir(copies.path()).filePath(QFileInfo(copy).completeBaseName() + ".lock")), 20000);
    // Nothing of it got into the copy, and what was refused was said.
    QVERIFY2(readFile(copy) == rig.csv(), qPrintable(log.join('\n')));
    QVERIFY(mirror.followerOf("lab/rig")->refusedMessages() >= 14);
    QVERIFY(log.join('\n').contains("was not taken"));
}

void TstMirror::historyOverMqtt311()
{
    // A rig or a mirror on MQTT 3.1.1 (no response topic, no correlation data): the request names
    // its answer topic itself, and the history arrives all the same.
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    const struct
    {
        bool rigMqtt5, mirrorMqtt5;
    } cases[] = {{false, true}, {true, false}, {false, false}};
    int n = 0;
    for (const auto &c : cases) {
        const QString prefix = QStringLiteral("lab/rig%1").arg(++n);
        QTemporaryDir rigFolder, copies;
        PublishSettings rigSide = rigSettings(broker.port(), prefix);
        rigSide.mqtt5 = c.rigMqtt5;
        Publisher publisher(rigSide);
        TestRig rig(&publisher, rigFolder.path(), 3, QDateTime::currentDateTime().addSecs(n));
        rig.add(2500);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.progress().acknowledgedRecords, quint64(2500), 20000);
        RigLinkSettings mirrorSide = mirrorSettings(broker.port(), prefix);
        mirrorSide.mqtt5 = c.mirrorMqtt5;
        QStringList log;
        Mirror mirror(mirrorSide, copies.path(), [&log](const QString &line) { log << line; });
        feed(rig, 100);
        QVERIFY2(caughtUp(copyOf(copies.path(), rig), rig), qPrintable(log.join('\n')));
        QVERIFY(publisher.progress().historyAnswers >= 1);
    }
}

QTEST_GUILESS_MAIN(TstMirror)
#include "tst_mirror.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The follower alone, fed messages as a broker would deliver them, on a clock the test turns:
// each record handed on once, in order, with the history filling what live messages skipped and
// winning over them; gaps where the rig no longer has records or does not answer; events in their
// order; a Reset's old run completed from the history; nothing taken that goes back in time.
#include "publish/publishpayload.h"
#include "remote/rigfollower.h"

#include <QtTest>

#include <map>

namespace {

const QByteArray RunA = "2026-12-07T13:05:09.250Z";
const QByteArray RunB = "2026-12-07T14:00:00.000Z";
const QString Prefix = QStringLiteral("lab/rig");

// What the follower hands on, kept.
struct Sink : RunSink
{
    Held held;
    std::map<QByteArray, QList<double>> values; // each record's first channel, in the order handed on
    std::map<QByteArray, QList<quint64>> seqs;
    QStringList gaps, events, ended, said;
    QList<bool> statuses;

    Held runSeen(const RigRun &) override { return held; }
    void records(const QByteArray &run, const RigRecords &r) override
    {
        for (int i = 0; i < r.rows; ++i) {
            values[run] << r.row(i)[1];
            seqs[run] << r.first + quint64(i);
        }
    }
    void gap(const QByteArray &run, quint64 from, quint64 to, const QString &) override
    {
        gaps << QStringLiteral("%1 %2-%3").arg(QString::fromLatin1(run.left(13))).arg(from).arg(to);
    }
    void event(const QByteArray &, const RigEvent &e) override
    {
        events << QStringLiteral("%1:%2").arg(e.index).arg(e.event.note);
    }
    void runEnded(const QByteArray &run, bool whole) override
    {
        ended << QStringLiteral("%1 %2").arg(QString::fromLatin1(run.left(13)),
                                             whole ? "whole" : "not whole");
    }
    void rigStatus(bool online, bool) override { statuses << online; }
    void refused(const QByteArray &, const QString &why) override { said << why; }
};

QByteArray runMessage(const QByteArray &id, int sensors = 1)
{
    return "{\"start\":\"" + id + "\",\"sensors\":" + QByteArray::number(sensors) + "}";
}

QByteArray record(const QByteArray &run, quint64 seq, double value, double time = -1)
{
    const double fields[] = {time < 0 ? double(seq) : time, value, 20};
    QByteArray out;
    appendDataPayload(&out, seq, fields, 3, run);
    return out;
}

QByteArray eventMessage(const QByteArray &run, quint64 index, const QString &note)
{
    return placedEventPayload(eventPayload({1, RunEventKind::UnitLost, 0, note}), index, run);
}

HistoryAnswer batch(const QByteArray &run, quint64 first, int count, double value)
{
    HistoryAnswer a;
    a.kind = HistoryAnswer::Records;
    a.run = run;
    a.records.run = run;
    a.records.first = first;
    a.records.fieldCount = 3;
    for (int i = 0; i < count; ++i) {
        a.records.values << double(first + quint64(i)) << value << 20;
        a.records.lines += QByteArray::number(first + quint64(i)) + ",1,20\n";
        ++a.records.rows;
    }
    return a;
}

HistoryAnswer done(const QByteArray &run, const QByteArray &id, quint64 next, quint64 events = 0,
                   bool ended = false)
{
    HistoryAnswer a;
    a.kind = HistoryAnswer::Done;
    a.run = run;
    a.id = id;
    a.next = next;
    a.eventCount = events;
    a.ended = ended;
    return a;
}

// A follower with its clock, the requests it made and what it handed on.
struct Rig
{
    Sink sink;
    qint64 now = 0;
    QList<HistoryRequest> asked;
    RigFollower follower;

    explicit Rig(const RigFollower::Settings &settings = RigFollower::Settings())
        : follower(
              Prefix, &sink, [this](HistoryRequest r) { asked << r; }, [this] { return now; }, settings)
    {
    }
    void say(const char *leaf, const QByteArray &payload)
    {
        follower.message(Prefix.toUtf8() + leaf, payload, false);
    }
    QByteArray lastId() const { return asked.isEmpty() ? QByteArray() : asked.last().id; }
};

QList<quint64> range(quint64 from, quint64 to)
{
    QList<quint64> list;
    for (quint64 s = from; s < to; ++s)
        list << s;
    return list;
}

} // namespace

class TstRigFollower : public QObject
{
    Q_OBJECT

private slots:
    void joiningMidRunGetsEveryRecordOnce();
    void historyWinsOverLiveRecords();
    void whatTheRigLacksOrNeverAnswersIsAGap();
    void eventsComeInTheirOrder();
    void aResetsOldRunIsCompletedFromTheHistory();
    void recordsThatGoBackInTimeAreRefused();
};

void TstRigFollower::joiningMidRunGetsEveryRecordOnce()
{
    Rig rig;
    rig.say("/status", "online");
    // Records of the run can come before its start message does.
    rig.say("/data", record(RunA, 100, 1));
    rig.say("/run", runMessage(RunA));
    QCOMPARE(rig.asked.size(), 1);
    QCOMPARE(rig.asked[0].run, RunA);
    QCOMPARE(rig.asked[0].from, quint64(0));
    rig.say("/data", record(RunA, 101, 1));
    rig.say("/data", record(RunA, 100, 1)); // a repeat
    QVERIFY(rig.sink.seqs[RunA].isEmpty());
    rig.follower.answer(batch(RunA, 0, 60, 1));
    QCOMPARE(rig.sink.seqs[RunA], range(0, 60));
    rig.follower.answer(batch(RunA, 60, 41, 1)); // 60..100: overlaps the live 100
    rig.follower.answer(done(RunA, rig.lastId(), 101));
    QCOMPARE(rig.sink.seqs[RunA], range(0, 102));
    QVERIFY(!rig.follower.isAsking(RunA));
    rig.say("/data", record(RunA, 102, 1));
    rig.say("/data", record(RunA, 50, 1));
    QCOMPARE(rig.sink.seqs[RunA], range(0, 103));
    QVERIFY(rig.sink.gaps.isEmpty());
    // After an outage of this side's link, the history is asked from where it stopped.
    rig.follower.linkUp();
    QCOMPARE(rig.asked.last().from, quint64(103));
}

void TstRigFollower::historyWinsOverLiveRecords()
{
    Rig rig;
    rig.say("/run", runMessage(RunA));
    rig.say("/data", record(RunA, 5, 666)); // ahead, live: not the rig's file
    rig.follower.answer(batch(RunA, 0, 8, 1));
    QCOMPARE(rig.sink.values[RunA], (QList<double>{1, 1, 1, 1, 1, 1, 1, 1}));
    // A live record inside what the history brought ahead changes nothing either.
    rig.follower.answer(batch(RunA, 20, 5, 2));
    rig.say("/data", record(RunA, 22, 666));
    rig.follower.answer(batch(RunA, 8, 12, 3));
    QCOMPARE(rig.sink.seqs[RunA], range(0, 25));
    QVERIFY(!rig.sink.values[RunA].contains(666));
}

void TstRigFollower::whatTheRigLacksOrNeverAnswersIsAGap()
{
    RigFollower::Settings settings;
    settings.answerTimeoutMs = 1000;
    settings.tries = 3;
    Rig rig(settings);
    rig.say("/status", "online");
    rig.say("/run", runMessage(RunA));
    HistoryAnswer missing;
    missing.kind = HistoryAnswer::Missing;
    missing.run = RunA;
    missing.first = 0;
    missing.missing = 40;
    rig.follower.answer(missing);
    rig.follower.answer(batch(RunA, 40, 10, 1));
    rig.follower.answer(done(RunA, rig.lastId(), 50));
    QCOMPARE(rig.sink.gaps, QStringList{"2026-12-07T13 0-40"});
    QCOMPARE(rig.sink.seqs[RunA], range(40, 50));

    // Live records after a hole: asked for; no answer while the rig is offline is no failure.
    rig.say("/data", record(RunA, 60, 1));
    const int asked = rig.asked.size();
    QCOMPARE(rig.asked.last().from, quint64(50));
    rig.say("/status", "offline");
    for (int i = 0; i < 10; ++i) {
        rig.now += 1000;
        rig.follower.tick();
    }
    QCOMPARE(rig.asked.size(), asked);
    // Online, but it never answers: asked again, then given up on; the hole is a gap.
    rig.say("/status", "online");
    for (int i = 0; i < 6; ++i) {
        rig.now += 1000;
        rig.follower.tick();
    }
    QCOMPARE(rig.sink.gaps.last(), QStringLiteral("2026-12-07T13 50-60"));
    QCOMPARE(rig.sink.seqs[RunA].last(), quint64(60));
    // While it does not answer, a new hole does not hold the records after it back.
    rig.say("/data", record(RunA, 63, 1));
    QCOMPARE(rig.sink.gaps.last(), QStringLiteral("2026-12-07T13 61-63"));
    QCOMPARE(rig.sink.seqs[RunA].last(), quint64(63));
    // A record far beyond anything seen is refused.
    rig.say("/data", record(RunA, 63 + (1 << 21), 1));
    QCOMPARE(rig.sink.said.size(), 1);
}

void TstRigFollower::eventsComeInTheirOrder()
{
    Rig rig;
    rig.say("/run", runMessage(RunA));
    rig.say("/event", eventMessage(RunA, 2, "c"));
    rig.say("/event", eventMessage(RunA, 1, "b"));
    QVERIFY(rig.sink.events.isEmpty());
    HistoryAnswer events;
    events.kind = HistoryAnswer::Events;
    events.run = RunA;
    for (int i = 0; i < 3; ++i) {
        RigEvent e;
        e.run = RunA;
        e.index = quint64(i);
        e.event = {1, RunEventKind::UnitLost, 0, QStringLiteral("from the file %1").arg(i)};
        events.events.push_back(e);
    }
    rig.follower.answer(events);
    QCOMPARE(rig.sink.events, QStringList({"0:from the file 0", "1:from the file 1", "2:from the file 2"}));
    rig.say("/event", eventMessage(RunA, 2, "again"));
    rig.say("/event", eventMessage(RunA, 3, "d"));
    QCOMPARE(rig.sink.events.last(), QStringLiteral("3:d"));
    QCOMPARE(rig.sink.events.size(), 4);
}

void TstRigFollower::aResetsOldRunIsCompletedFromTheHistory()
{
    Rig rig;
    rig.say("/run", runMessage(RunA));
    rig.follower.answer(batch(RunA, 0, 10, 1));
    rig.follower.answer(done(RunA, rig.lastId(), 10));
    // The rig moved on: a new run starts, and the old one's rest is asked for.
    rig.say("/run", runMessage(RunB, 1));
    const HistoryRequest old = rig.asked[rig.asked.size() - 2];
    QCOMPARE(old.run, RunA);
    QCOMPARE(old.from, quint64(10));
    QCOMPARE(rig.asked.last().run, RunB);
    rig.say("/data", record(RunB, 0, 2));
    rig.follower.answer(batch(RunA, 10, 5, 1));
    QVERIFY(rig.sink.ended.isEmpty());
    rig.follower.answer(done(RunA, old.id, 15, 0, true));
    QCOMPARE(rig.sink.ended, QStringList{"2026-12-07T13 whole"});
    QCOMPARE(rig.sink.seqs[RunA], range(0, 15));
    QCOMPARE(rig.sink.seqs[RunB], range(0, 1));
    QCOMPARE(rig.follower.currentRun(), RunB);
    // The retained start of the current run again (a reconnect) changes nothing.
    rig.say("/run", runMessage(RunB, 1));
    QCOMPARE(rig.follower.currentRun(), RunB);
    QCOMPARE(rig.sink.seqs[RunB], range(0, 1));
}

void TstRigFollower::recordsThatGoBackInTimeAreRefused()
{
    Rig rig;
    rig.say("/run", runMessage(RunA));
    rig.follower.answer(done(RunA, rig.lastId(), 0));
    rig.say("/data", record(RunA, 0, 1, 10));
    rig.say("/data", record(RunA, 1, 1, 5)); // before the one before it
    rig.say("/data", record(RunA, 2, 1, 11));
    QCOMPARE(rig.sink.seqs[RunA], (QList<quint64>{0, 2}));
    QCOMPARE(rig.sink.gaps, QStringList{"2026-12-07T13 1-2"});
    QCOMPARE(rig.sink.said.size(), 1);
    // Records of another shape than the run's are refused too.
    const double fields[] = {12, 1, 2, 3, 4};
    QByteArray wide;
    appendDataPayload(&wide, 3, fields, 5, RunA);
    rig.say("/data", wide);
    QCOMPARE(rig.sink.seqs[RunA].size(), 2);
    QCOMPARE(rig.sink.said.size(), 2);
}

QTEST_GUILESS_MAIN(TstRigFollower)
#include "tst_rigfollower.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// What a rig publishes, read back: everything the rig's own writers make reads back as the same
// values with the CSV's very text, and whatever a rig does not send is refused whole.
#include "data/csvnumber.h"
#include "publish/publishpayload.h"
#include "remote/rigmessages.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const QByteArray Run = "2026-12-07T13:05:09.250Z";

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

class TstRigMessages : public QObject
{
    Q_OBJECT

private slots:
    void recordsReadBackWithTheCsvText();
    void runAndEventsReadBack();
    void historyAnswersReadBack();
    void whatARigDoesNotSendIsRefused_data();
    void whatARigDoesNotSendIsRefused();
};

void TstRigMessages::recordsReadBackWithTheCsvText()
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<double>> records = {
        {0.25, 12.5, 23.1},
        {1.001, -3.4e-7, 22.8, 1e21, -0.0},
        {3600.125, inf, -inf, std::nan(""), -std::nan(""), 5e-324, 0.1 + 0.2, 123456789.125, -1e-300},
    };
    for (const std::vector<double> &fields : records) {
        QByteArray payload;
        appendDataPayload(&payload, 41, fields.data(), int(fields.size()), Run);
        RigRecords read;
        QString why;
        QVERIFY2(readRigRecord(payload, &read, &why), qPrintable(why + ": " + payload));
        QCOMPARE(read.first, quint64(41));
        QCOMPARE(read.run, Run);
        QCOMPARE(read.rows, 1);
        QCOMPARE(read.fieldCount, int(fields.size()));
        for (size_t f = 0; f < fields.size(); ++f)
            QVERIFY2(sameBits(read.row(0)[f], fields[f]), qPrintable(QString::number(f)));
        // The line the rig's recording holds for it.
        QByteArray line;
        appendCsvLine(&line, fields[0], fields.data() + 1, int(fields.size()) - 1);
        QCOMPARE(read.lines, line);
    }
}

void TstRigMessages::runAndEventsReadBack()
{
    PublishedRun run;
    run.start = QDateTime::fromString(QStringLiteral("2026-12-07T14:05:09.250+01:00"), Qt::ISODateWithMs);
    run.sensorCount = 3;
    run.sensitivities = {QByteArray("12.5"), QByteArray(), QByteArray("7,2 µV")};
    run.program = QStringLiteral("quellspan 1.0");
    run.recording = QStringLiteral("2026-12-07_14-05-09_2.csv");
    RigRun read;
    QString why;
    QVERIFY2(readRigRun(runPayload(run), &read, &why), qPrintable(why));
    QCOMPARE(read.id, runId(run.start));
    QCOMPARE(read.start, run.start);
    QCOMPARE(read.start.offsetFromUtc(), 3600);
    QCOMPARE(read.sensorCount, 3);
    QCOMPARE(read.sensitivities, run.sensitivities);
    QVERIFY(read.sensitivities[1].isNull());
    QCOMPARE(read.recording, run.recording);
    // Only a name as the live recording makes them is taken as one.
    run.recording = QStringLiteral("../../etc/2026-12-07_14-05-09.csv");
    QVERIFY(readRigRun(runPayload(run), &read, &why));
    QVERIFY(read.recording.isEmpty());

    const QList<RunEvent> events = {
        {12.5, RunEventKind::Mark, 3, QStringLiteral("Mark 3")},
        {12.5, RunEventKind::MarkEdit, 3, QStringLiteral("door \"open\"\\ and\ttab")},
        {12.5, RunEventKind::MarkDelete, 3, QString()},
        {40.0625, RunEventKind::UnitLost, 0, QStringLiteral("Unit lost: cable ☹")},
    };
    for (int i = 0; i < events.size(); ++i) {
        RigEvent e;
        QVERIFY2(readRigEvent(placedEventPayload(eventPayload(events[i]), quint64(i + 7), Run), &e, &why),
                 qPrintable(why));
        QCOMPARE(e.index, quint64(i + 7));
        QCOMPARE(e.run, Run);
        QCOMPARE(e.event.kind, events[i].kind);
        QCOMPARE(e.event.time, events[i].time);
        QCOMPARE(e.event.markNumber, events[i].markNumber);
        QCOMPARE(e.event.note, plainEventNote(events[i].note));
    }
}

void TstRigMessages::historyAnswersReadBack()
{
    QByteArray payload = "{\"id\":\"v-3\",\"run\":\"" + Run + "\",\"first\":1000,\"records\":[";
    QByteArray lines;
    for (int i = 0; i < 5; ++i) {
        const double fields[] = {i * 0.5, -i * 1e-9, 20.0 + i / 3.0, i == 2 ? std::nan("") : 1.0 * i, 4.0};
        if (i > 0)
            payload += ',';
        appendRecordArray(&payload, fields, 5);
        appendCsvLine(&lines, fields[0], fields + 1, 4);
    }
    payload += "]}";
    HistoryAnswer answer;
    QString why;
    QVERIFY2(readHistoryAnswer(payload, &answer, &why), qPrintable(why));
    QCOMPARE(answer.kind, HistoryAnswer::Records);
    QCOMPARE(answer.id, QByteArray("v-3"));
    QCOMPARE(answer.records.first, quint64(1000));
    QCOMPARE(answer.records.rows, 5);
    QCOMPARE(answer.records.lines, lines);

    QVERIFY(readHistoryAnswer("{\"id\":\"a\",\"run\":\"" + Run +
                                  "\",\"done\":true,\"next\":77,\"event_count\":3,"
                                  "\"ended\":true}",
                              &answer, &why));
    QCOMPARE(answer.kind, HistoryAnswer::Done);
    QCOMPARE(answer.next, quint64(77));
    QCOMPARE(answer.eventCount, quint64(3));
    QVERIFY(answer.ended);
    QVERIFY(readHistoryAnswer("{\"id\":\"a\",\"run\":\"" + Run + "\",\"first\":5,\"missing\":10}", &answer,
                              &why));
    QCOMPARE(answer.kind, HistoryAnswer::Missing);
    QCOMPARE(answer.missing, quint64(10));
    QVERIFY(readHistoryAnswer("{\"id\":\"a\",\"run\":\"" + Run + "\",\"unknown\":true,\"current\":null}",
                              &answer, &why));
    QCOMPARE(answer.kind, HistoryAnswer::Unknown);
    const QByteArray events =
        "{\"id\":\"a\",\"run\":\"" + Run + "\",\"events\":[" +
        placedEventPayload(eventPayload({1, RunEventKind::Start, 0, "Start"}), 0, Run) + "," +
        placedEventPayload(eventPayload({2, RunEventKind::Pause, 0, "Pause"}), 1, Run) + "]}";
    QVERIFY2(readHistoryAnswer(events, &answer, &why), qPrintable(why));
    QCOMPARE(answer.kind, HistoryAnswer::Events);
    QCOMPARE(int(answer.events.size()), 2);
    QCOMPARE(answer.events[1].event.kind, RunEventKind::Pause);
}

void TstRigMessages::whatARigDoesNotSendIsRefused_data()
{
    QTest::addColumn<int>("kind"); // 0 record, 1 event, 2 run, 3 answer
    QTest::addColumn<QByteArray>("payload");
    const QByteArray r = ",\"run\":\"" + Run + "\"";
    const auto record = [&](const QByteArray &rest) { return "{\"seq\":1" + r + rest + "}"; };
    QTest::newRow("not JSON") << 0 << QByteArray("seq=1");
    QTest::newRow("trailing bytes") << 0 << record(",\"t\":1,\"q1\":2,\"T1\":3") + "x";
    QTest::newRow("an array") << 0 << QByteArray("[1,2,3]");
    QTest::newRow("a key twice") << 0 << record(",\"t\":1,\"q1\":2,\"T1\":3,\"q1\":4");
    QTest::newRow("no seq") << 0 << QByteArray("{\"run\":\"" + Run + "\",\"t\":1,\"q1\":2,\"T1\":3}");
    QTest::newRow("seq below 0") << 0 << QByteArray("{\"seq\":-1" + r + ",\"t\":1,\"q1\":2,\"T1\":3}");
    QTest::newRow("seq with a fraction")
        << 0 << QByteArray("{\"seq\":1.5" + r + ",\"t\":1,\"q1\":2,\"T1\":3}");
    QTest::newRow("seq beyond 2^53") << 0
                                     << QByteArray("{\"seq\":9007199254740993" + r +
                                                   ",\"t\":1,\"q1\":2,\"T1\":3}");
    QTest::newRow("no run") << 0 << QByteArray("{\"seq\":1,\"t\":1,\"q1\":2,\"T1\":3}");
    QTest::newRow("a run that is no start")
        << 0 << QByteArray("{\"seq\":1,\"run\":\"yesterday\",\"t\":1,\"q1\":2,\"T1\":3}");
    QTest::newRow("one value of a sensor") << 0 << record(",\"t\":1,\"q1\":2");
    QTest::newRow("sensors not 1, 2, ...") << 0 << record(",\"t\":1,\"q1\":2,\"T1\":3,\"q3\":2,\"T3\":3");
    QTest::newRow("a value in quotes") << 0 << record(",\"t\":1,\"q1\":\"2\",\"T1\":3");
    QTest::newRow("a value as text") << 0 << record(",\"t\":1,\"q1\":\"hot\",\"T1\":3");
    QTest::newRow("0.50, not the CSV's text") << 0 << record(",\"t\":1,\"q1\":0.50,\"T1\":3");
    QTest::newRow("1E5, not the CSV's text") << 0 << record(",\"t\":1,\"q1\":1E5,\"T1\":3");
    QTest::newRow("1e400, beyond a double") << 0 << record(",\"t\":1,\"q1\":1e400,\"T1\":3");
    QTest::newRow("NaN, not the CSV's text") << 0 << record(",\"t\":1,\"q1\":\"NaN\",\"T1\":3");
    QTest::newRow("a time that is not finite") << 0 << record(",\"t\":\"inf\",\"q1\":1,\"T1\":3");
    QTest::newRow("a value that is null") << 0 << record(",\"t\":1,\"q1\":null,\"T1\":3");
    QTest::newRow("too long") << 0
                              << record(",\"t\":1,\"q1\":1,\"T1\":3,\"x\":\"" + QByteArray(70000, 'x') +
                                        "\"");
    QTest::newRow("nested too deep") << 0 << QByteArray(40, '[') + QByteArray(40, ']');
    QTest::newRow("a lone surrogate")
        << 1 << QByteArray("{\"i\":0" + r + ",\"t\":1,\"kind\":\"start\",\"note\":\"\\ud800\"}");
    QTest::newRow("a control character")
        << 1 << QByteArray("{\"i\":0" + r + ",\"t\":1,\"kind\":\"start\",\"note\":\"a\tb\"}");
    QTest::newRow("an unknown kind") << 1
                                     << QByteArray("{\"i\":0" + r +
                                                   ",\"t\":1,\"kind\":\"explode\",\"note\":\"\"}");
    QTest::newRow("a mark without its number")
        << 1 << QByteArray("{\"i\":0" + r + ",\"t\":1,\"kind\":\"mark\",\"note\":\"\"}");
    QTest::newRow("an event with a mark's number")
        << 1 << QByteArray("{\"i\":0" + r + ",\"t\":1,\"kind\":\"pause\",\"n\":2,\"note\":\"\"}");
    QTest::newRow("an event without its place")
        << 1 << QByteArray("{\"run\":\"" + Run + "\",\"t\":1,\"kind\":\"pause\",\"note\":\"\"}");
    QTest::newRow("no start") << 2 << QByteArray("{\"sensors\":2}");
    QTest::newRow("five sensors") << 2 << QByteArray("{\"start\":\"" + Run + "\",\"sensors\":5}");
    QTest::newRow("more sensitivities than sensors")
        << 2
        << QByteArray("{\"start\":\"" + Run +
                      "\",\"sensors\":1,\"sensitivities\":[\"1\",\"2\",\"3\",\"4\",\"5\"]}");
    QTest::newRow("records of different shapes")
        << 3 << QByteArray("{\"id\":\"a\"" + r + ",\"first\":0,\"records\":[[1,2,3],[1,2,3,4,5]]}");
    QTest::newRow("records with no first")
        << 3 << QByteArray("{\"id\":\"a\"" + r + ",\"records\":[[1,2,3]]}");
    QTest::newRow("no records") << 3 << QByteArray("{\"id\":\"a\"" + r + ",\"first\":0,\"records\":[]}");
    QTest::newRow("two answers in one")
        << 3 << QByteArray("{\"id\":\"a\"" + r + ",\"first\":0,\"missing\":3,\"done\":true}");
    QTest::newRow("an end without its counts")
        << 3 << QByteArray("{\"id\":\"a\"" + r + ",\"done\":true,\"next\":3}");
    QTest::newRow("an event of another run")
        << 3
        << QByteArray("{\"id\":\"a\"" + r +
                      ",\"events\":[{\"i\":0,\"run\":\"2026-12-07T13:05:09.251Z\",\"t\":1,\"kind\":\"start\","
                      "\"note\":\"\"}]}");
    QTest::newRow("an answer without id")
        << 3 << QByteArray("{\"run\":\"" + Run + "\",\"first\":0,\"missing\":3}");
}

void TstRigMessages::whatARigDoesNotSendIsRefused()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, payload);
    QString why;
    bool read = true;
    switch (kind) {
    case 0: {
        RigRecords r;
        read = readRigRecord(payload, &r, &why);
        QCOMPARE(r.rows, 0); // nothing of it kept
        break;
    }
    case 1: {
        RigEvent e;
        read = readRigEvent(payload, &e, &why);
        break;
    }
    case 2: {
        RigRun run;
        read = readRigRun(payload, &run, &why);
        break;
    }
    default: {
        HistoryAnswer a;
        read = readHistoryAnswer(payload, &a, &why);
        QCOMPARE(a.records.rows, 0);
        break;
    }
    }
    QVERIFY(!read);
    QVERIFY(!why.isEmpty());
}

QTEST_GUILESS_MAIN(TstRigMessages)
#include "tst_rigmessages.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// What goes to the broker: JSON that any parser reads, numbers with the CSV's own text, and the
// recording read back by line number as it grows.
#include "data/csvnumber.h"
#include "publish/publishpayload.h"
#include "publish/recordinglines.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QJsonObject parsed(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning("not JSON (%s): %s", qPrintable(error.errorString()), json.constData());
    return doc.object();
}

// The raw text of each member's value, in order, as the payload holds it.
QStringList rawValues(const QByteArray &json)
{
    QStringList values;
    const QRegularExpression member(QStringLiteral("\"[A-Za-z0-9]+\":(\"[^\"]*\"|[^,}]*)"));
    auto it = member.globalMatch(QString::fromUtf8(json));
    while (it.hasNext())
        values << it.next().captured(1);
    return values;
}

void appendLine(QFile &file, const QByteArray &line)
{
    file.write(line);
    file.flush();
}

} // namespace

class TstPublishPayload : public QObject
{
    Q_OBJECT

private slots:
    void recordHasTheCsvText();
    void linesOfOtherShapesAreRefused();
    void runAndEventReadBack();
    void topicsUnderThePrefix();
    void linesByNumber();
    void growingFileGivesCompleteLinesOnly();
};

void TstPublishPayload::recordHasTheCsvText()
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<double>> records = {
        {0.25, 12.5, 23.1},
        {1.001, -3.4e-7, 22.8, 1e21, -0.0},
        {3600.125, inf, -inf, std::nan(""), 5e-324, 0.1 + 0.2, 123456789.125, -1, 30},
    };
    quint64 seq = 41;
    for (const std::vector<double> &fields : records) {
        QByteArray payload;
        appendDataPayload(&payload, seq, fields.data(), int(fields.size()));
        const QJsonObject object = parsed(payload);
        QCOMPARE(object.value(QStringLiteral("seq")).toDouble(), double(seq));
        // The CSV line the recording holds for the same record, split into its texts.
        QByteArray line;
        appendCsvLine(&line, fields[0], fields.data() + 1, int(fields.size()) - 1);
        const QList<QByteArray> texts = line.trimmed().split(',');
        const QStringList raw = rawValues(payload);
        QCOMPARE(raw.size(), 1 + int(fields.size()));
        const QStringList names = {"t", "q1", "T1", "q2", "T2", "q3", "T3", "q4", "T4"};
        for (size_t f = 0; f < fields.size(); ++f) {
            const QString text = QString::fromLatin1(texts[int(f)]);
            const QJsonValue value = object.value(names[int(f)]);
            if (std::isfinite(fields[f])) {
                QCOMPARE(raw[int(f) + 1], text);
                QCOMPARE(value.toDouble(), fields[f]); // exactly the value, as any JSON reader gets it
            } else {
                QCOMPARE(raw[int(f) + 1], QLatin1Char('"') + text + QLatin1Char('"'));
                QCOMPARE(value.toString(), text);
            }
        }
        ++seq;
    }
}

void TstPublishPayload::linesOfOtherShapesAreRefused()
{
    for (const char *line : {"", "1", "1,2", "1,2,3,4", "1,2,3,4,5,6,7,8,9,10,11", "1,,2", "1,2,x", "1,2,01",
                             "1,2,.5", "1,2,3 ", "1,2,Infinity", "1,2,1e", "1,2,--1"}) {
        QByteArray out("kept");
        QVERIFY2(!appendDataPayload(&out, 0, line, int(qstrlen(line))), line);
        QCOMPARE(out, QByteArray("kept"));
    }
    QByteArray out;
    QVERIFY(appendDataPayload(&out, 7, "1.5,-2e-05,nan\r", 15)); // a CR LF file's line
    QCOMPARE(out, QByteArray(R"({"seq":7,"t":1.5,"q1":-2e-05,"T1":"nan"})"));
}

void TstPublishPayload::runAndEventReadBack()
{
    PublishedRun run;
    run.start = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9, 250), Qt::OffsetFromUTC, 3600);
    run.sensorCount = 2;
    run.sensitivities = {QByteArray("12.5"), QByteArray()};
    run.program = QStringLiteral("quellspan 1.0");
    run.recording = QStringLiteral("2026-12-07_14-05-09 \"a\".csv");
    const QJsonObject r = parsed(runPayload(run));
    QCOMPARE(r.value("start").toString(), QStringLiteral("2026-12-07T13:05:09.250Z"));
    QCOMPARE(r.value("start_local").toString(), QStringLiteral("2026-12-07T14:05:09.250+01:00"));
    QCOMPARE(r.value("sensors").toInt(), 2);
    QCOMPARE(r.value("sensitivities").toArray(), (QJsonArray{QStringLiteral("12.5"), QJsonValue::Null}));
    QCOMPARE(r.value("program").toString(), run.program);
    QCOMPARE(r.value("recording").toString(), run.recording);
    QCOMPARE(r.value("columns").toArray().size(), 5);
    run.recording.clear();
    QVERIFY(parsed(runPayload(run)).value("recording").isNull());

    RunEvent mark{12.5, RunEventKind::Mark, 3, QString::fromUtf8("Tür \"auf\"\\\nzu\t\x01")};
    QJsonObject e = parsed(eventPayload(mark));
    QCOMPARE(e.value("t").toDouble(), 12.5);
    QCOMPARE(e.value("kind").toString(), QStringLiteral("mark"));
    QCOMPARE(e.value("n").toInt(), 3);
    QCOMPARE(e.value("note").toString(),
             QString::fromUtf8("Tür \"auf\"\\ zu  ")); // as the Event line holds it
    e = parsed(eventPayload({1e-5, RunEventKind::UnitLost, 0, QStringLiteral("Unit lost: gone")}));
    QCOMPARE(e.value("kind").toString(), QStringLiteral("unit-lost"));
    QVERIFY(!e.contains("n"));
    QVERIFY(eventPayload({1e-5, RunEventKind::UnitLost, 0, {}}).startsWith("{\"t\":1e-05,"));
    e = parsed(eventPayload({7, RunEventKind::MarkDelete, 2, QStringLiteral("ignored")}));
    QCOMPARE(e.value("kind").toString(), QStringLiteral("mark-delete"));
    QCOMPARE(e.value("n").toInt(), 2);
    QCOMPARE(e.value("note").toString(), QString());
}

void TstPublishPayload::topicsUnderThePrefix()
{
    const QString prefix = QString::fromUtf8("lab/Süd");
    QCOMPARE(publishTopic(prefix, PublishTopic::Status), QString::fromUtf8("lab/Süd/status").toUtf8());
    QCOMPARE(publishTopic(prefix, PublishTopic::Run), QByteArray("lab/S\xc3\xbc"
                                                                 "d/run"));
    QCOMPARE(publishTopic(prefix, PublishTopic::Data), QByteArray("lab/S\xc3\xbc"
                                                                  "d/data"));
    QCOMPARE(publishTopic(prefix, PublishTopic::Event), QByteArray("lab/S\xc3\xbc"
                                                                   "d/event"));
}

void TstPublishPayload::linesByNumber()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("run.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Lines of different lengths, some with CR LF, across several index steps and chunks.
    QList<QByteArray> expected;
    QByteArray all;
    const int total = 3 * RecordingLines::IndexStep + 77;
    for (int i = 0; i < total; ++i) {
        const QByteArray line = QByteArray::number(i) + ',' + QByteArray(i % 97, 'x');
        expected << line;
        all += line + (i % 5 == 0 ? "\r\n" : "\n");
    }
    appendLine(file, all);

    RecordingLines lines(file.fileName());
    RecordingLines::Batch batch;
    // In order, in batches of an awkward size.
    int next = 0;
    while (next < total) {
        QVERIFY(lines.read(quint64(next), 333, &batch));
        QVERIFY(batch.count() > 0);
        QCOMPARE(batch.first, quint64(next));
        for (int i = 0; i < batch.count(); ++i)
            QCOMPARE(QByteArray(batch.line(i), batch.length(i)), expected[next + i]);
        next += batch.count();
    }
    QVERIFY(lines.read(quint64(total), 10, &batch));
    QCOMPARE(batch.count(), 0);
    QCOMPARE(lines.linesSeen(), quint64(total));
    // Anywhere, backwards and forwards, as history requests ask.
    for (int first :
         {total - 1, 0, RecordingLines::IndexStep, RecordingLines::IndexStep - 1, 2049, 5, total - 3}) {
        QVERIFY(lines.read(quint64(first), 4, &batch));
        QCOMPARE(batch.count(), qMin(4, total - first));
        for (int i = 0; i < batch.count(); ++i)
            QCOMPARE(QByteArray(batch.line(i), batch.length(i)), expected[first + i]);
    }
    // A fresh reader asked for a line far in: it finds it by scanning.
    RecordingLines fresh(file.fileName());
    QVERIFY(fresh.read(2500, 2, &batch));
    QCOMPARE(QByteArray(batch.line(1), batch.length(1)), expected[2501]);
    // Byte limit: at least one line, not much beyond the limit.
    QVERIFY(fresh.read(0, 100000, &batch, 1000));
    QVERIFY(batch.count() > 0 && batch.bytes.size() < 1000 + 200);
}

void TstPublishPayload::growingFileGivesCompleteLinesOnly()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("live.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    RecordingLines lines(file.fileName());
    RecordingLines::Batch batch;
    QVERIFY(lines.read(0, 10, &batch));
    QCOMPARE(batch.count(), 0);
    appendLine(file, "0,1,2\n1,1,");
    QVERIFY(lines.read(0, 10, &batch));
    QCOMPARE(batch.count(), 1);
    QVERIFY(lines.read(1, 10, &batch));
    QCOMPARE(batch.count(), 0); // torn: not handed out
    appendLine(file, "2\n2,5,6\n");
    QVERIFY(lines.read(1, 10, &batch));
    QCOMPARE(batch.count(), 2);
    QCOMPARE(QByteArray(batch.line(0), batch.length(0)), QByteArray("1,1,2"));
    QCOMPARE(QByteArray(batch.line(1), batch.length(1)), QByteArray("2,5,6"));
    // A file cut shorter than what was read of it is not the recording any more.
    QVERIFY(file.resize(4));
    QVERIFY(!lines.read(3, 10, &batch));
    QVERIFY(!lines.errorString().isEmpty());
}

QTEST_GUILESS_MAIN(TstPublishPayload)
#include "tst_publishpayload.moc"

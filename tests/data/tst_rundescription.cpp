// SPDX-License-Identifier: GPL-3.0-or-later
// A recording's description read back, and the event and column lines written for it.

#include "data/recordingfile.h"
#include "data/rundescription.h"

#include <QTemporaryDir>
#include <QtTest>

class TestRunDescription : public QObject
{
    Q_OBJECT

private slots:
    void readsARecordingsDescription();
    void formatsLinesExactly();
    void hugeOrBinaryFileIsReadInPart();
};

void TestRunDescription::readsARecordingsDescription()
{
    QTemporaryDir dir;
    RecordingInfo info;
    info.start = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9, 250), Qt::OffsetFromUTC, 3600);
    info.sensorCount = 3;
    info.sensitivities = {QByteArray("12.5"), QByteArray(), QByteArray("7,1 \xc2\xb5V")};
    info.program = QStringLiteral("quellspan 1.0");
    info.temperatureCoefficients = {QByteArray(), QByteArray("0.2, 25")};
    RecordingFile recording;
    QVERIFY(recording.open(dir.path(), info));
    recording.append(0.5, RecordValues{}, 6);
    recording.close();
    const QString path = descriptionFileName(recording.fileName());
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("2026-12-07_14-05-09.txt"));

    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(columnsLine(3));
    file.write(formatEventLine(0, RunEventKind::Start, QString()));
    file.write(formatEventLine(1.5, RunEventKind::Mark, QStringLiteral("heater on")));     // mark 1
    file.write(formatEventLine(2.25, RunEventKind::Mark, QStringLiteral("door\nopened"))); // mark 2
    file.write(formatEventLine(3, RunEventKind::MarkEdit, QStringLiteral("heater at 40 W"), 1));
    file.write(formatEventLine(4, RunEventKind::Pause, QString()));
    file.write(formatEventLine(5, RunEventKind::MarkDelete, QString(), 2));
    file.write(formatEventLine(6, RunEventKind::Mark, QStringLiteral("probe: moved"))); // mark 3
    file.write(formatEventLine(7, RunEventKind::MarkDelete, QString(), 3));
    file.write(formatEventLine(8, RunEventKind::MarkEdit, QStringLiteral("probe back"), 3)); // last word
    file.write(formatEventLine(9, RunEventKind::MarkEdit, QStringLiteral("no such mark"), 4));
    file.write(formatEventLine(10, RunEventKind::UnitLost, QStringLiteral("unplugged")));
    file.write("Event: x mark: bad time\nEvent: 11 jump: unknown kind\nEvent: 12 mark-edit: no number\n"
               "Event: 13 pause\nSomething new: ignored\nEvent: 14 mark:\r\n"); // mark 4
    file.close();

    RunDescription d;
    QString error;
    QVERIFY(readRunDescription(path, &d, &error));
    QCOMPARE(d.start, info.start);
    QCOMPARE(d.start.offsetFromUtc(), 3600);
    QCOMPARE(d.sensorCount, 3);
    QCOMPARE(d.sensitivities.size(), 3);
    QCOMPARE(d.sensitivities[0], QByteArray("12.5"));
    QCOMPARE(d.temperatureCoefficients, (QList<QByteArray>{QByteArray(), QByteArray("0.2, 25")}));
    QVERIFY(d.sensitivities[1].isNull());
    QCOMPARE(d.sensitivities[2], QByteArray("7,1 \xc2\xb5V"));
    QCOMPARE(d.program, info.program);
    QCOMPARE(d.samplesFile, QStringLiteral("2026-12-07_14-05-09.csv"));
    QCOMPARE(d.closedSamples, 1);
    QVERIFY(d.closed.isValid());
    QVERIFY(d.problems.isEmpty());
    QCOMPARE(d.columns, QStringList({"time_s", "q1_W/m2", "T1_C", "q2_W/m2", "T2_C", "q3_W/m2", "T3_C"}));
    QVERIFY(!d.truncated);

    struct Expected
    {
        double time;
        RunEventKind kind;
        int mark;
        QString note;
    };
    const QVector<Expected> expected = {
        {0, RunEventKind::Start, 0, ""},
        {1.5, RunEventKind::Mark, 1, "heater at 40 W"},
        {4, RunEventKind::Pause, 0, ""},
        {6, RunEventKind::Mark, 3, "probe back"},
        {10, RunEventKind::UnitLost, 0, "unplugged"},
        {14, RunEventKind::Mark, 4, ""},
    };
    QCOMPARE(d.events.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(d.events[i].time, expected[i].time);
        QCOMPARE(d.events[i].kind, expected[i].kind);
        QCOMPARE(d.events[i].markNumber, expected[i].mark);
        QCOMPARE(d.events[i].note, expected[i].note);
    }

    // A recovery note is kept.
    const RunDescription recovered = parseRunDescription("Started: 2026-01-02T03:04:05.000-05:00\nRecovered: "
                                                         "2026-01-02T05:00:00.000-05:00: the program ended; "
                                                         "3 samples kept\n");
    QCOMPARE(recovered.problems.size(), 1);
    QCOMPARE(recovered.start.offsetFromUtc(), -5 * 3600);
    QVERIFY(!recovered.closed.isValid());
}

void TestRunDescription::formatsLinesExactly()
{
    QCOMPARE(formatEventLine(12.5, RunEventKind::Mark, QStringLiteral("valve open")),
             "Event: 12.5 mark: valve open\n");
    QCOMPARE(formatEventLine(1234.567, RunEventKind::RecordingStopped, QString()),
             "Event: 1234.567 recording-stopped:\n");
    QCOMPARE(formatEventLine(1e-05, RunEventKind::MarkEdit, QStringLiteral("a\r\nb\tc\u2028d  "), 3),
             "Event: 1e-05 mark-edit 3: a  b c d  \n");
    QCOMPARE(formatEventLine(7, RunEventKind::MarkDelete, QStringLiteral("dropped"), 2),
             "Event: 7 mark-delete 2:\n");
    QCOMPARE(formatEventLine(0.001, RunEventKind::UnitSending, QString::fromUtf8("\xc3\xa9t\xc3\xa9")),
             "Event: 0.001 unit-sending: \xc3\xa9t\xc3\xa9\n");
    const QByteArrayList names = {"mark",        "start",        "pause",
                                  "reset",       "unit-lost",    "unit-back",
                                  "unit-silent", "unit-sending", "recording-stopped",
                                  "mark-edit",   "mark-delete"};
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(runEventKindName(RunEventKind(i)), names[i]);
        RunEventKind kind = RunEventKind::Mark;
        QVERIFY(runEventKindFromName(names[i], &kind));
        QCOMPARE(int(kind), i);
    }
    RunEventKind unknown = RunEventKind::Mark;
    QVERIFY(!runEventKindFromName("Mark", &unknown) && !runEventKindFromName("mark-edit 1", &unknown));
    QCOMPARE(columnsLine(1), "Columns: time_s,q1_W/m2,T1_C\n");
    QCOMPARE(columnsLine(4), "Columns: time_s,q1_W/m2,T1_C,q2_W/m2,T2_C,q3_W/m2,T3_C,q4_W/m2,T4_C\n");
    QCOMPARE(descriptionFileName(QStringLiteral("/a/b.c/run.csv")), QStringLiteral("/a/b.c/run.txt"));
    QCOMPARE(descriptionFileName(QStringLiteral("/a/b.c/run")), QStringLiteral("/a/b.c/run.txt"));
}

void TestRunDescription::hugeOrBinaryFileIsReadInPart()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("big.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Sensors: 2\nEvent: 1 mark: first\n");
    QByteArray noise(1 << 20, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((unsigned(i) * 7919u) >> 3);
    for (int i = 0; i < 17; ++i)
        file.write(noise);
    file.write("\nEvent: 2 mark: beyond the part read\n");
    file.close();
    RunDescription d;
    QString error;
    QVERIFY(readRunDescription(file.fileName(), &d, &error));
    QVERIFY(d.truncated);
    QCOMPARE(d.sensorCount, 2);
    QCOMPARE(d.events.size(), 1);
    QVERIFY(!readRunDescription(dir.filePath(QStringLiteral("missing.txt")), &d, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!readRunDescription(dir.path(), &d, &error));
}

QTEST_GUILESS_MAIN(TestRunDescription)
#include "tst_rundescription.moc"

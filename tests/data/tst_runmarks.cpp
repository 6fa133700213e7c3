// SPDX-License-Identifier: GPL-3.0-or-later
// A run's marks and events: their numbering, the lines their changes make and what those lines
// read back as; the live description receiving lines as they come; descriptions written beside a
// saved CSV, which never replace a file the program did not write.

#include "data/descriptionfile.h"
#include "data/recordingfile.h"
#include "data/runmarks.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

struct Expected
{
    double time;
    RunEventKind kind;
    QString note;
};

void compareEvents(const QByteArray &lines, const QVector<Expected> &expected)
{
    const QVector<RunEvent> events = parseRunDescription(lines).events;
    QCOMPARE(events.size(), expected.size());
    for (int i = 0; i < events.size(); ++i) {
        QCOMPARE(events[i].time, expected[i].time);
        QCOMPARE(events[i].kind, expected[i].kind);
        QCOMPARE(events[i].note, expected[i].note);
    }
}

} // namespace

class TestRunMarks : public QObject
{
    Q_OBJECT

private slots:
    void changesMakeLinesThatReadBackAsTheMarks();
    void liveDescriptionTakesLinesUntilClosedAndKeepsATornLineApart();
    void savedDescriptionNeverReplacesAForeignFile();
};

void TestRunMarks::changesMakeLinesThatReadBackAsTheMarks()
{
    RunMarks marks;
    QByteArray log;
    connect(&marks, &RunMarks::lineMade, this, [&log](const QByteArray &line) { log += line; });
    marks.addEvent(0, RunEventKind::Start, QStringLiteral("Start"));
    QCOMPARE(marks.addMark(1.5), 1);
    QCOMPARE(marks.addMark(2.25), 2);
    QVERIFY(marks.setNote(1, QStringLiteral("heater\non")));
    QVERIFY(!marks.setNote(1, QStringLiteral("heater on"))); // the same, once made plain
    QVERIFY(!marks.setNote(2, QStringLiteral("  \t ")));     // blank
    QVERIFY(!marks.setNote(7, QStringLiteral("no such mark")));
    QVERIFY(marks.deleteMark(2));
    QVERIFY(!marks.deleteMark(2));
    QVERIFY(!marks.setNote(2, QStringLiteral("deleted")));
    marks.addEvent(3, RunEventKind::Mark, QStringLiteral("not the program's to place"));
    QCOMPARE(marks.addMark(1234.5678), 3); // a number is never given again
    marks.addEvent(1240, RunEventKind::UnitBack, QStringLiteral("Unit back after 2.5 s at /dev/ttyACM0"));

    QCOMPARE(log, QByteArray("Event: 0 start: Start\n"
                             "Event: 1.5 mark: Mark 1\n"
                             "Event: 2.25 mark: Mark 2\n"
                             "Event: 1.5 mark-edit 1: heater on\n"
                             "Event: 2.25 mark-delete 2:\n"
                             "Event: 1234.5678 mark: Mark 3\n"
                             "Event: 1240 unit-back: Unit back after 2.5 s at /dev/ttyACM0\n"));
    const QVector<Expected> expected = {
        {0, RunEventKind::Start, "Start"},
        {1.5, RunEventKind::Mark, "heater on"},
        {1234.5678, RunEventKind::Mark, "Mark 3"},
        {1240, RunEventKind::UnitBack, "Unit back after 2.5 s at /dev/ttyACM0"},
    };
    // The append-only log and the run as it stands say the same.
    compareEvents(log, expected);
    compareEvents(marks.currentLines(), expected);
    QVERIFY(!marks.currentLines().contains("mark-"));

    // Read back from the log (as a review window reads a description), the marks keep their
    // numbers and notes: mark 3 is still mark 3, and mark 2's number stays unused.
    RunMarks readBack;
    for (const RunEvent &e : parseRunDescription(log).events)
        readBack.addRecorded(e);
    QCOMPARE(readBack.currentLines(), marks.currentLines());
    QCOMPARE(readBack.entryOfMark(2), -1);
    QCOMPARE(readBack.entries()[readBack.entryOfMark(3)].event.time, 1234.5678);
    QVERIFY(readBack.setNote(1, QStringLiteral("heater off")));

    // A note is kept as the file keeps it, and at most so long.
    QVERIFY(marks.setNote(3, QString(5000, QLatin1Char('x'))));
    QCOMPARE(marks.entries()[marks.entryOfMark(3)].event.note.size(), RunMarks::MaxNoteLength);

    // A new run numbers from 1 again.
    marks.clear();
    QVERIFY(marks.entries().isEmpty());
    QCOMPARE(marks.addMark(0.5), 1);
}

void TestRunMarks::liveDescriptionTakesLinesUntilClosedAndKeepsATornLineApart()
{
    QTemporaryDir dir;
    RecordingInfo info;
    info.start = QDateTime::currentDateTime();
    info.sensorCount = 2;
    RecordingFile recording;
    QVERIFY(recording.open(dir.path(), info));
    const QString path = descriptionFileName(recording.fileName());
    const QByteArray head = readAll(path);
    QVERIFY2(head.contains("\nColumns: time_s,q1_W/m2,T1_C,q2_W/m2,T2_C\n"), head.constData());
    const QByteArray line = formatEventLine(0.25, RunEventKind::Mark, QStringLiteral("Mark 1"));
    recording.appendToDescription(line);
    recording.close();
    recording.appendToDescription("Event: 9 pause: after closing\n");
    const QByteArray text = readAll(path);
    QVERIFY2(text.indexOf(line) > 0 && text.indexOf(line) < text.indexOf("Closed: ") &&
                 !text.contains("after closing"),
             text.constData());

    // A line torn by a crash stays apart from the note that follows it.
    writeFile(path, head + "Event: 3 mark: torn");
    noteInDescription(path, QStringLiteral("Recovered: kept"));
    QCOMPARE(readAll(path), head + "Event: 3 mark: torn\nRecovered: kept\n");
}

void TestRunMarks::savedDescriptionNeverReplacesAForeignFile()
{
    QTemporaryDir dir;
    const QByteArray text =
        descriptionHead(DescriptionOf::SavedRun, QStringLiteral("run.csv"), RecordingInfo());
    QString error;
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    QCOMPARE(saveDescription(path, text, &error), DescriptionSaved::Written);
    QCOMPARE(readAll(path), text);
    // Its own description (saved or live) is replaced by a new one.
    writeFile(path, "Quellspan live recording\r\nSamples: old\n");
    QCOMPARE(saveDescription(path, text, &error), DescriptionSaved::Written);
    QCOMPARE(readAll(path), text);

    // Anything else is left exactly as it is, an empty file too.
    for (const QByteArray &foreign : {QByteArray("My notes on the run\nQuellspan saved run\n"), QByteArray(),
                                      QByteArray("Quellspan saved run, copied by hand\n")}) {
        writeFile(path, foreign);
        QCOMPARE(saveDescription(path, text, &error), DescriptionSaved::Foreign);
        QCOMPARE(readAll(path), foreign);
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.txt")));
    for (const QString &name : {QStringLiteral("folder.txt"), QStringLiteral("missing/run.txt")}) {
        error.clear();
        QCOMPARE(saveDescription(dir.filePath(name), text, &error), DescriptionSaved::Failed);
        QVERIFY(!error.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestRunMarks)
#include "tst_runmarks.moc"

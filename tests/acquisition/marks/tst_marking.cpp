// SPDX-License-Identifier: GPL-3.0-or-later
// Marks in the acquisition window: Ctrl+M wherever the focus is, notes edited on the chart and in
// the marks window, the program's own events through a run (start, pause, reset, unplug, replug,
// silence, a full disk), all of it in the live description as it happens and kept through a
// SIGKILL and the recovery after it; Save as writing the description beside the CSV.

#include "acquisition/marks/marksdialog.h"
#include "acquisition/marks/runmarker.h"
#include "acquisition/runsafety/liverecorder.h"
#include "charts/chartfeeder.h"
#include "charts/chartmarks.h"
#include "charts/chartmarksview.h"
#include "data/recordingsfolder.h"
#include "data/recovery.h"
#include "data/runmarks.h"
#include "support/acquisitionrig.h"
#include "support/filesizelimit.h"

#include <QAbstractButton>
#include <QProcess>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include <cstdio>
#include <optional>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString liveDescription(const AcquisitionRig &rig)
{
    return descriptionFileName(rig.window->liveRecorder()->fileName());
}

// The kinds of the events a description holds, in order, as its lines spell them.
QByteArrayList kindsIn(const QByteArray &description)
{
    QByteArrayList kinds;
    for (const RunEvent &e : parseRunDescription(description).events)
        kinds << runEventKindName(e.kind);
    return kinds;
}

RunMarks *marksOf(const AcquisitionRig &rig)
{
    return rig.window->runMarker()->marks();
}

void mouseAt(QWidget *w, QEvent::Type type, const QPointF &pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, w->mapToGlobal(pos.toPoint()), button, button, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// The child of the SIGKILL test: records, marks, says where once the mark is on disk, and waits.
int markAndWait()
{
    setRecordingsFolder(qEnvironmentVariable("QUELLSPAN_MARKING_CHILD"));
    AcquisitionRig rig(1);
    rig.start();
    rig.pty.write("1,20\n2,21\n");
    while (rig.records() < 2)
        QTest::qWait(20);
    rig.window->runMarker()->placeMark();
    const QString description = liveDescription(rig);
    while (!readAll(description).contains("mark: Mark 1\n"))
        QTest::qWait(20);
    std::printf("%s\n", qPrintable(description));
    std::fflush(stdout);
    for (;;)
        QTest::qWait(1000);
}

} // namespace

class TestMarking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init()
    {
        QVERIFY(folder.isValid());
        setRecordingsFolder(folder.filePath(QStringLiteral("recordings-%1").arg(++runs)));
    }

    void ctrlMMarksTheLatestRecordWhateverHasTheFocus();
    void notesAreEditedOnTheChartAndInTheList();
    void programEventsFollowTheRun();
    void aStoppedRecordingIsNotedInItsDescription();
    void aKillAfterAMarkKeepsIt();
    void saveAsWritesTheDescriptionBesideTheCsv();
    void saveAsWritesThroughNoLinkTheUserDidNotName();

private:
    QTemporaryDir folder;
    int runs = 0;
};

void TestMarking::ctrlMMarksTheLatestRecordWhateverHasTheFocus()
{
    AcquisitionRig rig(4);
    rig.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.window));
    rig.start();
    QList<QAbstractButton *> buttons;
    // The window's own buttons, not those of the panels it holds as windows of their own.
    for (QPushButton *b : rig.window->findChildren<QPushButton *>())
        if (b->window() == rig.window)
            buttons << b;
    for (QCheckBox *b : rig.window->findChildren<QCheckBox *>())
        if (b->window() == rig.window)
            buttons << b;
    QCOMPARE(buttons.size(), 7); // Start, Pause, Reset and the four sensors' boxes
    QVector<double> marked;
    for (QAbstractButton *button : buttons) {
        const bool checked = button->isChecked();
        rig.send("1,2,3,4,5,6,7," + QByteArray::number(marked.size()) + "\n");
        QTRY_COMPARE(rig.records(), marked.size() + 1);
        button->setFocus();
        QCOMPARE(QApplication::focusWidget(), button);
        QTest::keyClick(button, Qt::Key_M, Qt::ControlModifier);
        marked << rig.window->recordedTimes().last();
        // A mark, and nothing else: the button was not pressed.
        QCOMPARE(button->isChecked(), checked);
        QVERIFY(rig.window->isAcquiring());
        QCOMPARE(rig.records(), marked.size());
    }
    // Also from the charts' context menu.
    QAction *mark = rig.widget<QAction>("actionMark");
    QVERIFY(rig.widget<QCustomPlot>("plot")->actions().contains(mark));
    mark->trigger();
    marked << rig.window->recordedTimes().last();

    QVector<double> times;
    for (const RunMarks::Entry &e : marksOf(rig)->entries()) {
        if (e.isMark())
            times << e.event.time;
    }
    QCOMPARE(times, marked);
    // In the live description, each at once: the marks' lines hold the same times.
    QTRY_COMPARE(kindsIn(readAll(liveDescription(rig))).count("mark"), marked.size());
    QVector<double> written;
    for (const RunEvent &e : parseRunDescription(readAll(liveDescription(rig))).events) {
        if (e.kind == RunEventKind::Mark)
            written << e.time;
    }
    QCOMPARE(written, marked);
}

void TestMarking::notesAreEditedOnTheChartAndInTheList()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    rig.send("1,20\n");
    QTest::qWait(300);
    rig.send("5,25\n");
    QTRY_COMPARE(rig.records(), 2);
    RunMarks *marks = marksOf(rig);
    RunMarker *marker = rig.window->runMarker();
    marker->placeMark();
    const int entry = marks->entryOfMark(1);
    ChartFeeder *feeder = rig.window->chartFeeder();
    QCustomPlot *flux = feeder->chart(0);
    ChartMarks *drawn = marker->chartView()->chartMarks(0);
    QTRY_VERIFY(!drawn->labelRect(entry).isEmpty());
    const QPointF label = drawn->labelRect(entry).center();

    // Hovering the line shows the note and the time.
    const double x = flux->xAxis->coordToPixel(marks->entries()[entry].event.time);
    mouseAt(flux, QEvent::MouseMove, QPointF(x + 1, flux->axisRect()->rect().bottom() - 10));
    QVERIFY2(QToolTip::text().contains(QStringLiteral("Mark 1")) &&
                 QToolTip::text().contains(
                     QStringLiteral("t = %1 s").arg(rig.window->recordedTimes().last(), 0, 'f', 3)),
             qPrintable(QToolTip::text()));

    // A double-click on the label edits the note in place; the view is left as it was.
    feeder->setFollowing(false);
    mouseAt(flux, QEvent::MouseButtonDblClick, label);
    QLineEdit *editor = marker->chartView()->editor();
    QVERIFY(editor && editor->isVisible());
    QCOMPARE(editor->text(), QStringLiteral("Mark 1"));
    QVERIFY(!feeder->isFollowing());
    editor->setText(QStringLiteral("heater on"));
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(!marker->chartView()->editor());
    QCOMPARE(marks->entries()[entry].event.note, QStringLiteral("heater on"));
    // Escape keeps the note as it was.
    marker->chartView()->editNote(0, entry);
    marker->chartView()->editor()->setText(QStringLiteral("not this"));
    QTest::keyClick(marker->chartView()->editor(), Qt::Key_Escape);
    QCOMPARE(marks->entries()[entry].event.note, QStringLiteral("heater on"));
    // A double-click elsewhere follows the run again.
    mouseAt(flux, QEvent::MouseButtonDblClick, QPointF(x + 40, flux->axisRect()->rect().bottom() - 10));
    QVERIFY(feeder->isFollowing());

    // The list: the Start event and the mark; only the mark can be edited and deleted.
    rig.widget<QAction>("actionMarks")->trigger();
    MarksDialog *list = marker->listWindow();
    QVERIFY(list && list->isVisible() && !list->isModal());
    QAbstractItemModel *model = list->table()->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, MarksTableModel::KindColumn).data().toString(), QStringLiteral("Start"));
    QVERIFY(!(model->flags(model->index(0, MarksTableModel::NoteColumn)) & Qt::ItemIsEditable));
    list->table()->selectRow(0);
    QVERIFY(!list->deleteButton()->isEnabled());
    marker->placeMark(); // mark 2 comes while the list is open
    QCOMPARE(model->rowCount(), 3);
    QVERIFY(model->setData(model->index(2, MarksTableModel::NoteColumn), QStringLiteral("door opened")));
    QCOMPARE(marks->entries()[marks->entryOfMark(2)].event.note, QStringLiteral("door opened"));
    list->table()->selectRow(1);
    QVERIFY(list->deleteButton()->isEnabled());
    list->deleteButton()->click();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(1, MarksTableModel::NoteColumn).data().toString(), QStringLiteral("door opened"));

    // Every change went to the description as a line of its own, after the lines before.
    const double t = marks->entries()[entry].event.time;
    const QByteArray expected = formatEventLine(t, RunEventKind::MarkEdit, QStringLiteral("heater on"), 1) +
                                formatEventLine(t, RunEventKind::Mark, QStringLiteral("Mark 2")) +
                                formatEventLine(t, RunEventKind::MarkEdit, QStringLiteral("door opened"), 2) +
                                formatEventLine(t, RunEventKind::MarkDelete, QString(), 1);
    QTRY_VERIFY2(readAll(liveDescription(rig)).endsWith(expected), readAll(liveDescription(rig)).constData());
    const QVector<RunEvent> read = parseRunDescription(readAll(liveDescription(rig))).events;
    QCOMPARE(read.size(), 2);
    QCOMPARE(read[1].note, QStringLiteral("door opened"));
}

void TestMarking::programEventsFollowTheRun()
{
    QList<PortEntry> ports;
    AcquisitionRig rig(1);
    setPortListSource([&ports] { return ports; });
    rig.panel->portWatcher()->setSettleTime(100);
    rig.start();
    rig.send("1,20\n");
    QTRY_COMPARE(rig.records(), 1);
    const QString firstRun = liveDescription(rig);
    rig.pause();
    rig.pause(); // changes nothing: not noted
    rig.start();
    rig.send("2,21\n");
    QTRY_COMPARE(rig.records(), 2);
    const double lastOfFirstRun = rig.window->recordedTimes().last();
    rig.reset();
    rig.send("3,22\n");
    QTRY_COMPARE(rig.records(), 1);
    const QString secondRun = liveDescription(rig);
    QVERIFY(secondRun != firstRun);

    // The unit unplugged, back on another line, then silent, then sending again.
    rig.pty.closeMaster();
    rig.pty.closeSlave();
    QTRY_VERIFY_WITH_TIMEOUT(kindsIn(readAll(secondRun)).contains("unit-lost"), 5000);
    PseudoTerminal second;
    ports = {measuringUnitPort(second.slavePath(), QStringLiteral("test unit"))};
    QTRY_VERIFY_WITH_TIMEOUT(kindsIn(readAll(secondRun)).contains("unit-back"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(kindsIn(readAll(secondRun)).contains("unit-silent"),
                             PortWatcher::SilenceLimitMs + 3000);
    QTest::qWait(1500); // silence goes on being reported: noted once
    QVERIFY(second.write("4,23\n"));
    QTRY_COMPARE(rig.records(), 2);
    rig.pause();
    setPortListSource(nullptr);

    // The first run ends with its reset, before the recording was closed.
    const QByteArray first = readAll(firstRun);
    QCOMPARE(kindsIn(first), QByteArrayList({"start", "pause", "start", "reset"}));
    const QVector<RunEvent> firstEvents = parseRunDescription(first).events;
    QVERIFY(firstEvents.last().time >= lastOfFirstRun);
    QVERIFY(first.indexOf(" reset: ") < first.indexOf("Closed: "));
    // The second starts with it, at its own time 0.
    QTRY_COMPARE(kindsIn(readAll(secondRun)),
                 QByteArrayList({"reset", "unit-lost", "unit-back", "unit-silent", "unit-sending", "pause"}));
    const QByteArray secondText = readAll(secondRun);
    const QVector<RunEvent> events = parseRunDescription(secondText).events;
    QVERIFY(events[0].time < 1);
    QVERIFY2(events[2].note.contains(QStringLiteral("after")) && events[2].note.contains(second.slavePath()),
             qPrintable(events[2].note));
    for (int i = 1; i < events.size(); ++i)
        QVERIFY(events[i].time >= events[i - 1].time);
    // The window's list is the same run.
    QCOMPARE(marksOf(rig)->entries().size(), events.size());
}

void TestMarking::aStoppedRecordingIsNotedInItsDescription()
{
    AcquisitionRig rig(4);
    rig.start();
    rig.send("1,2,3,4,5,6,7,8\n");
    QTRY_COMPARE(rig.records(), 1);
    rig.pause();
    rig.start();
    const QString description = liveDescription(rig);
    {
        // Room for the description's lines, not for the samples.
        std::optional<FileSizeLimit> limit(std::in_place, 3000);
        QByteArray lines;
        for (int i = 0; i < 100; ++i)
            lines += "10.123456,20.123456,30.123456,40.123456,50.123456,60.123456,70.123456,80.123456\n";
        rig.send(lines);
        QTRY_COMPARE(rig.records(), 101);
        rig.pause();
        QTRY_VERIFY(!rig.window->liveRecorder()->holdsWholeRun());
        QTRY_VERIFY(kindsIn(readAll(description)).contains("recording-stopped"));
    }
    const QVector<RunEvent> events = parseRunDescription(readAll(description)).events;
    const auto stopped = std::find_if(events.begin(), events.end(), [](const RunEvent &e) {
        return e.kind == RunEventKind::RecordingStopped;
    });
    QVERIFY2(stopped->note.startsWith(QStringLiteral("Recording stopped: ")), qPrintable(stopped->note));
}

void TestMarking::aKillAfterAMarkKeepsIt()
{
    const QString recordings = recordingsFolder();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELLSPAN_MARKING_CHILD"), recordings);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 60000);
    const QString description = QString::fromLocal8Bit(child.readLine().trimmed());
    child.kill(); // SIGKILL: no chance to close anything
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QList<RecoveredRecording> recovered = recoverAbandonedRecordings(recordings);
    QCOMPARE(recovered.size(), 1);
    const QByteArray text = readAll(description);
    QVERIFY2(text.indexOf("mark: Mark 1\n") < text.indexOf("Recovered: "), text.constData());
    const RunDescription read = parseRunDescription(text);
    QCOMPARE(kindsIn(text), QByteArrayList({"start", "mark"}));
    QCOMPARE(read.events[1].note, QStringLiteral("Mark 1"));
    QCOMPARE(read.problems.size(), 1);
}

void TestMarking::saveAsWritesTheDescriptionBesideTheCsv()
{
    QTemporaryDir dir;
    AcquisitionRig rig(2);
    rig.start();
    rig.send("1,20,3,21\n5,22,7,23\n");
    QTRY_COMPARE(rig.records(), 2);
    RunMarks *marks = marksOf(rig);
    rig.window->runMarker()->placeMark();
    marks->setNote(1, QStringLiteral("heater on"));
    rig.window->runMarker()->placeMark();
    marks->deleteMark(2);
    rig.pause();
    const QString message = QStringLiteral("Saved 2 samples to %1.");
    QStatusBar *status = rig.widget<QStatusBar>("statusbar");

    const QString csv = dir.filePath(QStringLiteral("run.csv"));
    rig.saveAs(csv);
    QCOMPARE(status->currentMessage(), message.arg(QDir::toNativeSeparators(csv)));
    QCOMPARE(readAll(csv), rig.expectedCsv(2)); // the CSV as ever
    const QByteArray text = readAll(dir.filePath(QStringLiteral("run.txt")));
    QVERIFY2(text.startsWith("Quellspan saved run\n") && text.contains("\nSaved: ") &&
                 text.contains(", 2 samples\n"),
             text.constData());
    const RunDescription read = parseRunDescription(text);
    QCOMPARE(read.samplesFile, QStringLiteral("run.csv"));
    QCOMPARE(read.sensorCount, 2);
    QCOMPARE(read.columns, QStringList({"time_s", "q1_W/m2", "T1_C", "q2_W/m2", "T2_C"}));
    QCOMPARE(kindsIn(text), QByteArrayList({"start", "mark", "pause"}));
    QCOMPARE(read.events[1].note, QStringLiteral("heater on"));
    QCOMPARE(read.events[1].time, rig.window->recordedTimes().last());

    // A file of that name the program did not write is left alone, and the status bar says so.
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile f(notes);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("my own notes\n");
    }
    const QString notesCsv = dir.filePath(QStringLiteral("notes.csv"));
    rig.saveAs(notesCsv);
    QCOMPARE(readAll(notesCsv), rig.expectedCsv(2));
    QCOMPARE(readAll(notes), QByteArray("my own notes\n"));
    QVERIFY2(status->currentMessage().startsWith(message.arg(QDir::toNativeSeparators(notesCsv))) &&
                 status->currentMessage().contains(QStringLiteral("not written")) &&
                 status->currentMessage().contains(QDir::toNativeSeparators(notes)),
             qPrintable(status->currentMessage()));

    // Data saved as .txt: its description would be the data itself.
    const QString dataAsText = dir.filePath(QStringLiteral("data.txt"));
    rig.saveAs(dataAsText);
    QCOMPARE(readAll(dataAsText), rig.expectedCsv(2));
    QVERIFY2(status->currentMessage().contains(QStringLiteral("No description")),
             qPrintable(status->currentMessage()));

    // Saved again: its own description is replaced by the new one.
    rig.window->runMarker()->placeMark();
    rig.saveAs(csv);
    QCOMPARE(kindsIn(readAll(dir.filePath(QStringLiteral("run.txt")))),
             QByteArrayList({"start", "mark", "pause", "mark"}));
}

// The description beside a saved CSV is a file the user did not name: a link at its name, dangling
// or leading to a description of ours, is left alone. A link named as the CSV is followed, and
// the status bar names the file written.
void TestMarking::saveAsWritesThroughNoLinkTheUserDidNotName()
{
    QTemporaryDir dir, elsewhere;
    AcquisitionRig rig(1);
    rig.start();
    rig.send("1,20\n2,21\n");
    QTRY_COMPARE(rig.records(), 2);
    rig.pause();
    QStatusBar *status = rig.widget<QStatusBar>("statusbar");
    const auto at = [](const QTemporaryDir &d, const char *name) { return d.filePath(QLatin1String(name)); };

    // A dangling link at the description's name: nothing is made where it leads.
    QVERIFY(QFile::link(at(elsewhere, "made.txt"), at(dir, "a.txt")));
    rig.saveAs(at(dir, "a.csv"));
    QCOMPARE(readAll(at(dir, "a.csv")), rig.expectedCsv(1));
    QVERIFY(!QFileInfo::exists(at(elsewhere, "made.txt")));
    QVERIFY(QFileInfo(at(dir, "a.txt")).isSymLink());
    QVERIFY2(status->currentMessage().contains(QStringLiteral("symbolic link")) &&
                 status->currentMessage().contains(QStringLiteral("was not written")),
             qPrintable(status->currentMessage()));

    // A link to a file that looks like one of our descriptions: not replaced.
    const QByteArray ours("Quellspan saved run\nSamples: theirs.csv\n");
    {
        QFile f(at(elsewhere, "theirs.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(ours);
    }
    QVERIFY(QFile::link(at(elsewhere, "theirs.txt"), at(dir, "b.txt")));
    rig.saveAs(at(dir, "b.csv"));
    QCOMPARE(readAll(at(elsewhere, "theirs.txt")), ours);
    QVERIFY(QFileInfo(at(dir, "b.txt")).isSymLink());

    // The CSV's own name a dangling link: the CSV goes where it leads, and the status bar says so.
    QVERIFY(QFile::link(at(elsewhere, "target.csv"), at(dir, "c.csv")));
    rig.saveAs(at(dir, "c.csv"));
    QCOMPARE(readAll(at(elsewhere, "target.csv")), rig.expectedCsv(1));
    QVERIFY(QFileInfo(at(dir, "c.csv")).isSymLink());
    QVERIFY2(
        status->currentMessage().startsWith(QStringLiteral("Saved 2 samples to %1 (through the link %2).")
                                                .arg(QDir::toNativeSeparators(at(elsewhere, "target.csv")),
                                                     QDir::toNativeSeparators(at(dir, "c.csv")))),
        qPrintable(status->currentMessage()));
    QVERIFY(readAll(at(dir, "c.txt")).startsWith("Quellspan saved run\n")); // beside the name chosen
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (qEnvironmentVariableIsSet("QUELLSPAN_MARKING_CHILD"))
        return markAndWait();
    TestMarking test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_marking.moc"

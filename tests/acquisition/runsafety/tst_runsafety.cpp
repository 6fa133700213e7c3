// SPDX-License-Identifier: GPL-3.0-or-later
// What keeps a run from being lost in the acquisition window: the live recording beside it, a
// full disk that stops only the recording, the question before closing unsaved data, and the
// status bar's reports of lines not recorded and of saves.

#include "acquisition/marks/runmarker.h"
#include "acquisition/runsafety/closeguard.h"
#include "acquisition/runsafety/liverecorder.h"
#include "data/recordingsfolder.h"
#include "data/rundescription.h"
#include "data/runmarks.h"
#include "support/acquisitionrig.h"
#include "support/filesizelimit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString message(const AcquisitionRig &rig)
{
    return rig.widget<QStatusBar>("statusbar")->currentMessage();
}

QString recordingLabel(const AcquisitionRig &rig)
{
    return rig.window->findChild<QLabel *>(LiveRecorder::labelName())->text();
}

// Lines of four sensors with values that need many digits.
QByteArray fourSensorLines(int count, int first = 0)
{
    QByteArray out;
    for (int i = first; i < first + count; ++i) {
        for (int k = 0; k < 8; ++k)
            out += QByteArray::number(i * 1.0001 + k * 100.37, 'g', 10) + (k < 7 ? "," : "\n");
    }
    return out;
}

// Lines of any sensor count, each value with many digits, so that lines are long.
QByteArray sensorLines(int sensors, int count, int first = 0)
{
    QByteArray out;
    for (int i = first; i < first + count; ++i) {
        for (int k = 0; k < 2 * sensors; ++k)
            out += QByteArray::number(i * 1.0001 + k * 100.37, 'g', 12) + (k < 2 * sensors - 1 ? "," : "\n");
    }
    return out;
}

// The number a text gives after words ("holds only the first 61 samples"), or -1.
qint64 countAfter(const QString &text, const QString &words)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QRegularExpression::escape(words) + QStringLiteral(" (\\d+) sample")).match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// Answers the unsaved-data question with one of its buttons; a save dialog that follows is
// given fileName (empty: cancelled). Records the question's texts.
class QuestionAnswerer : public QObject
{
public:
    QuestionAnswerer(QMessageBox::StandardButton answer, const QString &fileName)
        : answer(answer), file(fileName)
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, &QuestionAnswerer::poll);
        timer.start();
    }
    int questions = 0;
    QString text, informativeText;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == handling)
            return;
        handling = modal;
        QTimer::singleShot(0, this, [this, modal] {
            if (auto *box = qobject_cast<QMessageBox *>(modal);
                box && box->objectName() == CloseGuard::boxName()) {
                ++questions;
                text = box->text();
                informativeText = box->informativeText();
                box->button(answer)->click();
            } else if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && !file.isEmpty()) {
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(file);
                static_cast<QDialog *>(dialog)->accept();
            } else if (auto *other = qobject_cast<QDialog *>(modal)) {
                other->reject();
            }
            handling = nullptr;
        });
    }
    QTimer timer;
    QMessageBox::StandardButton answer;
    QString file;
    QWidget *handling = nullptr;
};

} // namespace

class TestRunSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        // Closing the window under test must not end the test's own event loops.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init()
    {
        QVERIFY(folder.isValid());
        setRecordingsFolder(folder.filePath(QStringLiteral("recordings")));
    }

    void recordingHoldsWhatSaveAsWritesAndResetKeepsIt();
    void descriptionHoldsTheSensitivitiesSent();
    void fullDiskStopsOnlyTheRecording();
    void theCountToldIsWhatTheFileHolds_data();
    void theCountToldIsWhatTheFileHolds();
    void marksKeptBackAreToldOnceAndWrittenWhenThereIsRoom();
    void recordingThatCannotStartIsReported();
    void closingAsksOnlyWithUnsavedData_data();
    void closingAsksOnlyWithUnsavedData();
    void samplesArrivingDuringTheCloseSaveAreSaid_data();
    void samplesArrivingDuringTheCloseSaveAreSaid();
    void discardedLinesAndAMissingCountAreReported();

private:
    QTemporaryDir folder;
};

void TestRunSafety::recordingHoldsWhatSaveAsWritesAndResetKeepsIt()
{
    const QString recordings = recordingsFolder();
    QByteArray firstRun;
    QString firstFile;
    {
        AcquisitionRig rig(4);
        QVERIFY(recordingLabel(rig).startsWith(QStringLiteral("Recording starts")));
        rig.start();
        rig.send(fourSensorLines(30));
        QTRY_COMPARE(rig.records(), 30);
        firstFile = rig.window->liveRecorder()->fileName();
        QVERIFY2(firstFile.startsWith(recordings), qPrintable(firstFile));
        QVERIFY(recordingLabel(rig).contains(QFileInfo(firstFile).fileName()));
        firstRun = rig.expectedCsv(4);

        // Pause has what was taken written out; Reset closes the file, complete, and says where.
        rig.pause();
        QTRY_COMPARE(readAll(firstFile), firstRun);
        rig.start();
        rig.reset();
        QVERIFY2(message(rig).contains(QDir::toNativeSeparators(firstFile)) &&
                     message(rig).contains(QStringLiteral("30 samples")),
                 qPrintable(message(rig)));
        QVERIFY(!QFile::exists(QString(firstFile).replace(QStringLiteral(".csv"), QStringLiteral(".lock"))));

        // Recording goes on after the reset, into a new file.
        rig.send(fourSensorLines(7, 100));
        QTRY_COMPARE(rig.records(), 7);
        const QString secondFile = rig.window->liveRecorder()->fileName();
        QVERIFY(secondFile != firstFile);
        const QString saved = folder.filePath(QStringLiteral("saved.csv"));
        rig.saveAs(saved);
        QCOMPARE(message(rig), QStringLiteral("Saved 7 samples to %1.").arg(QDir::toNativeSeparators(saved)));
        rig.pause();
        const QByteArray savedBytes = readAll(saved);
        QCOMPARE(savedBytes, rig.expectedCsv(4));
        // The window goes; its recording is then complete and the same as the save.
        rig.panel.reset();
        QCOMPARE(readAll(secondFile), savedBytes);
        const QByteArray description =
            readAll(QString(secondFile).replace(QStringLiteral(".csv"), QStringLiteral(".txt")));
        QVERIFY2(description.contains("Sensors: 4\n") && description.contains("Closed: ") &&
                     description.contains("7 samples"),
                 description.constData());
    }
    QCOMPARE(readAll(firstFile), firstRun);
    QCOMPARE(QDir(recordings).entryList({QStringLiteral("*.csv")}).size(), 2);
}

void TestRunSafety::descriptionHoldsTheSensitivitiesSent()
{
    // Sent from the control panel after the acquisition window opened: the recording, begun later,
    // names what the unit was sent, an empty text as empty, and no sensor that was sent nothing.
    AcquisitionRig rig(4);
    const auto sendSensitivity = [&](int sensor, const QString &text) {
        rig.panel->findChild<QLineEdit *>(QStringLiteral("setS%1Edit").arg(sensor))->setText(text);
        rig.panel->findChild<QPushButton *>(QStringLiteral("setS%1Btn").arg(sensor))->click();
    };
    sendSensitivity(1, QStringLiteral("12.5"));
    sendSensitivity(2, QString());
    sendSensitivity(3, QStringLiteral("9,87"));
    rig.start();
    rig.send(fourSensorLines(3));
    QTRY_COMPARE(rig.records(), 3);
    const QString recording = rig.window->liveRecorder()->fileName();
    rig.panel.reset();
    const QByteArray description = readAll(descriptionFileName(recording));
    QVERIFY2(description.contains("Sensitivity of sensor 1 (uV/(W/m2)): 12.5\n") &&
                 description.contains("Sensitivity of sensor 2 (uV/(W/m2)): \n") &&
                 description.contains("Sensitivity of sensor 3 (uV/(W/m2)): 9,87\n") &&
                 description.contains("Sensitivity of sensor 4 (uV/(W/m2)): (not sent)\n"),
             description.constData());
}

void TestRunSafety::fullDiskStopsOnlyTheRecording()
{
    // A file-size limit makes the recording's writes fail as on a full disk.
    AcquisitionRig rig(4);
    rig.start();
    rig.send(fourSensorLines(5));
    QTRY_COMPARE(rig.records(), 5);
    rig.pause(); // on disk now
    rig.start();

    std::optional<FileSizeLimit> limit(std::in_place, 3000);
    for (int batch = 0; batch < 10; ++batch)
        rig.send(fourSensorLines(20, 5 + 20 * batch));
    rig.pause();
    QTRY_VERIFY(message(rig).startsWith(QStringLiteral("Live recording stopped")));
    limit.reset();

    QVERIFY2(message(rig).contains(QStringLiteral("Save as")), qPrintable(message(rig)));
    QVERIFY(recordingLabel(rig).startsWith(QStringLiteral("Not recording")));
    // The run itself took everything and goes on.
    QCOMPARE(rig.records(), 205);
    rig.start();
    rig.send(fourSensorLines(1, 999));
    QTRY_COMPARE(rig.records(), 206);
    // The recording is a clean beginning of the run; a save with room again has all of it.
    const QByteArray onDisk = readAll(rig.window->liveRecorder()->fileName());
    QVERIFY(onDisk.size() > 0 && onDisk.size() <= 3000 && onDisk.endsWith('\n'));
    QVERIFY(rig.expectedCsv(4).startsWith(onDisk));
    const QString saved = folder.filePath(QStringLiteral("after-full-disk.csv"));
    rig.saveAs(saved);
    QCOMPARE(readAll(saved), rig.expectedCsv(4));
}

void TestRunSafety::theCountToldIsWhatTheFileHolds_data()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<int>("linesPerSync");
    QTest::addColumn<int>("limit"); // bytes the disk takes
    // The failing write crosses a page boundary, or stops short of one; one line or many per batch.
    QTest::newRow("N = 1, 5 lines a batch, past a page") << 1 << 5 << 4096 + 50;
    QTest::newRow("N = 2, 40 lines a batch, short of a page") << 2 << 40 << 4096 - 10;
    QTest::newRow("N = 4, 20 lines a batch, past two pages") << 4 << 20 << 2 * 4096 + 100;
    QTest::newRow("N = 4, 96 lines a batch, past three pages") << 4 << 96 << 3 * 4096 + 7;
}

// A full disk in the middle of a batch: the message, the close question and the quit note give
// the number of samples the file holds, to the record.
void TestRunSafety::theCountToldIsWhatTheFileHolds()
{
    QFETCH(int, sensors);
    QFETCH(int, linesPerSync);
    QFETCH(int, limit);
    AcquisitionRig rig(sensors);
    rig.start();
    std::optional<FileSizeLimit> disk(std::in_place, rlim_t(limit));
    int sent = 0;
    while (!message(rig).startsWith(QStringLiteral("Live recording stopped")) && sent < 20000) {
        rig.send(sensorLines(sensors, linesPerSync, sent));
        sent += linesPerSync;
        rig.window->liveRecorder()->syncSoon();
    }
    QTRY_VERIFY(message(rig).startsWith(QStringLiteral("Live recording stopped")));
    // More samples after the failure go to memory only.
    rig.send(sensorLines(sensors, linesPerSync, sent));
    disk.reset();

    const QString file = rig.window->liveRecorder()->fileName();
    const qint64 lines = readAll(file).count('\n');
    QVERIFY(lines > 0 && lines < rig.records());
    QCOMPARE(countAfter(message(rig), QStringLiteral("The first")), lines);
    QuestionAnswerer answerer(QMessageBox::Cancel, QString());
    QVERIFY(!rig.window->close());
    QCOMPARE(answerer.questions, 1);
    QCOMPARE(countAfter(answerer.informativeText, QStringLiteral("holds only the first")), lines);
    QCOMPARE(readAll(file).count('\n'), lines); // nothing written after
    QVERIFY(rig.expectedCsv(sensors).startsWith(readAll(file)));
}

// Marks placed while the disk is full: no description line is torn, the operator is told once,
// the marks stay in the window, and when there is room again they are written in order.
void TestRunSafety::marksKeptBackAreToldOnceAndWrittenWhenThereIsRoom()
{
    AcquisitionRig rig(1);
    rig.start();
    rig.send(sensorLines(1, 3));
    rig.pause(); // the recording and its description are on disk
    const QString description = descriptionFileName(rig.window->liveRecorder()->fileName());
    QTRY_VERIFY(readAll(description).contains("pause"));
    int told = 0;
    connect(rig.widget<QStatusBar>("statusbar"), &QStatusBar::messageChanged, this, [&](const QString &text) {
        told += text.contains(QStringLiteral("could not be written")) ? 1 : 0;
    });
    RunMarker *marker = rig.window->runMarker();
    std::optional<FileSizeLimit> disk(std::in_place, rlim_t(readAll(description).size() + 100));
    for (int i = 0; i < 150; ++i) {
        QTest::keyClick(rig.window, Qt::Key_M, Qt::ControlModifier);
        if (i % 10 == 0)
            QTest::qWait(20); // some lines reach the writer one by one
    }
    QTRY_COMPARE(told, 1);
    QTest::qWait(1500); // a retry or two with the disk still full: not told again
    QCOMPARE(told, 1);
    QVERIFY2(message(rig).contains(QStringLiteral("File > Save as...")), qPrintable(message(rig)));
    const QByteArray whileFull = readAll(description);
    QVERIFY(whileFull.endsWith('\n'));
    const int onDisk = int(parseRunDescription(whileFull).events.size()) - 2; // Start, Pause
    QVERIFY2(onDisk >= 1 && onDisk < 150, qPrintable(QString::number(onDisk)));
    QCOMPARE(marker->marks()->entries().size(), 152); // all in the window
    disk.reset();
    QTRY_VERIFY_WITH_TIMEOUT(message(rig).contains(QStringLiteral("has caught up")), 5000);
    // Every line whole, every mark once and in order, then the marks placed after.
    QTest::keyClick(rig.window, Qt::Key_M, Qt::ControlModifier);
    QTRY_VERIFY(readAll(description).contains("Mark 151"));
    const QByteArray text = readAll(description);
    for (const QByteArray &line : text.split('\n'))
        QVERIFY2(line.isEmpty() || !line.startsWith("Ev") || line.startsWith("Event: "), line.constData());
    const QVector<RunEvent> events = parseRunDescription(text).events;
    QCOMPARE(events.size(), 153);
    for (int n = 1; n <= 151; ++n)
        QCOMPARE(events[n + 1].note, QStringLiteral("Mark %1").arg(n));
}

void TestRunSafety::recordingThatCannotStartIsReported()
{
    QFile plain(folder.filePath(QStringLiteral("a-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    setRecordingsFolder(plain.fileName() + QStringLiteral("/recordings"));
    AcquisitionRig rig(1);
    rig.start();
    rig.send("1,2\n3,4\n");
    QTRY_COMPARE(rig.records(), 2);
    QVERIFY2(message(rig).startsWith(QStringLiteral("Live recording could not start")) &&
                 message(rig).contains(QStringLiteral("Save as")),
             qPrintable(message(rig)));
    QVERIFY(recordingLabel(rig).startsWith(QStringLiteral("Not recording")));
}

void TestRunSafety::closingAsksOnlyWithUnsavedData_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("answer"); // QMessageBox::StandardButton
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<bool>("closes");
    QTest::newRow("nothing recorded") << 0 << int(QMessageBox::Cancel) << QString() << true;
    QTest::newRow("cancel") << 3 << int(QMessageBox::Cancel) << QString() << false;
    QTest::newRow("close anyway") << 3 << int(QMessageBox::Discard) << QString() << true;
    QTest::newRow("save, then cancel the dialog") << 3 << int(QMessageBox::Save) << QString() << false;
    QTest::newRow("save") << 3 << int(QMessageBox::Save) << QStringLiteral("closing.csv") << true;
    QTest::newRow("save into a missing folder")
        << 3 << int(QMessageBox::Save) << QStringLiteral("missing/closing.csv") << false;
}

void TestRunSafety::closingAsksOnlyWithUnsavedData()
{
    QFETCH(int, records);
    QFETCH(int, answer);
    QFETCH(QString, saveAs);
    QFETCH(bool, closes);
    AcquisitionRig rig(1);
    rig.start();
    for (int i = 0; i < records; ++i)
        rig.send(QByteArray::number(i) + ",20\n");
    QTRY_COMPARE(rig.records(), records);
    const QString target = saveAs.isEmpty() ? QString() : folder.filePath(saveAs);
    QuestionAnswerer answerer(QMessageBox::StandardButton(answer), target);
    const bool closed = rig.window->close();
    QCOMPARE(closed, closes);
    QCOMPARE(rig.window->isVisible(), !closes);
    QCOMPARE(answerer.questions, records > 0 ? 1 : 0);
    if (records > 0) {
        QCOMPARE(answerer.text,
                 QStringLiteral("3 samples in this window have not been saved with File > Save as..."));
        QVERIFY2(answerer.informativeText.contains(QStringLiteral("holds all of them")) &&
                     answerer.informativeText.contains(
                         QDir::toNativeSeparators(rig.window->liveRecorder()->fileName())),
                 qPrintable(answerer.informativeText));
    }
    if (closes && !target.isEmpty())
        QCOMPARE(readAll(target), rig.expectedCsv(1));
    // Once saved, closing asks nothing more.
    if (closes && !target.isEmpty()) {
        rig.window->show();
        QuestionAnswerer again(QMessageBox::Cancel, QString());
        QVERIFY(rig.window->close());
        QCOMPARE(again.questions, 0);
    }
}

void TestRunSafety::samplesArrivingDuringTheCloseSaveAreSaid_data()
{
    QTest::addColumn<bool>("kept");
    QTest::newRow("the live recording holds them") << true;
    QTest::newRow("nothing else holds them") << false;
}

// "Save..." in the close box writes the samples there were; those that come in meanwhile are not
// in the file. The window never just stays: it says so and closes when the live recording holds
// them, and asks again when nothing does.
void TestRunSafety::samplesArrivingDuringTheCloseSaveAreSaid()
{
    QFETCH(bool, kept);
    QWidget window;
    window.show();
    quint64 unsaved = 5;
    int saves = 0;
    new CloseGuard(
        &window,
        [&] {
            return CloseGuard::Unsaved{unsaved, QStringLiteral("The live recording r.csv holds all of them."),
                                       kept};
        },
        [&] {
            unsaved = ++saves == 1 ? 3 : 0; // 3 came in while the first save wrote
            return true;
        });
    ModalCloser closer; // answers Save, and OK
    QVERIFY(window.close());
    QCOMPARE(saves, kept ? 1 : 2);
    const QList<ModalCloser::Seen> seen = closer.seen();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].text,
             QStringLiteral("5 samples in this window have not been saved with File > Save as..."));
    QCOMPARE(seen[1].text,
             kept ? QStringLiteral("3 samples came in while the file was saved and are not in it.")
                  : QStringLiteral("3 samples in this window have not been saved with File > Save as..."));
}

void TestRunSafety::discardedLinesAndAMissingCountAreReported()
{
    {
        AcquisitionRig rig(2);
        rig.start();
        rig.send("1,2,3\n1,2,3,4\n5,6\n");
        QTRY_COMPARE(message(rig),
                     QStringLiteral("2 lines from the unit were not 4 numbers and were not recorded."));
        QCOMPARE(rig.records(), 1);
        rig.send(QByteArray(5000, 'x') + "\n");
        QTRY_COMPARE(message(rig),
                     QStringLiteral("3 lines from the unit were not 4 numbers and were not recorded."));
    }
    {
        // The graph window opened before any count was sent: nothing can be recorded, said at once.
        AcquisitionRig rig(0);
        const QString noCount = QStringLiteral(
            "No sensor count was sent to the unit (Set Number of Sensors), so nothing can be recorded.");
        QCOMPARE(message(rig), noCount);
        rig.widget<QStatusBar>("statusbar")->clearMessage();
        rig.start();
        QCOMPARE(message(rig), noCount);
        rig.send("1,2\n");
        QTest::qWait(700);
        QCOMPARE(message(rig), noCount);
        QCOMPARE(rig.records(), 0);
        // An empty save says so too.
        const QString saved = folder.filePath(QStringLiteral("empty.csv"));
        rig.saveAs(saved);
        QCOMPARE(message(rig), QStringLiteral("Saved 0 samples to %1.").arg(QDir::toNativeSeparators(saved)));
    }
}

QTEST_MAIN(TestRunSafety)
#include "tst_runsafety.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The live recording file: the same bytes as a saved CSV, batched syncs, a full disk or a removed
// folder that stops it cleanly, names taken by anything (links included), a recording closed when
// the program exits, and recordings of a program that died made whole again (or reported lost).

#include "data/csvwriter.h"
#include "data/recordingfile.h"
#include "data/recovery.h"
#include "data/rundescription.h"
#include "support/filesizelimit.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <sys/stat.h>

namespace {

// A run's series in memory, as the acquisition window keeps them.
struct Series
{
    QVector<double> time;
    std::array<QVector<double>, MaxChannels> channels;

    void add(double t, const RecordValues &v, int sensors)
    {
        time.append(t);
        for (int k = 0; k < 2 * sensors; ++k)
            channels[size_t(k)].append(v[size_t(k)]);
    }
    QByteArray csv(int sensors) const
    {
        RecordedSeries s;
        s.time = &time;
        for (int k = 0; k < MaxChannels; ++k)
            s.channels[size_t(k)] = &channels[size_t(k)];
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writeCsv(&buffer, s, sensors);
        return buffer.data();
    }
};

RecordValues valuesFor(int i)
{
    // Few decimals, many decimals, negatives, large, tiny and non-finite values.
    RecordValues v{};
    const double special[] = {1e300, -0.0, std::numeric_limits<double>::quiet_NaN(), 1e-7};
    for (int k = 0; k < MaxChannels; ++k)
        v[size_t(k)] = (i + k) % 37 == 0 ? special[(i + k) % 4] : (i * 0.731 - k * 12.5) / (k + 1);
    return v;
}

RecordingInfo infoAt(const QDateTime &start, int sensors)
{
    RecordingInfo info;
    info.start = start;
    info.sensorCount = sensors;
    info.sensitivities = {QByteArray("12.5"),
                          QByteArray("\xc2\xb5"
                                     "13"),
                          QByteArray()};
    info.program = QStringLiteral("quellspan-test 1.0");
    return info;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Child mode: records, makes sure it is on disk, leaves half a line behind it, then waits to die.
int recordAndWaitToBeKilled(const QString &folder, int records)
{
    RecordingFile file;
    if (!file.open(folder, infoAt(QDateTime::currentDateTime(), 2)))
        return 3;
    for (int i = 0; i < records; ++i)
        file.append(i * 0.1, valuesFor(i), 4);
    file.syncSoon();
    for (int waited = 0; file.syncedRecords() < quint64(records) && waited < 10000; waited += 10)
        QThread::msleep(10);
    QFile torn(file.fileName());
    if (!torn.open(QIODevice::Append) || torn.write("99.5,12.") != 8 || !torn.flush())
        return 4;
    std::printf("ready %s\n", qPrintable(file.fileName()));
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

// Child mode: records, then ends through exit() with the recording still open, as Qt ends a
// program whose display connection broke.
int recordAndExit(const QString &folder, int records)
{
    auto *file = new RecordingFile; // never deleted: exit() runs no destructor of it
    if (!file->open(folder, infoAt(QDateTime::currentDateTime(), 2)))
        return 3;
    for (int i = 0; i < records; ++i)
        file->append(i * 0.1, valuesFor(i), 4);
    std::exit(0);
}

// Starts this program in child mode recording into folder; returns its recording once it is on
// disk (empty if it never is). The child then waits to be killed.
QString startRecordingChild(QProcess *child, const QString &folder, int records)
{
    child->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--record-and-wait"), folder, QString::number(records)});
    if (!child->waitForReadyRead(20000))
        return QString();
    const QByteArray ready = child->readLine().trimmed();
    return ready.startsWith("ready ") ? QString::fromLocal8Bit(ready.mid(6)) : QString();
}

QString sibling(const QString &csvPath, const char *suffix)
{
    return QString(csvPath).replace(QStringLiteral(".csv"), QLatin1String(suffix));
}

} // namespace

class TestRecordingFile : public QObject
{
    Q_OBJECT

private slots:
    void holdsTheBytesSaveAsWrites();
    void neverReplacesAnExistingRecording();
    void anyEntryAtANameIsSkippedAndNoLinkIsFollowed();
    void syncsOnRequestAndOnItsOwn();
    void fullDiskStopsItCleanly();
    void descriptionLinesAreWholeOrKeptBack();
    void removedFolderStopsIt();
    void folderThatCannotBeMade();
    void abandonedRecordingIsMadeWhole();
    void missingSamplesFileIsReportedLostNotMadeUp();
    void linksAtAnAbandonedRecordingsNamesAreReportedNotTouched();
    void openRecordingIsClosedWhenTheProgramExits();
};

void TestRecordingFile::holdsTheBytesSaveAsWrites()
{
    QTemporaryDir dir;
    const QDateTime start(QDate(2026, 12, 7), QTime(14, 5, 9, 250));
    for (int sensors : {1, 4}) {
        RecordingFile file;
        QVERIFY2(file.open(dir.filePath(QStringLiteral("rec%1").arg(sensors)), infoAt(start, sensors)),
                 qPrintable(file.errorString()));
        QCOMPARE(QFileInfo(file.fileName()).fileName(), QStringLiteral("2026-12-07_14-05-09.csv"));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("rec%1/2026-12-07_14-05-09.lock").arg(sensors))));
        Series series;
        for (int i = 0; i < 5000; ++i) {
            const double t = i * 0.013 + (i % 3 == 0 ? 1234.5678 : 0);
            file.append(t, valuesFor(i), 2 * sensors);
            series.add(t, valuesFor(i), sensors);
        }
        file.close();
        QCOMPARE(file.appendedRecords(), quint64(5000));
        QCOMPARE(readAll(file.fileName()), series.csv(sensors));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("rec%1/2026-12-07_14-05-09.lock").arg(sensors))));

        const QString description = QString::fromUtf8(
            readAll(dir.filePath(QStringLiteral("rec%1/2026-12-07_14-05-09.txt").arg(sensors))));
        const QString offset = start.toOffsetFromUtc(start.offsetFromUtc()).toString(Qt::ISODateWithMs);
        QVERIFY2(offset.contains(QLatin1Char('+')) || offset.contains(QLatin1Char('-')) ||
                     offset.endsWith(QLatin1Char('Z')),
                 qPrintable(offset));
        QVERIFY2(description.contains(QStringLiteral("Started: ") + offset), qPrintable(description));
        QVERIFY(description.contains(QStringLiteral("Sensors: %1\n").arg(sensors)));
        QVERIFY(description.contains(QStringLiteral("sensor 2 (uV/(W/m2)): \u00b5"
                                                    "13\n")));
        QVERIFY(description.contains(QStringLiteral("sensor 3 (uV/(W/m2)): (not sent)\n")));
        QVERIFY(description.contains(QStringLiteral("Program: quellspan-test 1.0\n")));
        QVERIFY(description.contains(QStringLiteral("Closed: ")));
        QVERIFY(description.contains(QStringLiteral(", 5000 samples")));
    }
}

void TestRecordingFile::neverReplacesAnExistingRecording()
{
    QTemporaryDir dir;
    const QDateTime start(QDate(2026, 1, 2), QTime(3, 4, 5));
    QFile old(dir.filePath(QStringLiteral("2026-01-02_03-04-05.csv")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("keep me\n");
    old.close();
    RecordingFile second, third;
    QVERIFY(second.open(dir.path(), infoAt(start, 1)));
    QVERIFY(third.open(dir.path(), infoAt(start, 1))); // while the second is still open
    QCOMPARE(QFileInfo(second.fileName()).fileName(), QStringLiteral("2026-01-02_03-04-05_2.csv"));
    QCOMPARE(QFileInfo(third.fileName()).fileName(), QStringLiteral("2026-01-02_03-04-05_3.csv"));
    second.close();
    third.close();
    QCOMPARE(readAll(old.fileName()), QByteArray("keep me\n"));
}

// A dangling link, a FIFO or a link to someone's file at the next name: skipped like a file,
// and nothing is written through a link, not even a note into a description swapped for one.
void TestRecordingFile::anyEntryAtANameIsSkippedAndNoLinkIsFollowed()
{
    QTemporaryDir dir, elsewhere;
    const QDateTime start(QDate(2026, 1, 2), QTime(3, 4, 5));
    const QString target = elsewhere.filePath(QStringLiteral("not-there.csv"));
    const QString someones = elsewhere.filePath(QStringLiteral("someones.txt"));
    QFile other(someones);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("theirs\n");
    other.close();
    QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("2026-01-02_03-04-05.csv"))));
    QCOMPARE(
        ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("2026-01-02_03-04-05_2.txt"))).constData(),
                 0600),
        0);
    QVERIFY(QFile::link(someones, dir.filePath(QStringLiteral("2026-01-02_03-04-05_3.lock"))));

    RecordingFile file;
    QVERIFY2(file.open(dir.path(), infoAt(start, 1)), qPrintable(file.errorString()));
    QCOMPARE(QFileInfo(file.fileName()).fileName(), QStringLiteral("2026-01-02_03-04-05_4.csv"));
    file.append(0.5, valuesFor(1), 2);
    // The description swapped for a link to someone else's file while recording.
    QVERIFY(QFile::remove(sibling(file.fileName(), ".txt")));
    QVERIFY(QFile::link(someones, sibling(file.fileName(), ".txt")));
    file.close();

    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(readAll(someones), QByteArray("theirs\n"));
    QCOMPARE(readAll(file.fileName()).count('\n'), 1);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("2026-01-02_03-04-05.csv"))).isSymLink());
}

void TestRecordingFile::syncsOnRequestAndOnItsOwn()
{
    QTemporaryDir dir;
    RecordingFile file;
    QVERIFY(file.open(dir.path(), infoAt(QDateTime::currentDateTime(), 1)));
    file.append(0.5, valuesFor(1), 2);
    file.syncSoon();
    QTRY_COMPARE(file.syncedRecords(), quint64(1));
    QCOMPARE(readAll(file.fileName()).count('\n'), 1);
    // Without a request, pending records reach the disk within about a second.
    for (int i = 0; i < 10; ++i)
        file.append(1 + i, valuesFor(i), 2);
    QTRY_COMPARE_WITH_TIMEOUT(file.syncedRecords(), quint64(11), 5000);
    QVERIFY2(file.syncCount() <= 3, qPrintable(QString::number(file.syncCount())));
}

void TestRecordingFile::fullDiskStopsItCleanly()
{
    // A file-size limit makes writes fail as on a full disk (EFBIG), without root or a real disk.
    QTemporaryDir dir;
    RecordingFile file;
    QSignalSpy failed(&file, &RecordingFile::failed);
    QVERIFY(file.open(dir.path(), infoAt(QDateTime::currentDateTime(), 4)));
    Series series;

    std::optional<FileSizeLimit> limit(std::in_place, 20000);
    int i = 0;
    for (; i < 4000 && failed.isEmpty(); ++i) {
        file.append(i * 0.01, valuesFor(i), 8);
        series.add(i * 0.01, valuesFor(i), 4);
        if (i % 50 == 0) {
            file.syncSoon();
            QTest::qWait(5);
        }
    }
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!file.isRecording());
    QVERIFY2(failed.first().first().toString().contains(QStringLiteral("large")) ||
                 failed.first().first().toString().contains(QStringLiteral("space")),
             qPrintable(failed.first().first().toString()));
    // More records go nowhere, and nothing breaks.
    for (int k = 0; k < 100; ++k)
        file.append(99, valuesFor(k), 8);
    file.close();
    limit.reset();

    // What is on disk is a clean prefix of the run: complete lines only.
    const QByteArray onDisk = readAll(file.fileName());
    QVERIFY(onDisk.size() > 0 && onDisk.size() <= 20000);
    QVERIFY(onDisk.endsWith('\n'));
    QVERIFY(series.csv(4).startsWith(onDisk));
    QVERIFY(readAll(QString(file.fileName()).replace(QStringLiteral(".csv"), QStringLiteral(".txt")))
                .contains("Stopped: "));
    // With room again, saving the whole run works.
    QString error;
    RecordedSeries s;
    s.time = &series.time;
    for (int k = 0; k < MaxChannels; ++k)
        s.channels[size_t(k)] = &series.channels[size_t(k)];
    QVERIFY2(saveCsv(dir.filePath(QStringLiteral("saved.csv")), s, 4, &error), qPrintable(error));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("saved.csv"))), series.csv(4));
}

// Description lines on a full disk: never torn, kept back in order, said once, written when there
// is room again; the ones a close can't write are counted.
void TestRecordingFile::descriptionLinesAreWholeOrKeptBack()
{
    QTemporaryDir dir;
    RecordingFile file;
    QSignalSpy behind(&file, &RecordingFile::descriptionBehind);
    QSignalSpy caughtUp(&file, &RecordingFile::descriptionCaughtUp);
    QVERIFY(file.open(dir.path(), infoAt(QDateTime::currentDateTime(), 1)));
    const QString description = sibling(file.fileName(), ".txt");
    const QByteArray head = readAll(description);
    QByteArray all;
    auto note = [&](int n) {
        const QByteArray line =
            formatEventLine(n * 0.25, RunEventKind::Mark, QStringLiteral("Mark %1").arg(n));
        all += line;
        file.appendToDescription(line);
    };

    std::optional<FileSizeLimit> disk(std::in_place, rlim_t(head.size() + 90)); // room for 3 lines
    for (int n = 1; n <= 10; ++n)
        note(n);
    QTRY_COMPARE(behind.size(), 1);
    QVERIFY2(behind.first().at(0).toByteArray().startsWith("Event: 1 mark: Mark 4"),
             behind.first().at(0).toByteArray().constData());
    for (int n = 11; n <= 20; ++n)
        note(n);
    QTest::qWait(1300); // tried again, still no room: said once
    QCOMPARE(behind.size(), 1);
    QCOMPARE(caughtUp.size(), 0);
    QByteArray onDisk = readAll(description);
    QVERIFY(onDisk.endsWith('\n'));
    QCOMPARE(onDisk, head + all.left(onDisk.size() - head.size())); // whole lines, in order

    disk.reset();
    QTRY_COMPARE_WITH_TIMEOUT(caughtUp.size(), 1, 3000);
    QCOMPARE(caughtUp.first().at(0).toInt(), 17);
    QCOMPARE(readAll(description), head + all);

    // Full again at the close: what the close can't write is counted, and nothing is torn.
    for (int n = 21; n <= 25; ++n)
        note(n);
    QTRY_COMPARE(readAll(description), head + all);
    disk.emplace(rlim_t(readAll(description).size() + 40));
    note(26); // 25 bytes: there is room
    const QByteArray before27 = all;
    note(27); // 26 bytes: there is not
    file.close();
    disk.reset();
    QCOMPARE(readAll(description), head + before27);
    QCOMPARE(file.descriptionLinesLeftOut(), 2); // mark 27 and the Closed line
}

void TestRecordingFile::removedFolderStopsIt()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("recordings"));
    RecordingFile file;
    QSignalSpy failed(&file, &RecordingFile::failed);
    QVERIFY(file.open(folder, infoAt(QDateTime::currentDateTime(), 1)));
    file.append(0, valuesFor(0), 2);
    file.syncSoon();
    QTRY_COMPARE(file.syncedRecords(), quint64(1));
    QVERIFY(QDir(folder).removeRecursively());
    file.append(1, valuesFor(1), 2);
    file.syncSoon();
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY2(failed.first().first().toString().contains(QStringLiteral("removed")),
             qPrintable(failed.first().first().toString()));
    file.close();
}

void TestRecordingFile::folderThatCannotBeMade()
{
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("not-a-folder")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    RecordingFile file;
    QVERIFY(!file.open(plain.fileName() + QStringLiteral("/recordings"),
                       infoAt(QDateTime::currentDateTime(), 1)));
    QVERIFY2(file.errorString().contains(QStringLiteral("could not be made")),
             qPrintable(file.errorString()));
    QVERIFY(!file.isRecording());
    file.append(0, valuesFor(0), 2); // harmless
}

void TestRecordingFile::abandonedRecordingIsMadeWhole()
{
    QTemporaryDir dir;
    // A recording held open by this process is not abandoned.
    RecordingFile live;
    QVERIFY(live.open(dir.path(), infoAt(QDateTime(QDate(2030, 1, 1), QTime(0, 0)), 1)));

    QProcess child;
    const QString csvPath = startRecordingChild(&child, dir.path(), 250);
    QVERIFY(!csvPath.isEmpty());
    child.kill(); // SIGKILL: no destructor runs, the lock stays
    QVERIFY(child.waitForFinished(10000));
    QVERIFY(readAll(csvPath).endsWith("99.5,12."));

    const QList<RecoveredRecording> recovered = recoverAbandonedRecordings(dir.path());
    QCOMPARE(recovered.size(), 1);
    QCOMPARE(recovered.first().fileName, csvPath);
    QCOMPARE(recovered.first().samples, quint64(250));
    QCOMPARE(recovered.first().cutBytes, qint64(8));
    QVERIFY(recovered.first().start.isValid());
    const QByteArray repaired = readAll(csvPath);
    QCOMPARE(repaired.count('\n'), 250);
    QVERIFY(repaired.endsWith('\n'));
    QVERIFY(!QFile::exists(QString(csvPath).replace(QStringLiteral(".csv"), QStringLiteral(".lock"))));
    QVERIFY(readAll(QString(csvPath).replace(QStringLiteral(".csv"), QStringLiteral(".txt")))
                .contains("Recovered: "));
    // Done once; the live one is still locked and untouched.
    QVERIFY(recoverAbandonedRecordings(dir.path()).isEmpty());
    QVERIFY(live.isRecording());
}

// The samples file removed while recording, then the program killed: the samples are lost, and
// recovery says so rather than report an empty file it made itself.
void TestRecordingFile::missingSamplesFileIsReportedLostNotMadeUp()
{
    QTemporaryDir dir;
    QProcess child;
    const QString csvPath = startRecordingChild(&child, dir.path(), 20);
    QVERIFY(QFile::remove(csvPath));
    child.kill();
    QVERIFY(child.waitForFinished(10000));

    const QList<RecoveredRecording> recovered = recoverAbandonedRecordings(dir.path());
    QCOMPARE(recovered.size(), 1);
    QVERIFY(recovered.first().lost);
    QCOMPARE(recovered.first().samples, quint64(0));
    QVERIFY(!QFileInfo::exists(csvPath));
    QVERIFY(!QFileInfo::exists(sibling(csvPath, ".lock")));
    const QByteArray description = readAll(sibling(csvPath, ".txt"));
    QVERIFY2(description.contains("is missing: the samples were lost with it") &&
                 !description.contains("samples kept"),
             description.constData());
    QVERIFY(recoverAbandonedRecordings(dir.path()).isEmpty());
}

// A lock left by a dead program whose CSV and description are links to files elsewhere: neither is
// mended nor written through, and the recovery reports them rather than dropping the lock silently.
void TestRecordingFile::linksAtAnAbandonedRecordingsNamesAreReportedNotTouched()
{
    QTemporaryDir dir, elsewhere;
    QProcess child;
    const QString csvPath = startRecordingChild(&child, dir.path(), 5);
    QVERIFY(!csvPath.isEmpty());
    child.kill(); // the lock stays
    QVERIFY(child.waitForFinished(10000));
    const QString base = csvPath.left(csvPath.size() - 4);
    const QByteArray theirs("theirs,1\ntorn");
    for (const char *suffix : {".csv", ".txt"}) {
        QFile f(elsewhere.filePath(QStringLiteral("target") + QLatin1String(suffix)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(theirs);
        f.close();
        QVERIFY(QFile::remove(base + QLatin1String(suffix)));
        QVERIFY(QFile::link(f.fileName(), base + QLatin1String(suffix)));
    }

    const QList<RecoveredRecording> recovered = recoverAbandonedRecordings(dir.path());
    QCOMPARE(recovered.size(), 1);
    QCOMPARE(recovered.first().leftAlone,
             QStringList({base + QStringLiteral(".csv"), base + QStringLiteral(".txt")}));
    QCOMPARE(readAll(elsewhere.filePath(QStringLiteral("target.csv"))), theirs);
    QCOMPARE(readAll(elsewhere.filePath(QStringLiteral("target.txt"))), theirs);
    QVERIFY(!QFileInfo::exists(base + QStringLiteral(".lock")));
}

// Qt ends a program whose display connection broke through exit(): its open recording is closed
// as on a normal close, not left for recovery.
void TestRecordingFile::openRecordingIsClosedWhenTheProgramExits()
{
    QTemporaryDir dir;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--record-and-exit"), dir.path(), QStringLiteral("321")});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QStringList csvs = QDir(dir.path()).entryList({QStringLiteral("*.csv")});
    QCOMPARE(csvs.size(), 1);
    const QString csvPath = dir.filePath(csvs.first());
    QCOMPARE(readAll(csvPath).count('\n'), 321);
    QVERIFY(!QFileInfo::exists(sibling(csvPath, ".lock")));
    const QByteArray description = readAll(sibling(csvPath, ".txt"));
    QVERIFY2(description.contains(", 321 samples; the program was ended while recording"),
             description.constData());
    QVERIFY(recoverAbandonedRecordings(dir.path()).isEmpty());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--record-and-wait")
        return recordAndWaitToBeKilled(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    if (argc == 4 && QByteArray(argv[1]) == "--record-and-exit")
        return recordAndExit(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    TestRecordingFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recordingfile.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// CSV export: line layout, and saving that never leaves a broken file.

#include "data/csvwriter.h"
#include "support/filesizelimit.h"
#include "support/limiteddevice.h"
#include "support/permissionsenforced.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Series
{
    QVector<double> time;
    QVector<double> channels[8];

    RecordedSeries view()
    {
        RecordedSeries s;
        s.time = &time;
        for (int k = 0; k < 8; ++k)
            s.channels[size_t(k)] = &channels[k];
        return s;
    }
};

// Samples whose lines are easy to write down: time i/1000 and channel k as i + k/10.
Series countingSeries(int samples)
{
    Series s;
    for (int i = 0; i < samples; ++i) {
        s.time.append(i / 1000.0);
        for (int k = 0; k < 8; ++k)
            s.channels[k].append(i + (k + 1) / 10.0);
    }
    return s;
}

QByteArray expectedLines(const Series &s, int sensorCount, int rows)
{
    QByteArray text;
    for (int i = 0; i < rows; ++i) {
        appendCsvNumber(&text, s.time[i]);
        for (int k = 0; k < 2 * sensorCount; ++k) {
            text += ',';
            appendCsvNumber(&text, s.channels[k][i]);
        }
        text += csvLineEnd();
    }
    return text;
}

QByteArray written(const RecordedSeries &series, int sensorCount, bool *ok = nullptr)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const bool result = writeCsv(&buffer, series, sensorCount);
    if (ok)
        *ok = result;
    return buffer.data();
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<cannot read>";
    return file.readAll();
}

} // namespace

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void exactBytesForTwoSensors();
    void lineEndIsThePlatforms();
    void allChannelsInOrderForFourSensors();
    void emptySeriesWritesNothing();
    void sensorCountOutsideRangeWritesNothing_data();
    void sensorCountOutsideRangeWritesNothing();
    void stopsAtShortestSeries();
    void manyChunksMatchLineByLine();
    void shortWritesAreCompleted();
    void deviceErrorIsReported();

    void saveWritesExactBytes();
    void saveReplacesExistingFile();
    void saveEmptySeriesTruncates();
    void saveNameWithSpacesAndNonAscii();
    void saveIntoMissingFolderFails();
    void saveIntoReadOnlyFolderFails();
    void saveNeverReplacesWhatIsNotARegularFile();
    void failedWriteKeepsExistingFile_data();
    void failedWriteKeepsExistingFile();
};

void TestCsvWriter::exactBytesForTwoSensors()
{
    Series s;
    s.time = {0.0, 0.06, 1234.567};
    s.channels[0] = {12.5, 1.0, -3.25};
    s.channels[1] = {23.1, 0.0001, 1e-5};
    s.channels[2] = {-3.4, 1e6, 12.3456789};
    s.channels[3] = {22.8, -0.0, 1234567.0};
    for (int k = 4; k < 8; ++k)
        s.channels[k] = {99.0, 99.0, 99.0}; // sensors 3 and 4: not written
    const QByteArray end = csvLineEnd();
    const QByteArray expected = "0,12.5,23.1,-3.4,22.8" + end + "0.06,1,0.0001,1e+06,-0" + end +
                                "1234.567,-3.25,1e-05,12.3456789,1234567" + end;
    bool ok = false;
    QCOMPARE(written(s.view(), 2, &ok), expected);
    QVERIFY(ok);
}

void TestCsvWriter::lineEndIsThePlatforms()
{
#ifdef Q_OS_WIN
    QCOMPARE(QByteArray(csvLineEnd()), QByteArray("\r\n"));
#else
    QCOMPARE(QByteArray(csvLineEnd()), QByteArray("\n"));
#endif
}

void TestCsvWriter::allChannelsInOrderForFourSensors()
{
    Series s = countingSeries(2);
    const QByteArray end = csvLineEnd();
    QCOMPARE(written(s.view(), 4),
             "0,0.1,0.2,0.3,0.4,0.5,0.6,0.7,0.8" + end + "0.001,1.1,1.2,1.3,1.4,1.5,1.6,1.7,1.8" + end);
    QCOMPARE(written(s.view(), 1), "0,0.1,0.2" + end + "0.001,1.1,1.2" + end);
    QCOMPARE(written(s.view(), 3), "0,0.1,0.2,0.3,0.4,0.5,0.6" + end + "0.001,1.1,1.2,1.3,1.4,1.5,1.6" + end);
}

void TestCsvWriter::emptySeriesWritesNothing()
{
    Series s;
    bool ok = false;
    QCOMPARE(written(s.view(), 2, &ok), QByteArray());
    QVERIFY(ok);
    QCOMPARE(written(RecordedSeries(), 2, &ok), QByteArray()); // no series at all
    QVERIFY(ok);
}

void TestCsvWriter::sensorCountOutsideRangeWritesNothing_data()
{
    QTest::addColumn<int>("sensors");
    QTest::newRow("0") << 0;
    QTest::newRow("5") << 5;
    QTest::newRow("-1") << -1;
    QTest::newRow("large") << 1000000;
}

void TestCsvWriter::sensorCountOutsideRangeWritesNothing()
{
    QFETCH(int, sensors);
    Series s = countingSeries(3);
    bool ok = false;
    QCOMPARE(written(s.view(), sensors, &ok), QByteArray());
    QVERIFY(ok);
}

// Lines go only as far as every series written has values; absent channels of absent sensors
// are never read.
void TestCsvWriter::stopsAtShortestSeries()
{
    Series s = countingSeries(5);
    s.channels[3].resize(2); // CH4 shortest of sensors 1 and 2
    s.channels[4].clear();   // sensor 3: not written for n = 2
    RecordedSeries view = s.view();
    view.channels[5] = nullptr;
    QCOMPARE(written(view, 2), expectedLines(s, 2, 2));

    s.time.resize(1);
    QCOMPARE(written(s.view(), 2), expectedLines(s, 2, 1));

    // A channel that is used but absent: nothing to write.
    view = s.view();
    view.channels[1] = nullptr;
    QCOMPARE(written(view, 1), QByteArray());
    QCOMPARE(written(s.view(), 3), QByteArray()); // CH5 empty
}

void TestCsvWriter::manyChunksMatchLineByLine()
{
    Series s = countingSeries(60000); // several MiB: many chunks
    // Every kind of value: signs, zeros, all magnitudes, every digit count, non-finite ones.
    QRandomGenerator random(7);
    for (int i = 0; i < 60000; i += 3) {
        for (int k = 0; k < 8; ++k) {
            const double magnitude = std::pow(10.0, random.bounded(40) - 20) * random.generateDouble();
            const double rounded = std::round(magnitude * 1000) / 1000;
            s.channels[k][i] = (random.bounded(2) ? -1 : 1) * (k % 2 ? rounded : magnitude);
        }
    }
    s.time[12345] = 1.0 / 3.0;
    s.channels[7][40000] = -std::numeric_limits<double>::infinity();
    s.channels[6][40000] = std::numeric_limits<double>::quiet_NaN();
    s.channels[5][40000] = -0.0;
    const QByteArray expected = expectedLines(s, 4, 60000);
    QVERIFY(expected.size() > 3 * (1 << 20));
    QCOMPARE(written(s.view(), 4), expected);
}

void TestCsvWriter::shortWritesAreCompleted()
{
    Series s = countingSeries(20000);
    LimitedDevice device(std::numeric_limits<qint64>::max());
    QVERIFY(writeCsv(&device, s.view(), 2));
    QCOMPARE(device.data, expectedLines(s, 2, 20000));
}

void TestCsvWriter::deviceErrorIsReported()
{
    Series s = countingSeries(20000);
    LimitedDevice device(100000);
    QVERIFY(!writeCsv(&device, s.view(), 2));
    QCOMPARE(device.data.size(), 100000);
    QVERIFY(!writeCsv(nullptr, s.view(), 2));
}

void TestCsvWriter::saveWritesExactBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Series s = countingSeries(3000);
    const QString path = dir.filePath("data.csv");
    QString error = "untouched";
    QVERIFY(saveCsv(path, s.view(), 3, &error));
    QCOMPARE(error, QString("untouched"));
    QCOMPARE(fileContents(path), expectedLines(s, 3, 3000));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.csv"});
}

void TestCsvWriter::saveReplacesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.csv");
    Series s = countingSeries(5);
    QVERIFY(saveCsv(path, countingSeries(100).view(), 4, nullptr));
    QVERIFY(saveCsv(path, s.view(), 1, nullptr));
    QCOMPARE(fileContents(path), expectedLines(s, 1, 5));
}

void TestCsvWriter::saveEmptySeriesTruncates()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.csv");
    QVERIFY(saveCsv(path, countingSeries(10).view(), 2, nullptr));
    QVERIFY(QFileInfo(path).size() > 0);
    Series empty;
    QVERIFY(saveCsv(path, empty.view(), 2, nullptr));
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(QFileInfo(path).size(), qint64(0));
}

void TestCsvWriter::saveNameWithSpacesAndNonAscii()
{
    QTemporaryDir dir;
    const QString name = QString::fromUtf8("Messung M\xc3\xa4rz 2 \xc2\xb0"
                                           "C \xe6\xb8\xa9\xe5\xba\xa6.csv");
    const QString folder = dir.filePath(QString::fromUtf8("Ordner mit \xc3\xbc"));
    QVERIFY(QDir().mkpath(folder));
    Series s = countingSeries(4);
    QString error;
    QVERIFY2(saveCsv(folder + "/" + name, s.view(), 2, &error), qPrintable(error));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{name});
    QCOMPARE(fileContents(folder + "/" + name), expectedLines(s, 2, 4));
}

void TestCsvWriter::saveIntoMissingFolderFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing/data.csv");
    QString error;
    QVERIFY(!saveCsv(path, countingSeries(3).view(), 2, &error));
    QVERIFY2(error.contains(QString::fromLocal8Bit(std::strerror(ENOENT))), qPrintable(error));
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
}

void TestCsvWriter::saveIntoReadOnlyFolderFails()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("read-only");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/data.csv";
    QVERIFY(saveCsv(path, countingSeries(3).view(), 1, nullptr));
    const QByteArray before = fileContents(path);
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                              QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    QString error;
    bool saved = true;
    {
        PermissionsEnforced enforced;
        QVERIFY(!canCreateFileIn(folder)); // the folder really is read-only for us now
        saved = saveCsv(path, countingSeries(50).view(), 2, &error);
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!saved);
    QVERIFY2(error.contains(QString::fromLocal8Bit(std::strerror(EACCES))), qPrintable(error));
    QCOMPARE(fileContents(path), before);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"data.csv"});
}

void TestCsvWriter::saveNeverReplacesWhatIsNotARegularFile()
{
    // A pipe (a stand-in for a device such as /dev/full, which a test must never aim at) and a
    // folder are left exactly as they were, and the save says why it failed.
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.csv");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString folder = dir.filePath("folder.csv");
    QVERIFY(QDir().mkpath(folder));
    const QString link = dir.filePath("link-to-pipe.csv");
    QVERIFY(QFile::link(fifo, link));
    for (const QString &path : {fifo, folder, link}) {
        QString error;
        QVERIFY(!saveCsv(path, countingSeries(3).view(), 2, &error));
        QVERIFY2(error.contains("not a regular file"), qPrintable(error));
    }
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
             3);
    // A link to a regular file is written through, and stays a link.
    const QString target = dir.filePath("target.csv");
    const QString goodLink = dir.filePath("good-link.csv");
    QVERIFY(QFile::link(target, goodLink));
    QVERIFY(saveCsv(goodLink, countingSeries(3).view(), 1, nullptr));
    QVERIFY(QFileInfo(goodLink).isSymLink());
    QCOMPARE(fileContents(target).count('\n'), 3);
}

void TestCsvWriter::failedWriteKeepsExistingFile_data()
{
    QTest::addColumn<int>("sizeLimit");
    QTest::addColumn<int>("samples");
    // The disk fills up half-way through a large file (here: a file size limit).
    QTest::newRow("large file, full after 1 MiB") << (1 << 20) << 200000;
    // A file smaller than a write buffer, failing at once (a buffered save would only fail in
    // its final flush, which QSaveFile's commit overlooks).
    QTest::newRow("small file, full after 16 bytes") << 16 << 20;
}

// A failed write is reported with its reason, the old file stays as it was and no partial
// file is left behind.
void TestCsvWriter::failedWriteKeepsExistingFile()
{
    QFETCH(int, sizeLimit);
    QFETCH(int, samples);
    QTemporaryDir dir;
    const QString path = dir.filePath("data.csv");
    QVERIFY(saveCsv(path, countingSeries(7).view(), 2, nullptr));
    const QByteArray before = fileContents(path);
    QString error;
    bool saved = true;
    {
        FileSizeLimit limit{rlim_t(sizeLimit)};
        saved = saveCsv(path, countingSeries(samples).view(), 4, &error);
    }
    QVERIFY(!saved);
    QVERIFY2(error.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(error));
    QCOMPARE(fileContents(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.csv"});
}

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"

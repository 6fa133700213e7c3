// SPDX-License-Identifier: GPL-3.0-or-later
// CSV export: number text, line layout, and saving that never leaves a broken file.

#include "data/csvwriter.h"
#include "support/filesizelimit.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QByteArray printfG(const char *format, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// Reads the text back independently of the process locale.
bool readsBackAs(const QByteArray &text, double v)
{
    double back = 0;
    const std::from_chars_result result =
        std::from_chars(text.constData(), text.constData() + text.size(), back);
    return result.ec == std::errc() && result.ptr == text.constData() + text.size() &&
           std::memcmp(&back, &v, sizeof v) == 0;
}

int shortestDigitCount(double v)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, std::fabs(v), std::chars_format::scientific);
    const int mantissa = int(std::find(text, result.ptr, 'e') - text);
    return mantissa > 1 ? mantissa - 1 : 1;
}

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

// Takes what a device is given in small bites, and fails once it holds `capacity` bytes.
class LimitedDevice : public QIODevice
{
public:
    explicit LimitedDevice(qint64 capacity) : capacity(capacity) { open(QIODevice::WriteOnly); }
    QByteArray data;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *bytes, qint64 size) override
    {
        const qint64 room = capacity - data.size();
        if (room <= 0)
            return -1;
        const qint64 bite = std::min<qint64>({size, room, 4096});
        data.append(bytes, int(bite));
        return bite;
    }

private:
    qint64 capacity;
};

// While it lives, the root user's right to ignore file permissions is put aside (in this
// thread, which is where the file is written), so permission tests mean the same for every user.
class PermissionsEnforced
{
public:
    PermissionsEnforced()
    {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved, sizeof reduced);
        const unsigned overrides =
            (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        reduced[0].effective &= ~overrides;
        syscall(SYS_capset, &header, reduced);
    }
    ~PermissionsEnforced() { syscall(SYS_capset, &header, saved); }
    PermissionsEnforced(const PermissionsEnforced &) = delete;
    PermissionsEnforced &operator=(const PermissionsEnforced &) = delete;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
};

bool canCreateFileIn(const QString &folder)
{
    const QByteArray probe = QFile::encodeName(folder + "/probe");
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

} // namespace

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void documentExamples_data();
    void documentExamples();
    void sixDigitValuesMatchPrintf();
    void longValuesKeepEveryDigit_data();
    void longValuesKeepEveryDigit();
    void timesInMillisecondsAsDecimals();
    void nonFiniteValuesAsPrintf();
    void appendsToExistingText();

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

void TestCsvWriter::initTestCase()
{
    // The application object took the user's locale; printf must use "." as the reference.
    std::setlocale(LC_NUMERIC, "C");
}

void TestCsvWriter::documentExamples_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("30") << 30.0 << QByteArray("30");
    QTest::newRow("-2.5") << -2.5 << QByteArray("-2.5");
    QTest::newRow("1e-05") << 0.00001 << QByteArray("1e-05");
    QTest::newRow("1e+06") << 1e6 << QByteArray("1e+06");
    QTest::newRow("0.0001") << 0.0001 << QByteArray("0.0001");
    QTest::newRow("0") << 0.0 << QByteArray("0");
    QTest::newRow("-0") << -0.0 << QByteArray("-0");
    QTest::newRow("12.3456789 keeps its digits") << 12.3456789 << QByteArray("12.3456789");
    QTest::newRow("1234.567 keeps its digits") << 1234.567 << QByteArray("1234.567");
    QTest::newRow("1234567 in fixed notation") << 1234567.0 << QByteArray("1234567");
    QTest::newRow("123456 fixed") << 123456.0 << QByteArray("123456");
    QTest::newRow("1.5e+300") << 1.5e300 << QByteArray("1.5e+300");
    QTest::newRow("-1.25e-100") << -1.25e-100 << QByteArray("-1.25e-100");
    QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << QByteArray("0.30000000000000004");
    QTest::newRow("largest double") << DBL_MAX << QByteArray("1.7976931348623157e+308");
    QTest::newRow("smallest subnormal, shortest") << 5e-324 << QByteArray("5e-324");
    QTest::newRow("time 1000000.001 s") << 1000000.001 << QByteArray("1000000.001");
    QTest::newRow("time 524288.001 s") << 524288.001 << QByteArray("524288.001");
    QTest::newRow("12345678901234567") << 12345678901234567.0 << QByteArray("12345678901234568");
    QTest::newRow("1e+17") << 1e17 << QByteArray("1e+17");
}

void TestCsvWriter::documentExamples()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(formatCsvNumber(value), text);
    QVERIFY(readsBackAs(text, value));
}

// Every value that six significant digits hold is written exactly as printf("%.6g") writes
// it, across the whole range of exponents and on both sides of the fixed/exponent switch.
void TestCsvWriter::sixDigitValuesMatchPrintf()
{
    QRandomGenerator random(20240611);
    int checked = 0;
    for (int exponent = -307; exponent <= 307; ++exponent) {
        for (int i = 0; i < 40; ++i) {
            const int digits = 1 + int(random.bounded(6));
            const int mantissa = random.bounded(1, int(std::pow(10, digits)));
            const double magnitude = std::strtod(
                (QByteArray::number(mantissa) + "e" + QByteArray::number(exponent - digits + 1)).constData(),
                nullptr);
            const double v = random.bounded(2) ? -magnitude : magnitude;
            if (std::fabs(v) < DBL_MIN)
                continue;
            QCOMPARE(shortestDigitCount(v) <= 6, true);
            const QByteArray text = formatCsvNumber(v);
            if (text != printfG("%.6g", v))
                QFAIL(
                    qPrintable(QStringLiteral("%1 written as %2, printf gives %3")
                                   .arg(v, 0, 'g', 17)
                                   .arg(QString::fromLatin1(text), QString::fromLatin1(printfG("%.6g", v)))));
            ++checked;
        }
    }
    QVERIFY(checked > 20000);
}

void TestCsvWriter::longValuesKeepEveryDigit_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::newRow("values with few decimals") << quint64(1);
    QTest::newRow("arbitrary bit patterns") << quint64(2);
}

// Any value: the text reads back as the same double, holds no more significant digits than
// the shortest such text, and uses exponent notation exactly when the rule says so.
void TestCsvWriter::longValuesKeepEveryDigit()
{
    QFETCH(quint64, seed);
    QRandomGenerator64 random(seed);
    for (int i = 0; i < 200000; ++i) {
        double v;
        if (seed == 1) {
            v = double(random.generate64() % (quint64(1) << 40)) /
                std::pow(10.0, double(random.generate() % 12));
        } else {
            const quint64 bits = random.generate();
            std::memcpy(&v, &bits, sizeof v);
        }
        if (!std::isfinite(v) || v == 0)
            continue;
        const QByteArray text = formatCsvNumber(v);
        QVERIFY2(readsBackAs(text, v), text.constData());

        const int e = text.indexOf('e');
        QByteArray digits = text.left(e < 0 ? text.size() : e);
        digits.replace("-", "").replace(".", "");
        while (digits.startsWith('0'))
            digits.remove(0, 1);
        while (digits.endsWith('0'))
            digits.chop(1);
        const int count = shortestDigitCount(v);
        QCOMPARE(digits.size(), count);

        char scientific[64];
        *std::to_chars(scientific, scientific + 63, v, std::chars_format::scientific).ptr = 0;
        const int exponent = std::atoi(std::strchr(scientific, 'e') + 1);
        QCOMPARE(e >= 0, exponent < -4 || exponent >= std::max(6, count));
    }
}

// Times are milliseconds / 1000: written as the millisecond count with a point put in and
// trailing zeros dropped, from 0 over every millisecond of the first hour, then in steps far
// past the sizes the number writer treats specially (10^5 s, 2^19 s, 10^6 s).
void TestCsvWriter::timesInMillisecondsAsDecimals()
{
    for (qint64 ms = 0; ms < 20000000000; ms += ms < 3600000 ? 1 : 9973) {
        QByteArray expected = QByteArray::number(ms / 1000);
        const int fraction = int(ms % 1000);
        if (fraction != 0) {
            expected += '.' + QByteArray::number(fraction).rightJustified(3, '0');
            while (expected.endsWith('0'))
                expected.chop(1);
        }
        if (fraction == 0 && expected.size() >= 7 && expected.endsWith('0'))
            continue; // exponent notation (1000900 is 1.0009e+06), covered elsewhere
        const QByteArray text = formatCsvNumber(double(ms) / 1000.0);
        if (text != expected)
            QFAIL(qPrintable(QStringLiteral("%1 ms written as %2, expected %3")
                                 .arg(ms)
                                 .arg(QString::fromLatin1(text), QString::fromLatin1(expected))));
    }
}

void TestCsvWriter::nonFiniteValuesAsPrintf()
{
    const double values[] = {
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (double v : values)
        QCOMPARE(formatCsvNumber(v), printfG("%g", v));
}

void TestCsvWriter::appendsToExistingText()
{
    QByteArray text = "x=";
    appendCsvNumber(&text, -2.5);
    appendCsvNumber(&text, 1e-5);
    QCOMPARE(text, QByteArray("x=-2.51e-05"));
}

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

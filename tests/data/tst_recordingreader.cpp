// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a recording back: the program's own files bit for bit, files still being written, and
// files that are damaged or not recordings at all.

#include "data/csvwriter.h"
#include "data/recordingreader.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sys/stat.h>

namespace {

bool sameValue(double a, double b)
{
    // The text keeps a NaN's sign, not its payload.
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A run of the given sensors with every kind of value the writer meets.
RecordingData makeRun(int sensors, int rows, quint64 seed)
{
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<std::uint64_t> bits;
    const double inf = std::numeric_limits<double>::infinity(),
                 nan = std::numeric_limits<double>::quiet_NaN();
    const double special[] = {inf, -inf, nan, -nan, -0.0, 5e-324, 1.7976931348623157e308, 1e-5, 123456789.0};
    RecordingData run;
    run.sensorCount = sensors;
    for (int i = 0; i < rows; ++i) {
        run.time.append(i * 0.001 + (i % 3 == 0 ? 1e-12 : 0));
        for (int k = 0; k < 2 * sensors; ++k) {
            double v;
            const std::uint64_t b = bits(random);
            if (i % 7 == k)
                v = special[(i + k) % 9];
            else if (k % 2)
                std::memcpy(&v, &b, sizeof v); // any bits at all
            else
                v = double(std::int64_t(b % 2000000) - 1000000) / 1000.0; // as the unit sends
            run.channels[size_t(k)].append(v);
        }
    }
    return run;
}

QByteArray csvText(const RecordingData &run)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeCsv(&buffer, run.series(), run.sensorCount);
    return buffer.data();
}

void compareRuns(const RecordingData &got, const RecordingData &expected)
{
    QCOMPARE(got.sensorCount, expected.sensorCount);
    for (int k = -1; k < MaxChannels; ++k) {
        const QVector<double> &g = k < 0 ? got.time : got.channels[size_t(k)];
        const QVector<double> &e = k < 0 ? expected.time : expected.channels[size_t(k)];
        QCOMPARE(g.size(), e.size());
        for (int i = 0; i < g.size(); ++i)
            QVERIFY2(sameValue(g[i], e[i]),
                     qPrintable(QStringLiteral("column %1, row %2").arg(k + 1).arg(i)));
    }
}

struct Folder
{
    QTemporaryDir dir;
    QString write(const QByteArray &bytes, const QString &name = QStringLiteral("run.csv"))
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        return f.fileName();
    }
    void append(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        if (!f.open(QIODevice::Append) || f.write(bytes) != bytes.size())
            qFatal("cannot append to %s", qPrintable(path));
    }
};

} // namespace

class TestRecordingReader : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatTheProgramWrites_data();
    void readsWhatTheProgramWrites();
    void growingFileIsReadToItsLastCompleteLine();
    void badLinesAreCountedAndLeftOut();
    void refusesWhatIsNoRecording_data();
    void refusesWhatIsNoRecording();
    void cancelAndShrink();
};

void TestRecordingReader::readsWhatTheProgramWrites_data()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QByteArray>("style"); // how the text is changed before reading
    for (int n = 1; n <= 4; ++n)
        QTest::addRow("N=%d as saved", n) << n << 3000 << QByteArray();
    QTest::newRow("N=2 CR LF") << 2 << 500 << QByteArray("crlf");
    QTest::newRow("N=3 spaces, tabs, CR LF and a header") << 3 << 500 << QByteArray("spaces");
    // Several chunks: lines cut at chunk ends, the series reserved and squeezed.
    QTest::newRow("N=4 40000 rows") << 4 << 40000 << QByteArray();
}

void TestRecordingReader::readsWhatTheProgramWrites()
{
    QFETCH(int, sensors);
    QFETCH(int, rows);
    QFETCH(QByteArray, style);
    const RecordingData run = makeRun(sensors, rows, quint64(sensors * 1000 + rows));
    Folder folder;
    QString path = folder.dir.filePath(QStringLiteral("saved.csv"));
    QString error;
    QVERIFY2(saveCsv(path, run.series(), sensors, &error), qPrintable(error));
    if (!style.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray text = f.readAll();
        if (style == "spaces") {
            QByteArray spaced = "time, q1 ,T1\r\n";
            for (const QByteArray &line : text.split('\n'))
                spaced +=
                    line.isEmpty() ? QByteArray() : " " + QByteArray(line).replace(",", " \t, ") + "\t\n";
            text = spaced;
        }
        text.replace("\n", "\r\n").replace("\r\r", "\r");
        path = folder.write(text, QStringLiteral("changed.csv"));
    }
    RecordingData got;
    RecordingReader reader;
    qint64 lastDone = -1;
    qint64 lastTotal = -1;
    reader.setProgress([&](qint64 done, qint64 total) {
        QVERIFY(done > lastDone);
        lastDone = done;
        lastTotal = total;
    });
    const RecordingReadReport report = reader.read(path, &got);
    QVERIFY2(report.ok(), qPrintable(report.errorMessage()));
    QCOMPARE(report.notes(), QStringList());
    QCOMPARE(report.headerSkipped, style == "spaces");
    QCOMPARE(lastDone, QFileInfo(path).size());
    QCOMPARE(lastTotal, lastDone);
    compareRuns(got, run);
    // Held as they are: no room reserved beyond the rows.
    QCOMPARE(got.time.capacity(), got.rows());
    QCOMPARE(got.channels[size_t(2 * sensors - 1)].capacity(), got.rows());
}

void TestRecordingReader::growingFileIsReadToItsLastCompleteLine()
{
    const RecordingData run = makeRun(2, 300, 5);
    const QByteArray text = csvText(run);
    const int cut = text.indexOf('\n', text.size() / 3) + 9; // within a line
    Folder folder;
    const QString path = folder.write(text.left(cut));

    RecordingReader reader;
    RecordingData got;
    RecordingReadReport report = reader.read(path, &got);
    QVERIFY(report.ok());
    const int firstRows = text.left(cut).count('\n');
    QCOMPARE(report.rows, firstRows);
    QCOMPARE(report.tornBytes, 8);
    QCOMPARE(report.notes().size(), 1);
    QVERIFY(report.notes()[0].contains(QLatin1String("no line end (8 bytes)")));

    // Nothing new: nothing changes. Then the rest of the line and more arrive, in two steps.
    report = reader.read(path, &got);
    QCOMPARE(report.newRows, 0);
    QCOMPARE(report.rows, firstRows);
    const int second = text.indexOf('\n', 2 * text.size() / 3) + 1;
    folder.append(path, text.mid(cut, second - cut));
    report = reader.read(path, &got);
    QCOMPARE(report.tornBytes, 0);
    QCOMPARE(report.newRows, text.left(second).count('\n') - firstRows);
    folder.append(path, text.mid(second));
    report = reader.read(path, &got);
    QVERIFY(report.ok());
    QCOMPARE(report.bytesRead, text.size());
    compareRuns(got, run);
}

void TestRecordingReader::badLinesAreCountedAndLeftOut()
{
    QByteArray text = "0,1,2\n"       // 1
                      "0.5,1,2,3,4\n" // 2 bad: five fields where the file has three
                      "1,x,2\n"       // 3 bad: not a number
                      "nan,1,2\n"     // 4 bad: a time that is not a number
                      "\n"            // 5 bad: blank
                      "2,+3,inf\n"    // 6
                      "1.5,7,8\n"     // 7 left out: back in time
                      "2,4,5\r\n"     // 8: the same time again is fine
                      "3,1e999,0\n"   // 9 bad: beyond a double
                      "4,1,2 3\n"     // 10 bad
                      "5,-0x10,2\n"   // 11 bad
                      "6,1,2\n";      // 12
    text += QByteArray(RecordingReader::MaxLineLength + 10, ' ') + "7,1,2\n"; // 13 bad: too long
    text += "8,1,2\n";                                                        // 14
    text += "0,9,9\n";                                                        // 15 back again
    Folder folder;
    RecordingData data;
    const RecordingReadReport report = RecordingReader().read(folder.write(text), &data);
    QVERIFY(report.ok());
    QCOMPARE(data.sensorCount, 1);
    QCOMPARE(data.time, QVector<double>({0, 2, 2, 6, 8}));
    QCOMPARE(data.channels[0], QVector<double>({1, 3, 4, 1, 1}));
    QCOMPARE(data.channels[1][1], std::numeric_limits<double>::infinity());
    QCOMPARE(report.badLines, 8);
    QCOMPARE(report.firstBadLine, 2);
    QCOMPARE(report.backwardLines, 2);
    QCOMPARE(report.firstBackwardLine, 7);
    QCOMPARE(report.notes().size(), 2);
    QVERIFY(report.notes()[0].contains(QLatin1String("8 lines")) &&
            report.notes()[0].contains(QLatin1String("line 2")));

    // The field count most of the first lines have wins over the first line's.
    QByteArray mixed = "1,2,3\n";
    for (int i = 0; i < 20; ++i)
        mixed += QByteArray::number(i) + ",1,2,3,4,5,6,7,8\n";
    const RecordingReadReport majority =
        RecordingReader().read(folder.write(mixed, QStringLiteral("m.csv")), &data);
    QCOMPARE(majority.sensorCount, 4);
    QCOMPARE(majority.rows, 20);
    QCOMPARE(majority.firstBadLine, 1);
}

void TestRecordingReader::refusesWhatIsNoRecording_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << QByteArray() << int(RecordingReadReport::Empty) << "empty";
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\n1,2,3", 21)
                            << int(RecordingReadReport::NotText) << "not a text file";
    QTest::newRow("4 fields") << QByteArray("1,2,3,4\n5,6,7,8\n") << int(RecordingReadReport::WrongShape)
                              << "have 4 fields";
    QTest::newRow("10 fields") << QByteArray("1,2,3,4,5,6,7,8,9,10\n") << int(RecordingReadReport::WrongShape)
                               << "have 10 fields";
    QTest::newRow("words") << QByteArray("a,b,c\nd,e,f\n") << int(RecordingReadReport::WrongShape)
                           << "numbers";
    QTest::newRow("header alone") << QByteArray("time_s,q1_W/m2,T1_C\n")
                                  << int(RecordingReadReport::NoSamples) << "no complete line";
    QTest::newRow("no such file") << QByteArray("missing") << int(RecordingReadReport::OpenFailed)
                                  << "could not be opened";
    QTest::newRow("folder") << QByteArray("folder") << int(RecordingReadReport::OpenFailed)
                            << "not a regular file";
    QTest::newRow("FIFO") << QByteArray("fifo") << int(RecordingReadReport::OpenFailed)
                          << "not a regular file";
}

void TestRecordingReader::refusesWhatIsNoRecording()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QString, says);
    Folder folder;
    QString path = folder.dir.filePath(QString::fromLatin1(bytes));
    if (bytes == "folder")
        QVERIFY(QDir().mkpath(path));
    else if (bytes == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (bytes != "missing")
        path = folder.write(bytes);
    RecordingData data;
    RecordingReader reader;
    for (int attempt = 0; attempt < 2; ++attempt) { // and again, as for a file being written
        const RecordingReadReport report = reader.read(path, &data);
        QCOMPARE(int(report.status), status);
        QVERIFY2(report.errorMessage().contains(says), qPrintable(report.errorMessage()));
        QCOMPARE(data.rows(), 0);
        QCOMPARE(data.sensorCount, 0);
    }
}

void TestRecordingReader::cancelAndShrink()
{
    const QByteArray text = csvText(makeRun(4, 60000, 9)); // several MiB
    Folder folder;
    const QString path = folder.write(text);
    std::atomic<bool> cancel{false};
    RecordingReader reader;
    reader.setCancelFlag(&cancel);
    reader.setProgress([&](qint64, qint64) { cancel = true; });
    RecordingData data;
    RecordingReadReport report = reader.read(path, &data);
    QCOMPARE(report.status, RecordingReadReport::Cancelled);
    QVERIFY(data.rows() > 0 && data.rows() < 60000);
    QCOMPARE(data.rows(), text.left(int(report.bytesRead)).count('\n'));

    // Cut shorter than what was read: said, and the rows read stay.
    const int rows = data.rows();
    QVERIFY(QFile::resize(path, report.bytesRead - 1));
    report = reader.read(path, &data);
    QCOMPARE(report.status, RecordingReadReport::Shrunk);
    QCOMPARE(data.rows(), rows);
}

QTEST_GUILESS_MAIN(TestRecordingReader)
#include "tst_recordingreader.moc"

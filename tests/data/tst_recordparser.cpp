// SPDX-License-Identifier: GPL-3.0-or-later
// Record parsing and line splitting: the pure part of the serial reader.

#include "data/recordparser.h"

#include <QStringList>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using Values = QVector<double>;
Q_DECLARE_METATYPE(Values)

namespace {

// What the unit's text means, independently of the parser: QString::toDouble of each field, a
// blank field 0, and no record at all when toDouble rejects any other field.
bool referenceValues(const QByteArray &line, Values *values)
{
    values->clear();
    for (const QString &field : QString::fromUtf8(line.constData(), line.size()).split(QLatin1Char(','))) {
        bool ok = false;
        values->append(field.toDouble(&ok));
        if (!ok && !field.trimmed().isEmpty())
            return false;
    }
    return true;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

QByteArrayList takeAll(LineSplitter *splitter)
{
    QByteArrayList lines;
    QByteArray line;
    while (splitter->takeLine(&line))
        lines.append(line);
    return lines;
}

} // namespace

class TestRecordParser : public QObject
{
    Q_OBJECT

private slots:
    void acceptedRecords_data();
    void acceptedRecords();
    void rejectedLines_data();
    void rejectedLines();
    void agreesWithToDouble_data();
    void agreesWithToDouble();
    void nonFiniteAndExtremes();

    void splitsLinesOverManyAppends();
    void splitsSeveralLinesInOneAppend();
    void keepsCarriageReturnAndEmptyLines();
    void dropsOverlongLineWhole_data();
    void dropsOverlongLineWhole();
    void boundHoldsForEndlessLine();
    void lineOfExactlyTheBoundIsKept();
    void backlogOfLinesSurvivesCompaction();
    void clearForgetsPartialLine();
};

void TestRecordParser::acceptedRecords_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("sensors");
    QTest::addColumn<Values>("expected");

    QTest::newRow("N=1") << QByteArray("1.5,20.0") << 1 << Values{1.5, 20.0};
    QTest::newRow("N=2 document example, CR")
        << QByteArray("12.5,23.1,-3.4,22.8\r") << 2 << Values{12.5, 23.1, -3.4, 22.8};
    QTest::newRow("N=2 same without CR")
        << QByteArray("12.5,23.1,-3.4,22.8") << 2 << Values{12.5, 23.1, -3.4, 22.8};
    QTest::newRow("N=3") << QByteArray("1,2,3,4,5,6") << 3 << Values{1, 2, 3, 4, 5, 6};
    QTest::newRow("N=4") << QByteArray("0.1,-0.2,3e2,4E-1,+5,6.,.7,-8.25\r") << 4
                         << Values{0.1, -0.2, 300, 0.4, 5, 6, 0.7, -8.25};
    QTest::newRow("spaces and tabs around numbers")
        << QByteArray(" 1.5 ,\t20 , -3 \t,4\r") << 2 << Values{1.5, 20, -3, 4};
    QTest::newRow("empty field gives 0") << QByteArray("1,,3,4") << 2 << Values{1, 0, 3, 4};
    QTest::newRow("blank fields give 0") << QByteArray(" , \r") << 1 << Values{0, 0};
    QTest::newRow("leading zeros and long exponent")
        << QByteArray("007.50,1e0005,0.000000000000000000001,123456789012345678901234567890") << 2
        << Values{7.5, 1e5, 1e-21, 123456789012345678901234567890.0};
    QTest::newRow("Unicode spaces around numbers") << QByteArray("\xc2\xa0"
                                                                 "2.5,\xe2\x80\x83"
                                                                 "4\xe2\x80\x83")
                                                   << 1 << Values{2.5, 4};
}

void TestRecordParser::acceptedRecords()
{
    QFETCH(QByteArray, line);
    QFETCH(int, sensors);
    QFETCH(Values, expected);

    RecordValues values;
    values.fill(-99.0);
    QCOMPARE(expected.size(), 2 * sensors);
    QVERIFY(parseRecord(line, sensors, &values));
    for (int k = 0; k < expected.size(); ++k)
        QCOMPARE(values[size_t(k)], expected[k]);
    for (int k = expected.size(); k < MaxChannels; ++k)
        QCOMPARE(values[size_t(k)], -99.0); // channels above 2N untouched
}

void TestRecordParser::rejectedLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("sensors");

    QTest::newRow("too few fields") << QByteArray("1,2") << 2;
    QTest::newRow("too many fields") << QByteArray("1,2,3,4,5") << 2;
    QTest::newRow("trailing comma") << QByteArray("1,2,") << 1;
    QTest::newRow("leading comma") << QByteArray(",1,2") << 1;
    QTest::newRow("empty line") << QByteArray() << 1;
    QTest::newRow("only CR") << QByteArray("\r") << 1;
    QTest::newRow("words without commas") << QByteArray("hello world") << 1;
    QTest::newRow("N=4 line for N=3") << QByteArray("1,2,3,4,5,6,7,8") << 3;
    QTest::newRow("sensor count 0") << QByteArray("1,2") << 0;
    QTest::newRow("sensor count 5") << QByteArray("1,2,3,4,5,6,7,8,9,10") << 5;
    QTest::newRow("negative sensor count") << QByteArray("1,2") << -1;
    QTest::newRow("non-ASCII line with wrong count") << QByteArray("\xc3\xa9,1,2") << 1;
    // The right count, but a field that is not a number: no reading of 0 is made up for it.
    QTest::newRow("a word") << QByteArray("abc,2") << 1;
    QTest::newRow("number then letters") << QByteArray("1,2,3x,4") << 2;
    QTest::newRow("letter o for zero") << QByteArray("1o,2") << 1;
    QTest::newRow("last field text, CR") << QByteArray("1,2,3,oops\r") << 2;
    QTest::newRow("malformed numbers") << QByteArray("1.2.3,1e,--1,1 2,0x10,1e+,.,1d") << 4;
    QTest::newRow("one malformed among numbers") << QByteArray("1,2,3,4,5,6,7,1.2.3") << 4;
    QTest::newRow("NUL byte") << QByteArray("1\0,2", 4) << 1;
    QTest::newRow("non-UTF-8 bytes") << QByteArray("\xff\xfe,2.5") << 1;
    QTest::newRow("signed nan") << QByteArray("+nan,1") << 1;
    QTest::newRow("infinity spelt out") << QByteArray("1,infinity") << 1;
    QTest::newRow("overflow") << QByteArray("1e999,1") << 1;
    QTest::newRow("non-zero underflow") << QByteArray("1,-1e-999") << 1;
    QTest::newRow("control character") << QByteArray("\x1c"
                                                     "1,2")
                                       << 1;
    QTest::newRow("byte-order mark inside") << QByteArray("1,\xef\xbb\xbf"
                                                          "2")
                                            << 1;
}

void TestRecordParser::rejectedLines()
{
    QFETCH(QByteArray, line);
    QFETCH(int, sensors);
    RecordValues values;
    QVERIFY(!parseRecord(line, sensors, &values));
}

void TestRecordParser::agreesWithToDouble_data()
{
    QTest::addColumn<QByteArray>("field");

    const char *const fields[] = {
        "1.5", " -2.25e-3\r", "+.5", "5.", "-0", "0e-999", "-0e-999", "1e-999", "-1e-999", "2e-324", "3e-324",
        "1.7976931348623157e308", "1.7976931348623159e308", "4.9e-324", "0.1e-322", "1000e305", "99999e-330",
        "inf", "INF", "-Inf", "+inf", "nan", "NaN", "+nan", "-nan", "infinity", "in", "1e999", "-1e999", "e5",
        ".e5", "1.e5", "1e5.5", "1;", "1%", "1d",
        "\x0b"
        "7\x0c",
        "\x1c"
        "1",
        // Outside ASCII: Unicode spaces are trimmed, U+2212 is a minus, a byte-order mark is
        // skipped at the start of the line only, anything else spoils the field.
        "\xc2\xa0"
        "2.5\xc2\xa0",
        "\xe2\x80\x83"
        "4",
        "\xe2\x88\x92"
        "1.5",
        "\xef\xbb\xbf"
        "3.5",
        "\xc3\xa9", "1\xc3\xa9",
        "\xff"
        "1",
        "\xc2\x85"
        "6"};
    for (const char *field : fields)
        QTest::newRow(QByteArray(field).toPercentEncoding(" .+-").constData()) << QByteArray(field);
}

// Each field in every position of a record is accepted where QString::toDouble accepts it (or it
// is blank) and converts exactly (to the bit) as toDouble does.
void TestRecordParser::agreesWithToDouble()
{
    QFETCH(QByteArray, field);
    for (int position = 0; position < 2; ++position) {
        const QByteArray line = position == 0 ? field + ",0" : "0," + field;
        Values expected;
        const bool number = referenceValues(line, &expected);
        RecordValues values;
        QCOMPARE(parseRecord(line, 1, &values), number);
        if (!number)
            continue;
        QVERIFY2(sameBits(values[size_t(position)], expected[position]),
                 qPrintable(QStringLiteral("got %1, toDouble gives %2")
                                .arg(values[size_t(position)], 0, 'g', 17)
                                .arg(expected[position], 0, 'g', 17)));
    }
}

// The decision for text the unit should never send: "inf" and "nan" are what QString::toDouble
// makes of them; a number a double can't hold is not taken for the nearest one.
void TestRecordParser::nonFiniteAndExtremes()
{
    RecordValues values;
    QVERIFY(parseRecord("inf,-INF,nan,+Inf,-0,0e-999,4.9e-324,1.7976931348623157e308", 4, &values));
    QCOMPARE(values[0], std::numeric_limits<double>::infinity());
    QCOMPARE(values[1], -std::numeric_limits<double>::infinity());
    QVERIFY(std::isnan(values[2]));
    QCOMPARE(values[3], std::numeric_limits<double>::infinity());
    QVERIFY(sameBits(values[4], -0.0)); // a real negative zero keeps its sign
    QVERIFY(sameBits(values[5], 0.0));  // zero with any exponent is zero
    QCOMPARE(values[6], std::numeric_limits<double>::denorm_min());
    QCOMPARE(values[7], std::numeric_limits<double>::max());
    for (const char *line : {"1e999,0", "0,-1e999", "1e-999,0", "0,2e-324", "1.7976931348623159e308,0"})
        QVERIFY2(!parseRecord(line, 1, &values), line);
}

void TestRecordParser::splitsLinesOverManyAppends()
{
    LineSplitter splitter;
    const QByteArray text = "12.5,23.1,-3.4,22.8\r\n";
    for (int i = 0; i + 1 < text.size(); ++i) {
        splitter.append(text.mid(i, 1));
        QByteArray line;
        QVERIFY(!splitter.takeLine(&line));
        QCOMPARE(splitter.pendingSize(), i + 1);
    }
    splitter.append("\n7,8");
    QCOMPARE(takeAll(&splitter), QByteArrayList{"12.5,23.1,-3.4,22.8\r"});
    QCOMPARE(splitter.pendingSize(), 3);
    splitter.append(",9,10\n");
    QCOMPARE(takeAll(&splitter), QByteArrayList{"7,8,9,10"});
    QCOMPARE(splitter.pendingSize(), 0);
    QCOMPARE(splitter.overlongLines(), quint64(0));
}

void TestRecordParser::splitsSeveralLinesInOneAppend()
{
    LineSplitter splitter;
    splitter.append("1,2,3,4\n5,6,7,8\r\n9,10,11,12\nhalf");
    QCOMPARE(takeAll(&splitter), (QByteArrayList{"1,2,3,4", "5,6,7,8\r", "9,10,11,12"}));
    QCOMPARE(splitter.pendingSize(), 4);
    splitter.append(",line\n");
    QCOMPARE(takeAll(&splitter), QByteArrayList{"half,line"});
}

void TestRecordParser::keepsCarriageReturnAndEmptyLines()
{
    LineSplitter splitter;
    splitter.append("\n\r\n\n");
    QCOMPARE(takeAll(&splitter), (QByteArrayList{"", "\r", ""}));
    QByteArray line = "old";
    splitter.append("\n");
    QVERIFY(splitter.takeLine(&line));
    QVERIFY(line.isEmpty());
}

void TestRecordParser::dropsOverlongLineWhole_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::newRow("one append") << 1000;
    QTest::newRow("pieces of 7 bytes") << 7;
    QTest::newRow("byte by byte") << 1;
}

// A line past the bound is dropped whole, its start and its tail alike: it never joins the
// next line, and the next good line is still taken.
void TestRecordParser::dropsOverlongLineWhole()
{
    QFETCH(int, pieceSize);
    const int bound = 16;
    LineSplitter splitter(bound);
    const QByteArray overlong = "1,2,3,4," + QByteArray(40, '9') + ",5,6";
    const QByteArray stream = "1,2\n" + overlong + "\n3,4\n" + QByteArray(bound, 'x') + "\n5,6\n";
    QByteArrayList lines;
    for (int i = 0; i < stream.size(); i += pieceSize) {
        splitter.append(stream.mid(i, pieceSize));
        QVERIFY(splitter.pendingSize() <= bound);
        lines += takeAll(&splitter);
    }
    QCOMPARE(lines, (QByteArrayList{"1,2", "3,4", QByteArray(bound, 'x'), "5,6"}));
    QCOMPARE(splitter.overlongLines(), quint64(1));
    QCOMPARE(splitter.droppedBytes(), quint64(overlong.size() + 1));
    RecordValues values;
    QVERIFY(parseRecord(lines[1], 1, &values));
    QCOMPARE(values[0], 3.0);
}

void TestRecordParser::boundHoldsForEndlessLine()
{
    LineSplitter splitter(100);
    const QByteArray block(37, '7');
    for (int i = 0; i < 1000; ++i) {
        splitter.append(block);
        QVERIFY(splitter.pendingSize() <= 100);
        QByteArray line;
        QVERIFY(!splitter.takeLine(&line));
    }
    QCOMPARE(splitter.overlongLines(), quint64(1));
    QCOMPARE(splitter.droppedBytes(), quint64(37 * 1000));
    splitter.append("tail\n1,2\n");
    QCOMPARE(takeAll(&splitter), QByteArrayList{"1,2"});
    QCOMPARE(splitter.droppedBytes(), quint64(37 * 1000 + 5));
}

void TestRecordParser::lineOfExactlyTheBoundIsKept()
{
    LineSplitter splitter(8);
    splitter.append("12345678");
    QCOMPARE(splitter.pendingSize(), 8);
    splitter.append("\n123456789\n");
    QCOMPARE(takeAll(&splitter), QByteArrayList{"12345678"});
    QCOMPARE(splitter.overlongLines(), quint64(1));
    QCOMPARE(splitter.droppedBytes(), quint64(10));
    QCOMPARE(LineSplitter(0).pendingSize(), 0); // a bound below 1 is taken as 1
}

// Lines taken one at a time while more arrive: the buffer is compacted behind the reader
// without losing or reordering anything.
void TestRecordParser::backlogOfLinesSurvivesCompaction()
{
    LineSplitter splitter(64);
    int nextIn = 0;
    int nextOut = 0;
    QByteArray line;
    for (int round = 0; round < 2000; ++round) {
        QByteArray burst;
        for (int i = 0; i < 3; ++i)
            burst += QByteArray::number(nextIn++) + ",x\n";
        burst += "par";
        splitter.append(burst);
        splitter.append("tial\n");
        ++nextIn; // the "partial" line
        // Take two lines per round: a backlog builds up.
        for (int i = 0; i < 2 && splitter.takeLine(&line); ++i, ++nextOut) {
            if (nextOut % 4 == 3)
                QCOMPARE(line, QByteArray("partial"));
            else
                QCOMPARE(line, QByteArray::number(nextOut) + ",x");
        }
    }
    while (splitter.takeLine(&line))
        ++nextOut;
    QCOMPARE(nextOut, nextIn);
    QCOMPARE(splitter.pendingSize(), 0);
}

void TestRecordParser::clearForgetsPartialLine()
{
    LineSplitter splitter(10);
    splitter.append("1,2\n3,4");
    splitter.clear();
    QCOMPARE(splitter.pendingSize(), 0);
    splitter.append(",5,6\n");
    QCOMPARE(takeAll(&splitter), QByteArrayList{",5,6"});

    // Clearing in the middle of an overlong line: what follows is a fresh line again.
    splitter.append("01234567890123");
    splitter.clear();
    splitter.append("7,8\n");
    QCOMPARE(takeAll(&splitter), QByteArrayList{"7,8"});
    QCOMPARE(splitter.overlongLines(), quint64(1));
}

QTEST_GUILESS_MAIN(TestRecordParser)
#include "tst_recordparser.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// CSV numbers: the shortest text that reads back exactly, in printf's %g layout.

#include "data/csvnumber.h"

#include <QtTest>

#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

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

} // namespace

class TestCsvNumber : public QObject
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
};

void TestCsvNumber::initTestCase()
{
    // The application object took the user's locale; printf must use "." as the reference.
    std::setlocale(LC_NUMERIC, "C");
}

void TestCsvNumber::documentExamples_data()
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

void TestCsvNumber::documentExamples()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(formatCsvNumber(value), text);
    QVERIFY(readsBackAs(text, value));
}

// Every value that six significant digits hold is written exactly as printf("%.6g") writes
// it, across the whole range of exponents and on both sides of the fixed/exponent switch.
void TestCsvNumber::sixDigitValuesMatchPrintf()
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

void TestCsvNumber::longValuesKeepEveryDigit_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::newRow("values with few decimals") << quint64(1);
    QTest::newRow("arbitrary bit patterns") << quint64(2);
}

// Any value: the text reads back as the same double, holds no more significant digits than
// the shortest such text, and uses exponent notation exactly when the rule says so.
void TestCsvNumber::longValuesKeepEveryDigit()
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
void TestCsvNumber::timesInMillisecondsAsDecimals()
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

void TestCsvNumber::nonFiniteValuesAsPrintf()
{
    const double values[] = {
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (double v : values)
        QCOMPARE(formatCsvNumber(v), printfG("%g", v));
}

void TestCsvNumber::appendsToExistingText()
{
    QByteArray text = "x=";
    appendCsvNumber(&text, -2.5);
    appendCsvNumber(&text, 1e-5);
    QCOMPARE(text, QByteArray("x=-2.51e-05"));
}

QTEST_GUILESS_MAIN(TestCsvNumber)
#include "tst_csvnumber.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Statistics over a stretch of a run, against a plain two-pass computation written here.

#include "analysis/runstatistics.h"
#include "support/runfiles.h"
#include "support/statisticsreference.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

using Run = RecordedRun;

// Rows from `first`, times 10 ms apart (repeated now and then, as stamps can be), channel values
// far from zero with small noise: where a running sum of squares loses every digit.
void grow(Run *run, int rows, std::mt19937_64 *random)
{
    std::normal_distribution<double> noise(0.0, 1.0);
    const double offsets[8] = {1e6, 23.5, -3e5, 0, 7e7, 1e-3, 42, -1e6};
    const double scales[8] = {1, 0.2, 1e-3, 5, 0.5, 1e-6, 10, 2};
    for (int i = 0; i < rows; ++i) {
        const int row = run->time.size();
        run->time.append(row % 100 == 1 ? run->time.last() : row * 0.01);
        for (int k = 0; k < 8; ++k)
            run->channels[size_t(k)].append(offsets[k] + scales[k] * noise(*random));
    }
}

void checkRows(RunStatistics *statistics, const Run &run, int first, int end)
{
    const StretchStatistics s = statistics->computeRows(first, end);
    QCOMPARE(s.firstRow, first);
    QCOMPARE(s.endRow, end);
    QCOMPARE(s.channels.size(), 8);
    for (int k = 0; k < 8; ++k) {
        const ChannelStatistics r = referenceStatistics(run.channels[size_t(k)], first, end);
        const ChannelStatistics &c = s.channels[k];
        const QString where = QStringLiteral("CH%1 rows %2..%3: ").arg(k + 1).arg(first).arg(end);
        QVERIFY2(c.samples == r.samples && c.nonFinite == r.nonFinite, qPrintable(where + "counts"));
        QVERIFY2(c.min == r.min && c.max == r.max, qPrintable(where + "extremes"));
        QVERIFY2(closeToReference(c.mean, r.mean, r.mean),
                 qPrintable(where + QString::number(c.mean - r.mean)));
        if (r.samples > 1)
            QVERIFY2(closeToReference(c.sd, r.sd, r.sd),
                     qPrintable(where + QString::number(c.sd / r.sd - 1)));
    }
}

} // namespace

class TestRunStatistics : public QObject
{
    Q_OBJECT

private slots:
    void matchesTwoPassOnAMillionNoisyRows();
    void followsAGrowingRun();
    void timeRangesAndLeftOutValues();
    void tableText();
    void everyFiniteValue_data();
    void everyFiniteValue();
};

void TestRunStatistics::matchesTwoPassOnAMillionNoisyRows()
{
    Run run;
    std::mt19937_64 random(1);
    grow(&run, 1000000, &random);
    RunStatistics statistics;
    statistics.setSeries(run.view(), 8);
    const int b = RunStatistics::BlockRows;
    // The whole run, block edges, one block, within a block, across one edge, two rows, one row.
    const QVector<QPair<int, int>> ranges = {{0, 1000000},   {b, 5 * b}, {b, 2 * b},       {b + 1, 2 * b - 1},
                                             {b - 3, b + 3}, {7, 9},     {500000, 500001}, {999999, 1000000}};
    for (const auto &r : ranges)
        checkRows(&statistics, run, r.first, r.second);
    std::uniform_int_distribution<int> row(0, 1000000);
    for (int i = 0; i < 20; ++i) {
        int first = row(random);
        int end = row(random);
        checkRows(&statistics, run, std::min(first, end), std::max(first, end));
    }
}

void TestRunStatistics::followsAGrowingRun()
{
    Run run;
    std::mt19937_64 random(2);
    RunStatistics statistics;
    statistics.setSeries(run.view(), 8);
    QCOMPARE(statistics.computeRows(0, 10).rows(), 0);
    for (int step : {1, 4095, 1, 3 * RunStatistics::BlockRows + 7, 10000, 2 * RunStatistics::BlockRows}) {
        grow(&run, step, &random); // the series move in memory as they grow
        const int n = run.time.size();
        checkRows(&statistics, run, 0, n);
        checkRows(&statistics, run, n / 3, n);
    }
    // Emptied and filled again (a reset): nothing of the old run stays.
    run = Run(); // the same vectors, emptied
    grow(&run, 3 * RunStatistics::BlockRows, &random);
    statistics.reset();
    checkRows(&statistics, run, 0, run.time.size());
}

void TestRunStatistics::timeRangesAndLeftOutValues()
{
    Run run;
    run.time = {0, 1, 1, 2, 3, 3, 4};
    run.channels[0] = {5, Nan, 7, Inf, 9, -Inf, 11};
    run.channels[1] = {1, 2, 3, 4, 5, 6, 7};
    RunStatistics statistics;
    statistics.setSeries(run.view(), 2);
    StretchStatistics s = statistics.compute(1, 3); // both ends included, repeated times too
    QCOMPARE(s.firstRow, 1);
    QCOMPARE(s.endRow, 6);
    QCOMPARE(s.firstTime, 1.0);
    QCOMPARE(s.lastTime, 3.0);
    QCOMPARE(s.channels[0].samples, 2);
    QCOMPARE(s.channels[0].nonFinite, 3);
    QCOMPARE(s.channels[0].mean, 8.0);
    QCOMPARE(s.channels[0].sd, std::sqrt(2.0));
    QCOMPARE(s.channels[1].mean, 4.0);
    QCOMPARE(statistics.compute(0.5, 0.9).rows(), 0);
    QCOMPARE(statistics.compute(3, 1).rows(), 0);
    QCOMPARE(statistics.compute(Nan, 4).rows(), 0);
    QCOMPARE(statistics.compute(-Inf, Inf).rows(), 7);
    s = statistics.compute(0.5, 1.5);
    QCOMPARE(s.channels[0].samples, 1);
    QVERIFY(std::isnan(s.channels[0].sd));
}

void TestRunStatistics::tableText()
{
    Run run;
    run.time = {0, 1, 2, 3};
    run.channels[0] = {1, 2, 3, 4};
    run.channels[1] = {Nan, Nan, 1e-05, Nan};
    run.channels[2] = {Nan, Nan, Nan, Inf};
    QCOMPARE(statisticsText(run.view(), 3, 0, 3), QByteArray("channel\tsamples\tmean\tmin\tmax\tsd\n"
                                                             "CH1\t4\t2.5\t1\t4\t1.2909944487358056\n"
                                                             "CH2\t1\t1e-05\t1e-05\t1e-05\t\n"
                                                             "CH3\t0\t\t\t\t\n"));
}

void TestRunStatistics::everyFiniteValue_data()
{
    QTest::addColumn<QVector<double>>("values");
    const double most = std::numeric_limits<double>::max();
    QTest::newRow("two of 1e308") << QVector<double>{1e308, 1e308};
    QTest::newRow("+-1e200") << QVector<double>{1e200, -1e200, 1e200, -1e200, 1e200};
    QVector<double> spread, blocks, tiny;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(154, 300), unit(-1, 1);
    for (int i = 0; i < 3 * RunStatistics::BlockRows + 17; ++i) {
        spread.append(unit(random) * std::pow(10.0, exponent(random)));
        // Blocks of very different sizes, merged: ones, then near the largest double.
        blocks.append(i < RunStatistics::BlockRows ? 1 + unit(random) : most * (0.25 + 0.25 * unit(random)));
        tiny.append((2 + unit(random)) * std::numeric_limits<double>::denorm_min() * 1e6);
    }
    QTest::newRow("1e154 to 1e300, either sign") << spread;
    QTest::newRow("ones, then blocks near the largest double") << blocks;
    QTest::newRow("subnormals") << tiny;
    QTest::newRow("sd beyond the largest double") << QVector<double>{most, -most, most * 0.9, -most};
    QTest::newRow("mean of the largest") << QVector<double>{most, most, most};
}

// Any finite values: mean and sd to 1e-12 of the plain long-double computation, or, where the sd
// is beyond a double, "too large to compute" and never a number that is wrong.
void TestRunStatistics::everyFiniteValue()
{
    QFETCH(QVector<double>, values);
    Run run;
    for (int i = 0; i < values.size(); ++i)
        run.time.append(i);
    run.channels[0] = values;
    RunStatistics statistics;
    statistics.setSeries(run.view(), 1);
    for (const auto &[first, end] : {std::pair{0, int(values.size())}, std::pair{1, int(values.size())}}) {
        const ChannelStatistics r = referenceStatistics(values, first, end);
        const ChannelStatistics c = statistics.computeRows(first, end).channels[0];
        QCOMPARE(c.samples, r.samples);
        QVERIFY2(std::isfinite(c.mean) && closeToReference(c.mean, r.mean, std::max(std::fabs(r.mean), r.sd)),
                 qPrintable(QStringLiteral("mean %1, not %2").arg(c.mean).arg(r.mean)));
        if (std::isinf(r.sd)) {
            QVERIFY2(c.sdTooLarge(), qPrintable(QString::number(c.sd)));
            QVERIFY(statisticsText(run.view(), 1, -Inf, Inf).contains("\ttoo large to compute\n"));
        } else if (r.samples > 1) {
            QVERIFY2(closeToReference(c.sd, r.sd, r.sd),
                     qPrintable(QStringLiteral("sd %1, not %2").arg(c.sd).arg(r.sd)));
        }
    }
}

QTEST_GUILESS_MAIN(TestRunStatistics)
#include "tst_runstatistics.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic method: its fit against a plain reference (normal equations in long double, memory
// sums written out term by term, Student's t by numerical integration), its R on a simulated wall
// through a change of weather against the wall's known R, steady runs against the average method,
// bad input, and the heat-flux correction for the sensor's temperature.

#include "analysis/dynamicmethod.h"
#include "analysis/studentt.h"
#include "analysis/walltest.h"
#include "support/recordedrun.h"
#include "support/wallweather.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

using wallweather::Day;
using wallweather::Hour;
using Intervals = std::vector<DynamicInterval>;

// Student's t: the density integrated by Simpson's rule from 0, then bisection.
long double referenceTQuantile(double p, int dof)
{
    const long double v = dof;
    const long double norm = std::exp(std::lgamma((v + 1) / 2) - std::lgamma(v / 2)) / std::sqrt(v * M_PI);
    auto cdf = [&](long double t) {
        const int steps = 20000;
        const long double h = t / steps;
        long double s = 0;
        for (int i = 0; i <= steps; ++i) {
            const long double x = i * h;
            const long double f = norm * std::pow(1 + x * x / v, -(v + 1) / 2);
            s += (i == 0 || i == steps ? 1 : i % 2 ? 4 : 2) * f;
        }
        return 0.5L + s * h / 3;
    };
    long double low = 0, high = 100;
    for (int i = 0; i < 60; ++i) {
        const long double mid = (low + high) / 2;
        (cdf(mid) < p ? low : high) = mid;
    }
    return (low + high) / 2;
}

struct ReferenceFit
{
    bool ok = false;
    long double lambda = 0, rss = 0, halfWidth = 0;
};

// The model as written, rates in K per hour (another scale than the code's), memory sums as
// sums, and the normal equations solved by Gauss-Jordan with partial pivoting.
ReferenceFit referenceFit(const Intervals &in, double step, int m, double r, double tau1,
                          bool interval = true)
{
    const long double hours = step / 3600;
    std::vector<std::vector<long double>> rows;
    std::vector<long double> y;
    for (size_t i = 1; i < in.size(); ++i) {
        if (in[i].records == 0 || in[i - 1].records == 0)
            continue;
        size_t first = i - 1; // the stretch's first interval
        while (first > 0 && in[first - 1].records > 0)
            --first;
        auto rate = [&](size_t j, bool warm) {
            return ((warm ? in[j].warm() : in[j].cold()) - (warm ? in[j - 1].warm() : in[j - 1].cold())) /
                   hours;
        };
        std::vector<long double> row{in[i].difference};
        for (bool warm : {true, false}) {
            row.push_back(rate(i, warm));
            for (int n = 0; n < m; ++n) {
                const long double beta = std::exp(-(long double)step / (tau1 / std::pow(r, n)));
                long double s = 0;
                for (size_t j = first + 1; j < i; ++j)
                    s += rate(j, warm) * (1 - beta) * std::pow(beta, (long double)(i - j));
                row.push_back(s);
            }
        }
        rows.push_back(row);
        y.push_back(in[i].q);
    }
    // The first third of the equations only give the memory sums their history.
    const size_t history = rows.size() / 3;
    rows.erase(rows.begin(), rows.begin() + long(history));
    y.erase(y.begin(), y.begin() + long(history));
    ReferenceFit fit;
    const size_t p = size_t(3 + 2 * m), n = rows.size();
    if (n < 2 * p)
        return fit;
    // [X^T X | X^T y | I]
    std::vector<std::vector<long double>> a(p, std::vector<long double>(2 * p + 1, 0));
    for (size_t i = 0; i < p; ++i) {
        for (size_t j = 0; j < p; ++j)
            for (size_t k = 0; k < n; ++k)
                a[i][j] += rows[k][i] * rows[k][j];
        for (size_t k = 0; k < n; ++k)
            a[i][p] += rows[k][i] * y[k];
        a[i][p + 1 + i] = 1;
    }
    for (size_t c = 0; c < p; ++c) {
        size_t pivot = c;
        for (size_t i = c + 1; i < p; ++i)
            if (std::fabs(a[i][c]) > std::fabs(a[pivot][c]))
                pivot = i;
        std::swap(a[c], a[pivot]);
        if (a[c][c] == 0)
            return fit;
        const long double d = a[c][c];
        for (long double &v : a[c])
            v /= d;
        for (size_t i = 0; i < p; ++i) {
            if (i == c)
                continue;
            const long double f = a[i][c];
            for (size_t j = 0; j < a[i].size(); ++j)
                a[i][j] -= f * a[c][j];
        }
    }
    for (size_t k = 0; k < n; ++k) {
        long double e = y[k];
        for (size_t i = 0; i < p; ++i)
            e -= rows[k][i] * a[i][p];
        fit.rss += e * e;
    }
    const int dof = int(n - p);
    fit.ok = true;
    fit.lambda = a[0][p];
    if (interval)
        fit.halfWidth = referenceTQuantile(0.975, dof) * std::sqrt(fit.rss / dof * a[0][p + 1]);
    return fit;
}

// Hourly means of a run, summed plainly from its records into buckets from its first record.
Intervals bucketMeans(const std::vector<std::array<double, 4>> &records, double step)
{
    Intervals out;
    const double t0 = records.front()[0];
    const int last = int(std::floor((records.back()[0] - t0) / step));
    out.resize(size_t(last));
    for (const auto &r : records) {
        const int k = int(std::floor((r[0] - t0) / step));
        if (k >= last || !std::isfinite(r[1] + r[2] + r[3]))
            continue;
        DynamicInterval &i = out[size_t(k)];
        ++i.records;
        i.q += r[1];
        i.difference += r[2] - r[3];
        i.mean += (r[2] + r[3]) / 2;
    }
    for (DynamicInterval &i : out) {
        if (i.records > 0)
            i.q /= i.records, i.difference /= i.records, i.mean /= i.records;
    }
    return out;
}

// The simulated wall's records over [from, to), fed to a wall test from from on.
struct Window
{
    double average;
    DynamicResult dynamic;
};
Window analyseWindow(const std::vector<std::array<double, 4>> &records, double from, double to)
{
    WallTest test;
    for (const auto &r : records) {
        if (r[0] >= from && r[0] <= to)
            test.append(r[0], r[1], r[2], r[3]);
    }
    return {*test.state().r,
            DynamicMethod::analyse(test.intervalMeans().whole(), DynamicMethod::DefaultStep)};
}

Intervals moving(int count, const std::vector<int> &gaps = {})
{
    // A light wall's hourly means, with a little noise in q, so that no fit is exact.
    Intervals out(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double h = i;
        DynamicInterval &v = out[size_t(i)];
        const double ti = 20 + std::sin(h / 5), te = 4 + 5 * std::sin(h / 11 + 1) - 0.05 * h;
        v.difference = ti - te;
        v.mean = (ti + te) / 2;
        v.q = v.difference / 1.8 + 0.3 * std::cos(h / 3) + 0.05 * std::sin(h * 7.3);
        v.records = 60;
    }
    for (int g : gaps)
        out[size_t(g)] = DynamicInterval();
    return out;
}

} // namespace

class TestDynamicMethod : public QObject
{
    Q_OBJECT

private slots:
    void studentTMatchesTheTables();
    void fitAgreesWithReference_data();
    void fitAgreesWithReference();
    void leastResidualCandidateWins();
    void intervalsAreBucketMeans();
    void simulatedWallThroughAChangeOfWeather();
    void steadyRunsGiveTheAverageMethod_data();
    void steadyRunsGiveTheAverageMethod();
    void badInput();
    void fluxCorrectionSign();
};

void TestDynamicMethod::studentTMatchesTheTables()
{
    // Two-sided 95 % values from the printed tables.
    const std::pair<int, double> table[] = {{1, 12.7062}, {2, 4.3027},  {3, 3.1824},
                                            {5, 2.5706},  {10, 2.2281}, {20, 2.0860},
                                            {30, 2.0423}, {60, 2.0003}, {120, 1.9799}};
    for (const auto &row : table)
        QVERIFY2(std::fabs(studentTQuantile(0.975, row.first) - row.second) < 6e-5,
                 qPrintable(QString::number(row.first)));
    QCOMPARE(studentTQuantile(0.995, 4) > 4.6040 && studentTQuantile(0.995, 4) < 4.6042, true);
    QVERIFY(std::fabs(studentTQuantile(0.975, 100000) - 1.959964) < 1e-4);
    QCOMPARE(studentTQuantile(0.025, 7), -studentTQuantile(0.975, 7));
    QVERIFY(std::isnan(studentTQuantile(0.975, 0)) && std::isnan(studentTQuantile(1, 3)));
}

void TestDynamicMethod::fitAgreesWithReference_data()
{
    QTest::addColumn<int>("m");
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("tau1Hours");
    QTest::addColumn<bool>("withGaps");
    QTest::newRow("m 1, short tau") << 1 << 1.0 << 2.0 << false;
    QTest::newRow("m 1, long tau, gaps") << 1 << 1.0 << 90.0 << true;
    QTest::newRow("m 2") << 2 << 5.0 << 30.0 << false;
    QTest::newRow("m 3, gaps") << 3 << 3.0 << 40.0 << true;
}

void TestDynamicMethod::fitAgreesWithReference()
{
    QFETCH(int, m);
    QFETCH(double, r);
    QFETCH(double, tau1Hours);
    QFETCH(bool, withGaps);
    const Intervals in = moving(150, withGaps ? std::vector<int>{40, 41, 97} : std::vector<int>{});
    const DynamicFit fit = DynamicMethod::fit(in, Hour, {m, r, tau1Hours * Hour});
    const ReferenceFit ref = referenceFit(in, Hour, m, r, tau1Hours * Hour);
    QVERIFY(fit.ok && ref.ok);
    // 149 equations, or 144 with three stretches; a third of them history.
    QCOMPARE(fit.equations, withGaps ? 96 : 100);
    QVERIFY2(
        std::fabs(fit.lambda - double(ref.lambda)) < 1e-9 * std::fabs(double(ref.lambda)),
        qPrintable(QStringLiteral("%1 %2").arg(fit.lambda, 0, 'g', 17).arg(double(ref.lambda), 0, 'g', 17)));
    QVERIFY(std::fabs(fit.residualSumOfSquares - double(ref.rss)) < 1e-8 * double(ref.rss));
    QVERIFY(std::fabs(fit.lambdaHalfWidth - double(ref.halfWidth)) < 1e-6 * double(ref.halfWidth));
    QVERIFY(fit.lambdaHalfWidth > 0);
}

void TestDynamicMethod::leastResidualCandidateWins()
{
    const Intervals in = moving(120, {60});
    const DynamicResult result = DynamicMethod::analyse(in, Hour);
    QCOMPARE(result.status, DynamicResult::Status::Ok);
    const std::vector<DynamicCandidate> grid = DynamicMethod::candidates(120, Hour);
    QCOMPARE(result.candidates, int(grid.size()));
    ReferenceFit best;
    DynamicCandidate bestCandidate;
    for (const DynamicCandidate &c : grid) {
        // Each candidate's tau within the grid's bounds: from dt / 2 to the span.
        QVERIFY(c.tau1 >= Hour * 0.999 && c.tau1 <= 120 * Hour * 1.001 && c.m >= 1 && c.m <= 3);
        QVERIFY(c.tau1 / std::pow(c.r, c.m - 1) >= Hour / 2);
        const ReferenceFit f = referenceFit(in, Hour, c.m, c.r, c.tau1, false);
        if (f.ok && (!best.ok || f.rss < best.rss))
            best = f, bestCandidate = c;
    }
    QVERIFY(best.ok);
    best = referenceFit(in, Hour, bestCandidate.m, bestCandidate.r, bestCandidate.tau1);
    QCOMPARE(result.fit.candidate.m, bestCandidate.m);
    QCOMPARE(result.fit.candidate.tau1, bestCandidate.tau1);
    QVERIFY(std::fabs(*result.r - double(1 / best.lambda)) < 1e-9 * *result.r);
    QVERIFY(*result.rLow < *result.r && *result.r < *result.rHigh);
    QVERIFY(std::fabs(*result.rLow - double(1 / (best.lambda + best.halfWidth))) < 1e-6 * *result.r);
    QVERIFY(*result.uLow < *result.u && *result.u < *result.uHigh);
    QCOMPARE(*result.u, 1 / (0.13 + *result.r + 0.04));
    QCOMPARE(*result.uLow, 1 / (0.13 + *result.rHigh + 0.04));
}

void TestDynamicMethod::intervalsAreBucketMeans()
{
    // Irregular records from t0 = 1000 s, a pause of two and a half hours, a non-finite
    // record; a wall test sums them into the intervals from its first record.
    std::vector<std::array<double, 4>> records;
    double t = 1000;
    for (int i = 0; t < 1000 + 30 * Hour; ++i) {
        t += (i % 3 == 0) ? 7 : 61.5;
        if (t > 1000 + 9.6 * Hour && t < 1000 + 12.1 * Hour)
            continue;
        records.push_back({t, 5 + std::sin(t / 5000), 20 + std::cos(t / 7000), -1 + 0.1 * (i % 17)});
    }
    records.insert(records.begin(), {1000, 5, 20, 0});
    records[200][2] = NAN;
    WallTest test;
    for (const auto &r : records)
        test.append(r[0], r[1], r[2], r[3]);
    const Intervals code = test.intervalMeans().whole();
    const Intervals plain = bucketMeans(records, Hour);
    QCOMPARE(code.size(), plain.size());
    QCOMPARE(test.intervalMeans().wholeCount(), 30);
    int gaps = 0;
    for (size_t k = 0; k < code.size(); ++k) {
        QCOMPARE(code[k].records, plain[k].records);
        gaps += code[k].records == 0;
        if (code[k].records == 0)
            continue;
        QVERIFY(std::fabs(code[k].q - plain[k].q) < 1e-12);
        QVERIFY(std::fabs(code[k].warm() - (plain[k].mean + plain[k].difference / 2)) < 1e-12);
        QVERIFY(std::fabs(code[k].cold() - (plain[k].mean - plain[k].difference / 2)) < 1e-12);
    }
    QCOMPARE(gaps, 2); // hours 10 and 11; 9 and 12 hold some records
}

void TestDynamicMethod::simulatedWallThroughAChangeOfWeather()
{
    std::vector<std::array<double, 4>> records;
    const double trueR = wallweather::run(11, 60, [&](double t, double q, double tsi, double tse) {
        records.push_back({t, q, tsi, tse});
    });
    QVERIFY(std::fabs(trueR - (0.015 / 0.7 + 0.365 / 0.8 + 0.02 / 0.9)) < 1e-12);
    struct Row
    {
        double from, days;
    };
    const Row windows[] = {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {7, 3},
                           {0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {6, 4}, {7, 4}};
    qInfo(
        "window (days)  true R   average          dynamic (95 %% interval)                 m  r   tau1 (h)");
    double worstDynamic = 0, worstAverage = 0;
    for (const Row &w : windows) {
        const Window result = analyseWindow(records, w.from * Day, (w.from + w.days) * Day);
        QCOMPARE(result.dynamic.status, DynamicResult::Status::Ok);
        const double dyn = *result.dynamic.r;
        const double offAverage = 100 * (result.average - trueR) / trueR;
        const double offDynamic = 100 * (dyn - trueR) / trueR;
        qInfo("%4.0f to %4.0f    %.4f   %.4f (%+5.1f %%)  %.4f (%+5.1f %%) [%.4f, %.4f]  %d  %-3g %6.1f",
              w.from, w.from + w.days, trueR, result.average, offAverage, dyn, offDynamic,
              *result.dynamic.rLow, result.dynamic.rHigh.value_or(NAN), result.dynamic.fit.candidate.m,
              result.dynamic.fit.candidate.r, result.dynamic.fit.candidate.tau1 / Hour);
        worstDynamic = std::max(worstDynamic, std::fabs(offDynamic));
        worstAverage = std::max(worstAverage, std::fabs(offAverage));
    }
    qInfo("worst: average %.1f %%, dynamic %.1f %%", worstAverage, worstDynamic);
    QVERIFY2(worstDynamic < 2, "the dynamic method within a few percent of the true R");
    QVERIFY2(worstAverage > 6, "the average method several percent off on some window");
}

void TestDynamicMethod::steadyRunsGiveTheAverageMethod_data()
{
    QTest::addColumn<bool>("massless");
    QTest::newRow("steady: nothing moves") << false;
    QTest::newRow("no heat stored, the weather changing") << true;
}

void TestDynamicMethod::steadyRunsGiveTheAverageMethod()
{
    // A wall with no capacity answers at once: q = (T_si - T_se) / R at every record, however
    // the temperatures move; steady, nothing moves at all.
    QFETCH(bool, massless);
    const double r = 1.37;
    WallTest test;
    for (double t = 0; t <= 5 * Day; t += 30) {
        const double tsi = massless ? 21 + std::sin(t / 20000) : 21;
        const double tse = massless ? wallweather::coldSide(t) : -3.5;
        test.append(t, (tsi - tse) / r, tsi, tse);
    }
    const DynamicResult d = DynamicMethod::analyse(test.intervalMeans().whole(), Hour);
    QCOMPARE(d.status, DynamicResult::Status::Ok);
    QVERIFY2(std::fabs(*d.r - *test.state().r) < 1e-6 * r,
             qPrintable(QStringLiteral("%1 %2").arg(*d.r, 0, 'g', 17).arg(*test.state().r, 0, 'g', 17)));
    QCOMPARE(d.fit.candidate.m, massless ? d.fit.candidate.m : 0);
    QVERIFY(*d.rHigh - *d.rLow < 1e-6 * r);
}

void TestDynamicMethod::badInput()
{
    // Moving temperatures: the smallest model has L, K1, P1, K2, Q1, so it needs 10 equations
    // fitted, 14 with the third before them that is history only, so 15 whole intervals in one
    // stretch; a gap costs two (itself and the next one's derivative).
    DynamicResult d = DynamicMethod::analyse(moving(14), Hour);
    QCOMPARE(d.status, DynamicResult::Status::TooFewIntervals);
    QCOMPARE(d.equations, 13 - 4);
    QCOMPARE(d.equationsNeeded, 10);
    QCOMPARE(d.intervalsNeeded, 15);
    QVERIFY2(
        d.problem().contains("14 whole interval(s) of 1 h give 9 equation(s) to fit, at least 10 needed (15 "
                             "whole intervals without a gap)"),
        qPrintable(d.problem()));
    QVERIFY(!d.r);
    // Enough equations is not yet a good fit: with 10 for 5 unknowns L may come out anything.
    QCOMPARE(DynamicMethod::analyse(moving(15), Hour).equations, 10);
    QVERIFY(DynamicMethod::analyse(moving(15), Hour).status != DynamicResult::Status::TooFewIntervals);
    QCOMPARE(DynamicMethod::analyse(moving(16, {5}), Hour).status, DynamicResult::Status::TooFewIntervals);
    QCOMPARE(DynamicMethod::analyse(moving(17, {5}), Hour).equations, 10);
    QCOMPARE(DynamicMethod::analyse(moving(36), Hour).status, DynamicResult::Status::Ok);
    QCOMPARE(DynamicMethod::analyse({}, Hour).status, DynamicResult::Status::TooFewIntervals);

    // Singular: both sides at the same temperature throughout, so L has nothing to multiply.
    Intervals same = moving(48);
    for (DynamicInterval &i : same)
        i.difference = 0;
    d = DynamicMethod::analyse(same, Hour);
    QCOMPARE(d.status, DynamicResult::Status::Singular);
    QVERIFY(d.problem().contains("singular") && !d.r);
    // Singular for every candidate with memory terms too: T_si and T_se move in step, so K1 and K2
    // are one column.
    Intervals lockstep = moving(48);
    for (DynamicInterval &i : lockstep)
        i.difference = 12.5;
    QCOMPARE(DynamicMethod::analyse(lockstep, Hour).status, DynamicResult::Status::Singular);

    // A NaN in a window: that record is skipped and counted, the rest stands.
    std::vector<std::array<double, 4>> records;
    wallweather::run(3, 60, [&](double t, double q, double tsi, double tse) {
        records.push_back({t, q, tsi, tse});
    });
    WallTest clean, withNan;
    for (size_t i = 0; i < records.size(); ++i) {
        const auto &r = records[i];
        clean.append(r[0], r[1], r[2], r[3]);
        withNan.append(r[0], i == 1234 ? NAN : r[1], r[2], r[3]);
    }
    QCOMPARE(withNan.state().skipped, 1);
    const Intervals a = clean.intervalMeans().whole(), b = withNan.intervalMeans().whole();
    QCOMPARE(b[1234 / 60].records, a[1234 / 60].records - 1);
    const DynamicResult withNanResult = DynamicMethod::analyse(b, Hour);
    QCOMPARE(withNanResult.status, DynamicResult::Status::Ok);
    QVERIFY(std::isfinite(*withNanResult.r));
    QVERIFY(std::fabs(*withNanResult.r - *DynamicMethod::analyse(a, Hour).r) < 1e-3);

    // Heat the other way (a plate the wrong way round): no R.
    Intervals reversed = a;
    for (DynamicInterval &i : reversed)
        i.q = -i.q;
    d = DynamicMethod::analyse(reversed, Hour);
    QCOMPARE(d.status, DynamicResult::Status::NoResistance);
    QVERIFY(!d.r && d.problem().contains("the other way"));

    // The temperature coefficient: a number from -5 to 5 %/K.
    for (double td : {double(NAN), double(INFINITY), 5.01, -6.0}) {
        FluxCorrection c;
        c.coefficient = td;
        QVERIFY2(c.problem().contains("from -5 to 5 %/K"), qPrintable(QString::number(td)));
        WallTestSettings s;
        s.correction = c;
        QVERIFY(!s.problem().isEmpty());
    }
    FluxCorrection edge{-5, 20};
    QVERIFY(edge.problem().isEmpty());
    edge.calibration = NAN;
    QVERIFY(!edge.problem().isEmpty());
    WallTestSettings s;
    s.step = 300;
    QVERIFY(s.problem().contains("interval"));
}

void TestDynamicMethod::fluxCorrectionSign()
{
    // Worked example: a plate calibrated at 25 degC whose sensitivity rises by 0.2 % per kelvin,
    // at 15 degC. Its sensitivity there is E_cal (1 + 0.002 (15 - 25)) = 0.98 E_cal: it gives 2 %
    // less voltage per W/m^2 than the unit assumes, so the unit's 49 W/m^2 were really 50.
    const FluxCorrection c{0.2, 25};
    QCOMPARE(c.corrected(49.0, 15.0), 50.0);
    // Warmer than calibrated: more voltage per W/m^2, the unit reads high.
    QCOMPARE(c.corrected(51.0, 35.0), 50.0);
    QCOMPARE(c.corrected(49.0, 25.0), 49.0);
    QCOMPARE(FluxCorrection().corrected(49.0, NAN), 49.0);

    // In the wall test, with the heat-flux sensor's own temperature (channel 6 here, sensor 3),
    // not the surface temperatures: steady 20 K across, the plate at 15 degC reading 49, so R is
    // 20 / 50 by both methods; the series keep what the unit sent.
    RecordedRun run;
    for (double t = 0; t <= 2 * Day; t += 10)
        run.append(t, {49, 20, 0, 0, 0, 15});
    WallTestSettings settings;
    settings.correction = c;
    WallTest test(run.view(), {1, 2, 4, 6}, settings);
    test.takeFromSeries(run.time.size());
    QCOMPARE(*test.state().r, 20.0 / 50.0);
    QCOMPARE(*DynamicMethod::analyse(test.intervalMeans().whole(), Hour).r, 20.0 / 50.0);
    QCOMPARE(run.channels[0].first(), 49.0);
    // Changing the correction takes the records again.
    QVERIFY(test.setSettings(WallTestSettings()));
    QCOMPARE(*test.state().r, 20.0 / 49.0);
    // Appended records are kept corrected: a new correction can't be applied to them.
    WallTest appended(settings);
    appended.append(0, 49, 20, 0, 15);
    QCOMPARE(appended.setSettings(WallTestSettings()), false);
}

QTEST_GUILESS_MAIN(TestDynamicMethod)
#include "tst_dynamicmethod.moc"

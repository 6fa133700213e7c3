// SPDX-License-Identifier: GPL-3.0-or-later
// The thermal-resistance analysis against a plain reference that recomputes every sum from the
// records at each point, on synthetic multi-day runs.

#include "analysis/walltest.h"
#include "analysis/walltestreport.h"
#include "analysis/walltesttexts.h"
#include "support/recordedrun.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double Hour = 3600, Day = 86400;
const double Nan = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

struct Sample
{
    double t, q, tsi, tse;
};
using Run = std::vector<Sample>;
using Shape = std::function<Sample(double t)>;

// Records every 4, 10, 9.5 and 456.5 s in turn (only the first and third carry passed heat), for
// the given days, leaving out the pauses [from, to).
Run makeRun(double days, const Shape &shape, const std::vector<std::pair<double, double>> &pauses = {})
{
    static const double steps[] = {4, 10, 9.5, 456.5};
    Run run;
    for (double t = 0; t <= days * Day; t += steps[run.size() % 4]) {
        bool paused = false;
        for (const auto &pause : pauses)
            paused = paused || (t >= pause.first && t < pause.second);
        if (!paused)
            run.push_back(shape(t));
    }
    return run;
}

double wave(double t, double lagHours)
{
    return std::sin(2 * M_PI * (t - lagHours * Hour) / Day);
}

// A light wall under a daily swing, the outside cooling by driftPerDay.
Sample swinging(double t, double driftPerDay = -0.4)
{
    return {t, 10 + 2.4 * wave(t, 6), 20 + 0.5 * wave(t, 2), -5 + 6 * wave(t, 0) + driftPerDay * t / Day};
}

// What the reference finds after the records [0, end) of a run.
struct Expected
{
    qint64 used = 0;
    std::optional<double> judgedAt, r, u, rDayBefore, rFirst, rLast, stored, passed;
    std::array<Verdict, 4> verdicts{Verdict::Fail, Verdict::Fail, Verdict::Fail, Verdict::NotAssessed};
};

// Straight from the method's definitions: the records used, then every sum from scratch.
Expected reference(const Run &run, size_t end, const WallTestSettings &settings)
{
    std::vector<Sample> used;
    for (size_t i = 0; i < end; ++i) {
        const Sample &s = run[i];
        if (!std::isfinite(s.t) || !std::isfinite(s.q) || !std::isfinite(s.tsi) || !std::isfinite(s.tse))
            continue;
        if (!used.empty() && (s.t < used.back().t || s.t - used.front().t > 3660 * Day))
            continue;
        used.push_back(s);
    }
    Expected e;
    e.used = qint64(used.size());
    if (used.empty())
        return e;
    const double t0 = used.front().t;
    double judged = used.back().t - t0;
    if (settings.heavy) {
        int days = 0;
        while ((days + 1) * Day <= judged)
            ++days;
        if (days == 0)
            return e;
        judged = days * Day;
    }
    // Count and sums of q, T_si - T_se and the mean temperature over from <= elapsed <= to.
    auto sums = [&](double from, double to) {
        std::array<double, 4> sum{};
        for (const Sample &s : used) {
            if (s.t - t0 >= from && s.t - t0 <= to)
                sum = {sum[0] + 1, sum[1] + s.q, sum[2] + (s.tsi - s.tse), sum[3] + (s.tsi + s.tse) / 2};
        }
        return sum;
    };
    auto resistance = [&](double from, double to) -> std::optional<double> {
        const auto sum = sums(from, to);
        if (sum[0] == 0 || sum[1] <= 0 || sum[2] < 0)
            return std::nullopt;
        return sum[2] / sum[1];
    };
    auto meanTemperature = [&](double from, double to) { return sums(from, to)[3] / sums(from, to)[0]; };
    auto holds = [](std::optional<double> value, std::optional<double> against) {
        return value && against && std::fabs(*value - *against) <= 0.05 * std::fabs(*against);
    };
    auto verdict = [](bool pass) { return pass ? Verdict::Pass : Verdict::Fail; };
    e.judgedAt = t0 + judged;
    e.r = resistance(0, judged);
    if (e.r)
        e.u = 1 / (settings.rsi + *e.r + settings.rse);
    e.verdicts[0] = verdict(judged >= 3 * Day);
    if (judged >= Day) {
        e.rDayBefore = resistance(0, judged - Day);
        e.verdicts[1] = verdict(holds(e.r, e.rDayBefore));
    }
    int period = 0;
    while (3 * (period + 1) * Day <= 2 * judged)
        ++period;
    if (period >= 1) {
        e.rFirst = resistance(0, period * Day);
        e.rLast = resistance(judged - period * Day, judged);
        e.verdicts[2] = verdict(holds(e.rFirst, e.rLast));
    }
    if (settings.capacity && judged >= 2 * Day) {
        double passed = 0;
        for (size_t k = 1; k < used.size() && used[k].t - t0 <= judged; ++k) {
            if (used[k].t - used[k - 1].t < 10)
                passed += used[k].q * (used[k].t - used[k - 1].t);
        }
        e.stored =
            *settings.capacity * 1000 * (meanTemperature(judged - Day, judged) - meanTemperature(0, Day));
        e.passed = passed;
        e.verdicts[3] = verdict(std::fabs(*e.stored) <= 0.05 * std::fabs(passed));
    }
    return e;
}

QString compared(const char *what, const std::optional<double> &got, const std::optional<double> &want)
{
    if (!got && !want)
        return QString();
    if (got && want && std::fabs(*got - *want) <= 1e-9 * std::max(std::fabs(*got), std::fabs(*want)))
        return QString();
    auto text = [](const std::optional<double> &v) {
        return v ? QString::number(*v, 'g', 17) : QString("none");
    };
    return QStringLiteral("%1 %2, reference %3; ").arg(what, text(got), text(want));
}

// Feeds the run and holds the state after every record to the reference; the first and last
// passes and "may stop since" follow from the reference's verdicts at every record.
void checkAgainstReference(const Run &run, const WallTestSettings &settings, WallTestState *final = nullptr)
{
    WallTest test(settings);
    std::array<std::optional<double>, 4> first, last;
    std::optional<double> since;
    qint64 used = 0;
    for (size_t i = 0; i < run.size(); ++i) {
        const Sample &s = run[i];
        const Expected e = reference(run, i + 1, settings);
        QCOMPARE(test.append(s.t, s.q, s.tsi, s.tse), e.used > used);
        const WallTestState &got = test.state();
        if (e.used > used) {
            bool allHold = true;
            for (size_t c = 0; c < 4; ++c) {
                if (e.verdicts[c] == Verdict::Pass) {
                    first[c] = first[c].value_or(s.t);
                    last[c] = s.t;
                }
                allHold = allHold && e.verdicts[c] != Verdict::Fail;
            }
            since = allHold ? since.value_or(s.t) : std::optional<double>();
        }
        QString diff = compared("judgedAt", got.judgedAt, e.judgedAt) + compared("R", got.r, e.r) +
                       compared("U", got.u, e.u) + compared("R a day before", got.rDayBefore, e.rDayBefore) +
                       compared("R first", got.rFirst, e.rFirst) + compared("R last", got.rLast, e.rLast) +
                       compared("stored", got.storedHeat, e.stored) +
                       compared("passed", got.passedHeat, e.passed) +
                       compared("may stop since", got.mayStopSince, since);
        for (size_t c = 0; c < 4; ++c) {
            if (got.criteria[c].verdict != e.verdicts[c])
                diff += QStringLiteral("verdict %1 %2, reference %3; ")
                            .arg(QChar('A' + int(c)))
                            .arg(verdictName(got.criteria[c].verdict), verdictName(e.verdicts[c]));
            diff += compared("first passed", got.criteria[c].firstPassed, first[c]) +
                    compared("last passed", got.criteria[c].lastPassed, last[c]);
        }
        QVERIFY2(diff.isEmpty(),
                 qPrintable(QString("record %1 (%2 h): %3").arg(i).arg(s.t / Hour).arg(diff)));
        QCOMPARE(got.records, used = e.used);
    }
    if (final)
        *final = test.state();
}

void feed(WallTest *test, const Run &run)
{
    for (const Sample &s : run)
        test->append(s.t, s.q, s.tsi, s.tse);
}

WallTestSettings settingsWith(bool heavy, std::optional<double> capacity)
{
    WallTestSettings settings;
    settings.heavy = heavy;
    settings.capacity = capacity;
    return settings;
}

// The run in a window's series: q in channel 1, T_si in channel 2, T_se in channel 4 (channel 3
// holds what nobody reads).
void appendTo(RecordedRun *series, const Sample &s)
{
    series->append(s.t, {s.q, s.tsi, -s.q, s.tse});
}
const WallTestChannels SeriesChannels{1, 2, 4};

} // namespace

class TestWallTest : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithReference_data();
    void agreesWithReference();
    void steadyWallIsExact();
    void convergesOnlyAfterFiveDays();
    void runsWithoutAResistance();
    void newSettingsJudgeTheRunAgain();
    void historyStaysBoundedOnLongRuns();
    void readingFromSeriesJudgesAsAppending();
    void anyFiniteValuesAreUsed();
};

void TestWallTest::agreesWithReference_data()
{
    QTest::addColumn<int>("run"); // 0: daily swing; 1: the same with pauses; 2: flux reversed at first
    QTest::addColumn<bool>("heavy");
    QTest::addColumn<double>("capacity");

    QTest::newRow("daily swing") << 0 << false << 8.0;
    QTest::newRow("daily swing, heavy element") << 0 << true << 300.0;
    QTest::newRow("pauses, dense stretch, bad records") << 1 << false << 8.0;
    QTest::newRow("pauses, heavy element") << 1 << true << 8.0;
    QTest::newRow("flux reversed for the first hours") << 2 << false << 20.0;
}

void TestWallTest::agreesWithReference()
{
    QFETCH(int, run);
    QFETCH(bool, heavy);
    QFETCH(double, capacity);
    Run records;
    if (run == 0) {
        records = makeRun(4.5, [](double t) { return swinging(t); });
    } else if (run == 1) {
        // A pause across the 36-h mark, a short absence, three dense minutes, then records to
        // skip: non-finite values, a time going back, an overflowing temperature difference.
        const double dense = 40 * Hour;
        records = makeRun(4.2, [](double t) { return swinging(t); },
                          {{30 * Hour, 37.5 * Hour}, {dense, dense + 180}, {50 * Hour, 50.2 * Hour}});
        Run extra;
        for (double t = dense; t < dense + 180; t += 0.1)
            extra.push_back(swinging(t));
        extra.insert(extra.end(), {{Nan, 1, 2, 3},
                                   {dense + 200, Nan, 20, 0},
                                   {dense + 200, 8, INFINITY, 0},
                                   {dense - 200, 8, 20, 0},
                                   {dense + 200, 8, Inf, -1e308}});
        auto at = std::find_if(records.begin(), records.end(), [&](const Sample &s) { return s.t > dense; });
        records.insert(at, extra.begin(), extra.end());
    } else {
        records = makeRun(4, [](double t) { return Sample{t, t < 6 * Hour ? -5.0 : 8.0, 20, 0}; });
    }
    checkAgainstReference(records, settingsWith(heavy, capacity));
}

void TestWallTest::steadyWallIsExact()
{
    // Steady for four days: 20 K across, 8 W/m^2 through.
    WallTestState s;
    checkAgainstReference(makeRun(4,
                                  [](double t) {
                                      return Sample{t, 8, 20, 0};
                                  }),
                          settingsWith(false, 50.0), &s);
    QCOMPARE(*s.r, 2.5);
    QCOMPARE(*s.u, 1 / (0.13 + 2.5 + 0.04));
    // A from 72 h, B from 24 h, C from 36 h; D from 48 h, as nothing is stored.
    const double firsts[] = {72 * Hour, 24 * Hour, 36 * Hour, 48 * Hour};
    for (size_t c = 0; c < 4; ++c)
        QCOMPARE(*s.criteria[c].firstPassed, firsts[c]);
    QCOMPARE(*s.mayStopSince, 72 * Hour);
    QCOMPARE(*s.storedHeat, 0.0);
    // 8 W/m^2 over the 4-s and 9.5-s steps, 13.5 s of every 480 s, for 4 days.
    QCOMPARE(*s.passedHeat, 8 * 13.5 * (4 * Day / 480));
    QCOMPARE(wallTestReport(s), QByteArray("R\t2.5\nU\t0.37453183520599254\nhours\t96\nA\tpass\nB\tpass\n"
                                           "C\tpass\nD\tpass\nmay_stop_since_h\t72\n"));
}

void TestWallTest::convergesOnlyAfterFiveDays()
{
    // The flux settles slowly (the wall still giving up heat it held), so the first days read R
    // low; the first days against the last agree for a while, then no longer, then for good.
    const Run run = makeRun(6.5, [](double t) {
        Sample s = swinging(t, 0);
        s.q *= 1 + 0.25 * std::exp(-t / (0.7 * Day));
        return s;
    });
    WallTestState s;
    checkAgainstReference(run, WallTestSettings(), &s);
    QVERIFY(s.mayStopSince && *s.mayStopSince > 5 * Day && *s.criteria[2].firstPassed < 5 * Day);
}

void TestWallTest::runsWithoutAResistance()
{
    // Ten records each: which sum has the wrong sign is said; no R and no U, not a negative one.
    const std::pair<Sample, const char *> cases[] = {
        {{0, -8, 20, 0}, "Heat flows the other way: the heat flux sums to -80 W/m^2 over 10 records"},
        {{0, 8, 0, 20}, "Heat flows the other way: T_si - T_se sums to -200 K over 10"},
        {{0, -8, 0, 20}, "the heat flux sums to -80 W/m^2 and T_si - T_se sums to -200 K"},
        {{0, 0, 20, 0}, "No heat flows: the heat flux sums to 0 W/m^2 over 10"}};
    for (const auto &c : cases) {
        WallTest test;
        for (int i = 0; i < 10; ++i)
            test.append(i, c.first.q, c.first.tsi, c.first.tse);
        QVERIFY(test.state().flowProblem() && !test.state().r && !test.state().u);
        QVERIFY2(flowProblemText(test.state()).contains(c.second), qPrintable(flowProblemText(test.state())));
        QVERIFY(wallTestReport(test.state()).startsWith("R\t\nU\t\nhours\t0.0025\n"));
    }
    // Both sides at one temperature: R is 0 and nothing is wrong.
    WallTest even;
    even.append(0, 8, 20, 20);
    QVERIFY(*even.state().r == 0 && flowProblemText(even.state()).isEmpty());

    WallTest test(settingsWith(true, 100.0));
    const QByteArray empty(
        "R\t\nU\t\nhours\t\nA\tfail\nB\tfail\nC\tfail\nD\tnot-assessed\nmay_stop_since_h\t\n");
    QCOMPARE(wallTestReport(test.state()), empty);
    QVERIFY(!test.append(Nan, 1, 2, 3) && !test.append(0, 1, Inf, -1e308));
    QVERIFY(test.append(5, 8, 20, 0));
    QVERIFY(!test.append(5 + 3661 * Day, 8, 20, 0)); // beyond ten years
    QCOMPARE(test.state().skipped, 3);
    QVERIFY(!test.state().r && *test.state().runningR == 2.5); // a heavy element before its first day
    QVERIFY(wallTestReport(test.state()).startsWith("R\t\nU\t\nhours\t0.001388888888888889\nA\tfail\n"));
    // Unusable settings are refused; clear() forgets the run but not the settings.
    for (double capacity : {-1.0, Nan})
        QVERIFY(!settingsWith(false, capacity).problem().isEmpty() &&
                !test.setSettings(settingsWith(false, capacity)));
    test.clear();
    QVERIFY(test.settings().heavy && test.state().skipped == 0 && test.history().isEmpty());
    QCOMPARE(wallTestReport(test.state()), empty);
}

void TestWallTest::newSettingsJudgeTheRunAgain()
{
    const Run run = makeRun(3.5, [](double t) { return swinging(t); });
    WallTest test;
    feed(&test, run);
    const int points = test.history().size();
    for (const WallTestSettings &settings : {settingsWith(true, 300.0), settingsWith(false, 8.0)}) {
        QVERIFY(test.setSettings(settings));
        WallTest fresh(settings);
        feed(&fresh, run);
        QCOMPARE(wallTestReport(test.state()), wallTestReport(fresh.state()));
        for (size_t c = 0; c < 4; ++c) {
            QCOMPARE(test.state().criteria[c].firstPassed, fresh.state().criteria[c].firstPassed);
            QCOMPARE(test.state().criteria[c].lastPassed, fresh.state().criteria[c].lastPassed);
        }
        QCOMPARE(test.state().storedHeat, fresh.state().storedHeat);
        QCOMPARE(test.history().size(), points);
    }
    // The surface resistances change U only.
    WallTestSettings settings = test.settings();
    settings.rsi = settings.rse = 0;
    QVERIFY(test.setSettings(settings));
    QCOMPARE(*test.state().u, 1 / *test.state().r);
}

void TestWallTest::historyStaysBoundedOnLongRuns()
{
    // Ten days at one record a second; the chart's points against plain running sums.
    WallTest test;
    std::vector<double> plainR;
    double sumQ = 0, sumDt = 0;
    for (double t = 0; t <= 10 * Day; ++t) {
        const Sample s = swinging(t);
        test.append(s.t, s.q, s.tsi, s.tse);
        sumQ += s.q;
        sumDt += s.tsi - s.tse;
        plainR.push_back(sumDt / sumQ);
    }
    const QVector<WallTestPoint> &points = test.history();
    QVERIFY(points.size() >= WallTest::MaxHistoryPoints / 2 && points.size() < WallTest::MaxHistoryPoints);
    QCOMPARE(points.first().t, 0.0);
    QVERIFY(points.last().t > 10 * Day - 2 * 10 * Day / WallTest::MaxHistoryPoints);
    for (const WallTestPoint &point : points) {
        QVERIFY(std::fabs(point.r - plainR[size_t(point.t)]) <= 1e-9 * point.r);
        if (point.t < Day)
            QVERIFY(std::isnan(point.rDayBefore));
        else
            QVERIFY(std::fabs(point.rDayBefore - plainR[size_t(point.t - Day)]) <= 1e-9 * point.r);
    }
}

void TestWallTest::readingFromSeriesJudgesAsAppending()
{
    // The run with pauses, a dense stretch and records to skip, in series as a window holds them.
    Run run = makeRun(3.2, [](double t) { return swinging(t); }, {{30 * Hour, 37.5 * Hour}});
    const Run bad{{Nan, 1, 2, 3},
                  {run[500].t, Nan, 20, 0},
                  {run[500].t - 100, 8, 20, 0},
                  {run[500].t, 8, 1e308, -Inf}};
    run.insert(run.begin() + 501, bad.begin(), bad.end());
    run.insert(run.begin() + 2000, bad.begin(), bad.end());
    RecordedRun series;
    for (const Sample &s : run)
        appendTo(&series, s);
    const WallTestSettings settings = settingsWith(false, 8.0);

    WallTest appended(settings);
    feed(&appended, run);
    WallTest read(series.view(), SeriesChannels, settings);
    QVERIFY(read.readsSeries() && !read.append(0, 8, 20, 0)); // reading from series, nothing is handed over
    // Taken in pieces of any size, and as the series grow.
    QCOMPARE(read.takeFromSeries(1), qint64(1));
    QCOMPARE(read.takeFromSeries(503), qint64(502));
    QCOMPARE(read.takeFromSeries(503), qint64(0));
    read.takeFromSeries(1500);
    QCOMPARE(read.takeFromSeries(qint64(1) << 40), qint64(run.size()) - 1500);
    QCOMPARE(read.takenFromSeries(), qint64(run.size()));
    QCOMPARE(read.state().skipped, qint64(8));
    QCOMPARE(wallTestEverything(read), wallTestEverything(appended));

    // New settings judge again what the series hold.
    for (const WallTestSettings &other : {settingsWith(true, 300.0), settingsWith(false, std::nullopt)}) {
        QVERIFY(read.setSettings(other) && appended.setSettings(other));
        QCOMPARE(wallTestEverything(read), wallTestEverything(appended));
    }

    // A channel series shorter than the time is read only as far as it goes.
    series.channels[3].removeLast();
    WallTest shorter(series.view(), SeriesChannels);
    QCOMPARE(shorter.takeFromSeries(qint64(run.size())), qint64(run.size()) - 1);
    // A channel the series don't have gives nothing to read.
    QCOMPARE(WallTest(series.view(), {1, 2, 9}).availableInSeries(), qint64(0));

    // Emptied and begun again: the new run is read from its first record, whether the empty
    // series were seen or they were filled again past where they had been read.
    const Run next = makeRun(1.1, [](double t) { return Sample{t + 0.5, 8, 20, 0}; });
    for (const Run *again : std::initializer_list<const Run *>{&next, &run}) {
        series.clear();
        if (again == &next) {
            QCOMPARE(read.takeFromSeries(1), qint64(0));
            QCOMPARE(read.state().records, qint64(0));
        }
        for (const Sample &s : *again)
            appendTo(&series, s);
        read.takeFromSeries(qint64(again->size()));
        WallTest fresh(read.settings());
        feed(&fresh, *again);
        QCOMPARE(wallTestEverything(read), wallTestEverything(fresh));
    }
}

// Temperatures and fluxes anywhere in a double's range are used: R from sums that can't overflow,
// and an R beyond a double is said to be too large, never passing a criterion.
void TestWallTest::anyFiniteValuesAreUsed()
{
    const double most = std::numeric_limits<double>::max();
    WallTest test;
    for (int i = 0; i <= 4 * 86400 / 600; ++i)
        QVERIFY(test.append(i * 600.0, 1e300, 1e308, -0.5e308));
    QCOMPARE(test.state().skipped, 0);
    // (1e308 + 0.5e308) / 1e300, from the plain long-double quotient.
    const double expected = double((1e308L + 0.5e308L) / 1e300L);
    QVERIFY2(std::fabs(*test.state().r - expected) <= 1e-12 * expected,
             qPrintable(QString::number(*test.state().r)));
    QCOMPARE(test.state().criteria[1].verdict, Verdict::Pass);

    WallTest beyond;
    for (int i = 0; i <= 4 * 86400 / 600; ++i)
        QVERIFY(beyond.append(i * 600.0, 0.5, most, -most));
    QCOMPARE(beyond.state().skipped, 0);
    QVERIFY(std::isinf(*beyond.state().r));
    QCOMPARE(beyond.state().criteria[1].verdict, Verdict::Fail);
    QCOMPARE(beyond.state().criteria[2].verdict, Verdict::Fail);
    QVERIFY(wallTestReport(beyond.state()).startsWith("R\ttoo large to compute\nU\t0\n"));
    QVERIFY(describeWallTest(beyond.state(), WallTestSettings())
                .resistance.contains(QStringLiteral("too large")));
    for (const WallTestPoint &p : beyond.history())
        QVERIFY(!std::isinf(p.r) && !std::isinf(p.rDayBefore));
}

QTEST_GUILESS_MAIN(TestWallTest)
#include "tst_walltest.moc"

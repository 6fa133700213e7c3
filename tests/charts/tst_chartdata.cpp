// SPDX-License-Identifier: GPL-3.0-or-later
// What the charts keep of a recording: the time envelope, merged as the time axis widens and
// rebuilt when the chart gets wider, and the min/max pyramid over the series, both checked against
// the records themselves; the axis range a chart can always take; where a curve is drawn within
// a time range, and the value range fitted to that.
#include "chartrecording.h"
#include "charts/chartdata.h"
#include "charts/chartfeeder.h"
#include "charts/envelopegraph.h"
#include "charts/valuefit.h"
#include "support/followedaxis.h"

#include <QSet>
#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// The envelope's bucket i of a channel, worked out from the records themselves.
EnvelopeBucket expectedBucket(const ChartEnvelope &envelope, const QVector<double> &times,
                              const QVector<double> &values, int i)
{
    EnvelopeBucket b;
    const qint64 index = envelope.firstIndex() + i;
    for (int k = 0; k < times.size(); ++k) {
        if (qint64(std::floor(times[k] / envelope.bucketWidth())) == index)
            b.add(values[k]);
    }
    return b;
}

void compareEnvelope(const ChartEnvelope &envelope, const QVector<double> &times,
                     const QVector<double> &values, int channel)
{
    quint64 records = 0;
    for (int i = 0; i < envelope.size(); ++i) {
        const EnvelopeBucket want = expectedBucket(envelope, times, values, i);
        const EnvelopeBucket &got = envelope.at(channel, i);
        const QByteArray where = "bucket " + QByteArray::number(i);
        QVERIFY2(got.records == want.records, where);
        QVERIFY2(got.hasValues() == want.hasValues(), where);
        if (want.hasValues()) {
            QVERIFY2(got.first == want.first && got.last == want.last, where);
            QVERIFY2(got.lowest == want.lowest && got.highest == want.highest, where);
        }
        records += got.records;
    }
    // Every record is in some bucket.
    QCOMPARE(records, quint64(times.size()));
}

// Where the curve of values breaks within records [begin, end), worked out record by record: a
// non-finite value breaks it, and so does a marked record (it starts a new line).
struct ExpectedBreaks
{
    qint64 first = -1, last = -1; // finite values
    bool before = false, after = false;
};
ExpectedBreaks expectedBreaks(const QVector<double> &values, const QSet<qint64> &marks, qint64 begin,
                              qint64 end)
{
    ExpectedBreaks b;
    for (qint64 i = begin; i < end; ++i) {
        if (std::isfinite(values[int(i)])) {
            if (b.first < 0)
                b.first = i;
            b.last = i;
        }
    }
    if (b.first < 0) {
        b.before = end > begin; // records, none to draw
        return b;
    }
    for (qint64 i = begin; i <= b.first; ++i)
        b.before |= (i < b.first && !std::isfinite(values[int(i)])) || marks.contains(i);
    for (qint64 i = b.last + 1; i < end; ++i)
        b.after |= !std::isfinite(values[int(i)]) || marks.contains(i);
    return b;
}

} // namespace

class TestChartData : public QObject
{
    Q_OBJECT

private slots:
    void envelopeFollowsAWideningRunAndStaysSmall();
    void envelopeIsRebuiltWhenTheChartGetsWider();
    void clearedRecordingStartsAFreshEnvelope();
    void pyramidFindsLowestAndHighestOfAnyStretch();
    void nonFiniteValuesAreSkippedAndHugeOnesKept();
    void curvesBreakAtGapsAndNonFiniteValues();
    void curvesBreakWhereNothingWasMeasured();
    void axisRangesNeverFreeze();
    void followedTimeAxisMovesOnInSteps();
    void followedValueAxesWidenInStepsWithRoom();
    void curveExtentInATimeRangeIsWhereTheCurveIsDrawn();
};

void TestChartData::envelopeFollowsAWideningRunAndStaysSmall()
{
    // Irregular times with a long pause, values with the odd non-finite one; the time axis
    // follows the run on a 400-column chart.
    ChartRecording r;
    std::mt19937 random(3);
    std::uniform_real_distribution<double> step(0.001, 0.02);
    std::normal_distribution<double> noise(0, 10);
    double t = 0;
    const int columns = 400;
    for (int i = 0; i < 60000; ++i) {
        t += step(random);
        if (i == 20000)
            t += 3600; // an hour's pause
        const double q = i % 997 == 0 ? NaN : i % 1999 == 0 ? -Inf : noise(random);
        r.add(t, q, 20 + std::sin(t));
        if (i % 500 == 0)
            r.data.fitEnvelope(0, std::max(30.0, t), columns);
    }
    r.data.fitEnvelope(0, t, columns);
    const ChartEnvelope &e = r.data.envelope();
    QCOMPARE(e.bucketWidth(), ChartEnvelope::widthFor(0, t, columns));
    // Two to four buckets per column, whatever the run's length.
    QVERIFY2(e.size() <= 2 * ChartEnvelope::MinBucketsPerColumn * columns + 1, QByteArray::number(e.size()));
    compareEnvelope(e, r.times, r.flux, 0);
    compareEnvelope(e, r.times, r.temperature, 1);
    // The first and last record of each bucket are where its records are.
    for (int i = 0; i < e.size(); ++i) {
        if (e.at(0, i).records == 0)
            continue;
        QVERIFY(e.firstTime(i) >= double(e.firstIndex() + i) * e.bucketWidth());
        QVERIFY(e.lastTime(i) < double(e.firstIndex() + i + 1) * e.bucketWidth());
        QVERIFY(e.firstTime(i) <= e.lastTime(i));
    }
}

void TestChartData::envelopeIsRebuiltWhenTheChartGetsWider()
{
    ChartRecording r;
    for (int i = 0; i < 20000; ++i)
        r.add(i * 0.01, std::sin(i * 0.37) * 50 + (i % 7), 1e-3 * i);
    r.data.fitEnvelope(0, 200, 100);
    const double coarse = r.data.envelope().bucketWidth();
    // Six times as many columns: too coarse, rebuilt from the series.
    r.data.fitEnvelope(0, 200, 600);
    const ChartEnvelope &e = r.data.envelope();
    QVERIFY(e.bucketWidth() < coarse);
    QCOMPARE(e.bucketWidth(), ChartEnvelope::widthFor(0, 200, 600));
    compareEnvelope(e, r.times, r.flux, 0);
    compareEnvelope(e, r.times, r.temperature, 1);
    // And it keeps taking records at the new width.
    for (int i = 20000; i < 21000; ++i)
        r.add(i * 0.01, -i, i);
    compareEnvelope(r.data.envelope(), r.times, r.flux, 0);
}

void TestChartData::clearedRecordingStartsAFreshEnvelope()
{
    ChartRecording r;
    for (int i = 0; i < 5000; ++i)
        r.add(1000 + i, i, -i);
    r.data.fitEnvelope(0, 6000, 300);
    QVERIFY(r.data.envelope().bucketWidth() >= 4);
    // As Reset does: the series emptied, the charts cleared, times from 0 again.
    r.times.clear();
    r.flux.clear();
    r.temperature.clear();
    r.data.clear();
    QVERIFY(r.data.envelope().isEmpty());
    QCOMPARE(r.data.recordCount(), qint64(0));
    double lowest = 0, highest = 0;
    QVERIFY(!r.data.valueBounds(0, &lowest, &highest));
    r.data.fitEnvelope(0, 30, 300);
    for (int i = 0; i < 300; ++i)
        r.add(i * 0.1, 5, 6);
    QVERIFY(r.data.envelope().bucketWidth() < 0.1);
    compareEnvelope(r.data.envelope(), r.times, r.flux, 0);
    QVERIFY(r.data.valueBounds(1, &lowest, &highest));
    QCOMPARE(lowest, 6.0);
    QCOMPARE(highest, 6.0);
    QVERIFY(r.data.inStep());
}

void TestChartData::pyramidFindsLowestAndHighestOfAnyStretch()
{
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 100);
    QVector<double> values;
    SeriesPyramid pyramid;
    for (int i = 0; i < 200000; ++i) {
        const double v = i % 4093 == 0 ? NaN : noise(random);
        values.append(v);
        pyramid.append(&v, 1);
    }
    std::uniform_int_distribution<int> at(0, values.size());
    for (int k = 0; k < 400; ++k) {
        int a = at(random), b = at(random);
        if (k % 4 == 0)
            b = a + k; // short stretches too
        if (a > b)
            std::swap(a, b);
        b = std::min(b, values.size());
        double lo = Inf, hi = -Inf;
        for (int i = a; i < b; ++i) {
            if (std::isfinite(values[i])) {
                lo = std::min(lo, values[i]);
                hi = std::max(hi, values[i]);
            }
        }
        double lowest = 0, highest = 0;
        const bool found = pyramid.range(0, values.constData(), a, b, &lowest, &highest);
        QCOMPARE(found, lo <= hi);
        if (found) {
            QCOMPARE(lowest, lo);
            QCOMPARE(highest, hi);
        }
    }
}

void TestChartData::nonFiniteValuesAreSkippedAndHugeOnesKept()
{
    ChartRecording r;
    r.add(0, NaN, Inf);
    r.add(1, 1e300, -Inf);
    r.add(2, -3, NaN);
    double lowest = 0, highest = 0;
    QVERIFY(r.data.valueBounds(0, &lowest, &highest));
    QCOMPARE(lowest, -3.0);
    QCOMPARE(highest, 1e300);
    QVERIFY(!r.data.valueBounds(1, &lowest, &highest)); // nothing finite on that channel
    r.data.fitEnvelope(0, 30, 100);
    compareEnvelope(r.data.envelope(), r.times, r.flux, 0);
    compareEnvelope(r.data.envelope(), r.times, r.temperature, 1);
    QCOMPARE(r.data.nearestRecord(1.4), qint64(1));
    QCOMPARE(r.data.nearestRecord(99), qint64(2));
    QCOMPARE(r.data.nearestRecord(-5), qint64(0));
}

// A curve breaks before a marked record (after a pause, the unit away) and around non-finite
// values. The breaks list, a stretch summarised from the series and every bucket of the envelope
// (added to record by record, and rebuilt) say where, as the records themselves do.
void TestChartData::curvesBreakWhereNothingWasMeasured()
{
    // A run whose gaps are known: records every second, then every 62.5 ms (a faster unit), with
    // steps longer than the spacing and moments told in between. Which records start a new line:
    // worked out here from the rule's terms (a told moment between two records; a step of more
    // than 2 s that is more than 5 times the mean of the last 16 steps that were not gaps).
    QVector<double> times;
    QSet<qint64> expected;
    QVector<double> told;
    auto add = [&](double step, bool breaks) {
        if (breaks)
            expected.insert(times.size());
        times.append((times.isEmpty() ? 0 : times.last()) + step);
    };
    add(0, false);
    for (int i = 0; i < 20; ++i)
        add(1, false);
    add(4.5, false); // 4.5 times the spacing: a unit that was slow once
    add(1, false);
    add(5.5, false); // the mean of the last 16 steps is 1.21875 now: 5.5 is under 5 times that
    for (int i = 0; i < 16; ++i)
        add(1, false);
    add(5.5, true); // 16 steps of 1 s: over 5 times
    add(1, false);
    told << times.last() + 0.25; // a pause told, then Start a little later
    add(0.6, true);
    for (int i = 0; i < 40; ++i)
        add(0.0625, false);
    add(1.5, false); // 24 times the spacing, but under 2 s: a window held up, records stamped late
    for (int i = 0; i < 20; ++i)
        add(0.0625, false);
    add(2.5, true);
    for (int i = 0; i < 20; ++i)
        add(i % 2 ? 0.125 : 0, false); // records read two at a time, stamped alike: 62.5 ms apart
    add(2.1, true);
    add(0.0625, false);
    told << times.last(); // told at the very time of a record: after it, before the next
    add(0.0625, true);

    // Told before the records (as a review window tells a description's moments), or as they
    // come (as the live window tells the run's): the same breaks.
    for (const bool toldFirst : {true, false}) {
        ChartRecording r;
        if (toldFirst) {
            for (double t : told)
                r.data.noteQuietFrom(t);
        }
        int nextTold = 0;
        for (int i = 0; i < times.size(); ++i) {
            while (!toldFirst && nextTold < told.size() && told[nextTold] < times[i])
                r.data.noteQuietFrom(told[nextTold++]);
            r.add(times[i], i, 20);
        }
        const std::vector<qint64> &marks = r.data.breaks().marks();
        const QSet<qint64> got(marks.begin(), marks.end());
        QCOMPARE(got, expected);
        // Summarised again from the series (a chart that got wider): the same breaks.
        r.data.rebuild();
        const std::vector<qint64> &again = r.data.breaks().marks();
        QCOMPARE(QSet<qint64>(again.begin(), again.end()), expected);
    }
    // A moment told after the records beyond it were summarised breaks them all the same.
    ChartRecording late;
    for (int i = 0; i < 30; ++i)
        late.add(i * 0.1, i, 20);
    late.data.noteQuietFrom(1.45);
    QCOMPARE(late.data.breaks().marks(), std::vector<qint64>{15});
    QVERIFY(late.data.inStep());
}

void TestChartData::curvesBreakAtGapsAndNonFiniteValues()
{
    ChartRecording r;
    QSet<qint64> marks;
    std::mt19937 random(5);
    for (int i = 0; i < 6000; ++i) {
        if (i % 613 == 17 || i == 0 || i == 4000) {
            r.data.breakCurves();
            marks.insert(i);
        }
        // Single non-finite values, runs of them (one at the start), and a long run.
        const bool gap =
            i < 3 || i % 251 == 0 || (i % 409 >= 100 && i % 409 < 104) || (i >= 3000 && i < 3500);
        const double q = gap ? (i % 2 ? NaN : -Inf) : std::sin(i * 0.01) * 40;
        const double c = i % 97 == 5 ? Inf : 20 + i % 13;
        r.add(i * 0.02, q, c);
    }
    const CurveBreaks &breaks = r.data.breaks();
    SeriesPyramid pyramid;
    for (int i = 0; i < r.times.size(); ++i) {
        const double values[2] = {r.flux[i], r.temperature[i]};
        pyramid.append(values, 2);
    }
    auto checkStretches = [&](const QSet<qint64> &marked) {
        std::uniform_int_distribution<int> at(0, r.times.size());
        for (int k = 0; k < 3000; ++k) {
            int a = at(random), b = k % 3 ? a + k % 40 : at(random);
            if (a > b)
                std::swap(a, b);
            b = std::min(b, r.times.size());
            for (int channel : {0, 1}) {
                const QVector<double> &values = channel == 0 ? r.flux : r.temperature;
                const ExpectedBreaks want = expectedBreaks(values, marked, a, b);
                const QByteArray where =
                    QByteArray::number(channel) + ": " + QByteArray::number(a) + ".." + QByteArray::number(b);
                QVERIFY2(breaks.firstFinite(channel, a, b) == want.first, where);
                QVERIFY2(breaks.lastFinite(channel, a, b) == want.last, where);
                qint64 first = 0, last = 0;
                const EnvelopeBucket got =
                    summariseStretch(values.constData(), pyramid, breaks, channel, a, b, &first, &last);
                QVERIFY2(first == want.first && last == want.last, where);
                QVERIFY2(got.breakBefore == want.before, where);
                if (want.first >= 0)
                    QVERIFY2(got.breakAfter == want.after, where);
            }
            bool marked = false;
            for (qint64 m : marks)
                marked |= m >= a && m < b;
            QVERIFY(breaks.anyMark(a, b - 1) == marked);
        }
    };
    auto checkEnvelope = [&](const QSet<qint64> &marked) {
        const ChartEnvelope &e = r.data.envelope();
        for (int i = 0; i < e.size(); ++i) {
            // The bucket's records: their times are in its time range.
            const double from = double(e.firstIndex() + i) * e.bucketWidth();
            const qint64 begin = std::lower_bound(r.times.begin(), r.times.end(), from) - r.times.begin();
            const qint64 end =
                std::lower_bound(r.times.begin(), r.times.end(), from + e.bucketWidth()) - r.times.begin();
            for (int channel : {0, 1}) {
                const ExpectedBreaks want =
                    expectedBreaks(channel == 0 ? r.flux : r.temperature, marked, begin, end);
                const EnvelopeBucket &got = e.at(channel, i);
                const QByteArray where =
                    "bucket " + QByteArray::number(i) + " of channel " + QByteArray::number(channel);
                QVERIFY2(got.breakBefore == want.before, where);
                if (want.first >= 0)
                    QVERIFY2(got.breakAfter == want.after, where);
            }
        }
    };
    checkStretches(marks);
    r.data.fitEnvelope(0, 120, 100); // merged as the run grew
    checkEnvelope(marks);
    r.data.fitEnvelope(0, 120, 700); // rebuilt from the series
    checkEnvelope(marks);
    // A gap told afterwards (as a recording's description would): the summaries are made anew.
    r.data.breakCurvesBefore(1234);
    marks.insert(1234);
    QVERIFY(breaks.startsLine(1234));
    checkStretches(marks);
    checkEnvelope(marks);
    // Reset forgets them.
    r.data.clear();
    QVERIFY(breaks.marks().empty());
    QVERIFY(!breaks.startsLine(1234));
}

void TestChartData::axisRangesNeverFreeze()
{
    // A range QCustomPlot accepts, whatever the bounds: absurd ones are pulled in.
    const QCPRange cases[] = {QCPRange(0, 1e300), QCPRange(-1e308, 30), QCPRange(-1e300, 1e300),
                              QCPRange(5, 5),     QCPRange(0, 30),      QCPRange(1e300, 1e300)};
    for (const QCPRange &c : cases) {
        const QCPRange r = drawableRange(c.lower, c.upper);
        QVERIFY2(QCPRange::validRange(r), qPrintable(QStringLiteral("%1 .. %2").arg(r.lower).arg(r.upper)));
    }
    QCOMPARE(drawableRange(0, 30), QCPRange(0, 30));
    QVERIFY(drawableRange(0, 1e300).upper > 1e200);
    QVERIFY(drawableRange(-1e300, 0).lower < -1e200);
}

void TestChartData::followedTimeAxisMovesOnInSteps()
{
    // While following, the time axis shows the whole run and moves on in steps of a 16th of its
    // span, so that the charts' pixels stay where they are in between; the last record is never
    // left outside.
    ChartRecording r;
    QCustomPlot flux, temperature;
    for (QCustomPlot *c : {&flux, &temperature}) {
        for (int k = 0; k < MaxSensors; ++k)
            new EnvelopeGraph(c->xAxis, c->yAxis);
    }
    ChartFeeder feeder(&flux, &temperature, r.series());
    feeder.applySensor(1, true);
    QCPRange shown = flux.xAxis->range();
    int moves = 0;
    for (int i = 0; i < 3000; ++i) {
        const double t = 0.1 * i;
        r.add(t, std::sin(t), 20);
        feeder.append(1, t, RecordValues{std::sin(t), 20});
        const QCPRange now = flux.xAxis->range();
        QCOMPARE(now.lower, 0.0);
        QVERIFY(now.upper >= t);
        QVERIFY(now.upper <= std::max(30.0, t + t / ChartFeeder::FollowSteps) + 1e-9);
        QCOMPARE(temperature.xAxis->range(), now);
        if (now != shown)
            ++moves;
        shown = now;
    }
    // From 30 s to 300 s by a step of the span each time: ln 10 / ln(1 + 1/steps) moves (38 for
    // steps of a 16th) for the 2700 records, not one per record.
    const double expected = std::log(10.0) / std::log(1.0 + 1.0 / ChartFeeder::FollowSteps);
    QVERIFY2(moves >= 0.9 * expected && moves <= 1.1 * expected + 2, QByteArray::number(moves));
    // Reset: back to the starting range.
    feeder.clear();
    QCOMPARE(flux.xAxis->range(), QCPRange(ChartFeeder::InitialRangeLower, ChartFeeder::InitialRangeUpper));
}

void TestChartData::followedValueAxesWidenInStepsWithRoom()
{
    // A heating ramp (the temperature sets a new highest value at most records) and a heat flux
    // that drifts below zero, setting new lowest values: the value axes take every value in with
    // room to spare, never narrow, and widen in steps, not at every new extreme. A second feeder
    // that is shown the same records only at the end (a sensor ticked late, a recording read
    // back) shows the same axes.
    ChartRecording r;
    QCustomPlot flux, temperature, lateFlux, lateTemperature;
    for (QCustomPlot *c : {&flux, &temperature, &lateFlux, &lateTemperature}) {
        for (int k = 0; k < MaxSensors; ++k)
            new EnvelopeGraph(c->xAxis, c->yAxis);
    }
    ChartFeeder feeder(&flux, &temperature, r.series());
    ChartFeeder late(&lateFlux, &lateTemperature, r.series());
    feeder.applySensor(1, true);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 1);
    std::array<QCPRange, 2> shown{flux.yAxis->range(), temperature.yAxis->range()};
    std::array<int, 2> widened{}, extremes{};
    double lowestFlux = qInf(), highestTemperature = -qInf();
    for (int i = 0; i < 6000; ++i) {
        const double q = 29.95 + 0.04 * (i % 2) - i / 100.0 + noise(random);
        const double c = 29.95 + 0.04 * (i % 2) + i / 200.0 + 0.05 * noise(random);
        r.add(0.1 * i, q, c);
        feeder.append(1, 0.1 * i, RecordValues{q, c});
        late.append(1, 0.1 * i, RecordValues{q, c});
        extremes[0] += q < lowestFlux;
        extremes[1] += c > highestTemperature;
        lowestFlux = std::min(lowestFlux, q);
        highestTemperature = std::max(highestTemperature, c);
        for (int chart = 0; chart < 2; ++chart) {
            const QCPRange now = (chart == 0 ? flux : temperature).yAxis->range();
            QVERIFY(now.lower <= shown[size_t(chart)].lower && now.upper >= shown[size_t(chart)].upper);
            widened[size_t(chart)] += now != shown[size_t(chart)];
            shown[size_t(chart)] = now;
        }
        if (i % 100 == 0 || i < 10) {
            QVERIFY(showsWithRoom(flux.yAxis->range(), {&r.flux}));
            QVERIFY(showsWithRoom(temperature.yAxis->range(), {&r.temperature}));
        }
    }
    qInfo("new extremes: %d heat flux, %d temperature; the axes widened %d and %d times", extremes[0],
          extremes[1], widened[0], widened[1]);
    QVERIFY(extremes[0] > 100 && extremes[1] > 500);
    QVERIFY(widened[0] <= 20 && widened[1] <= 20);
    // The first records at 29.95 to 29.99 already moved the temperature axis off the frame.
    QVERIFY(temperature.yAxis->range().upper > 30);
    late.applySensor(1, true);
    QCOMPARE(lateFlux.yAxis->range(), flux.yAxis->range());
    QCOMPARE(lateTemperature.yAxis->range(), temperature.yAxis->range());
}

void TestChartData::curveExtentInATimeRangeIsWhereTheCurveIsDrawn()
{
    // Uneven times (a gap, records close together), noise, a drift, non-finite values.
    ChartRecording r;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0, 3);
    double t = 0;
    for (int i = 0; i < 20000; ++i) {
        t += i == 9000 ? 40.0 : 0.01 + 0.02 * (i % 3);
        const double q = i % 997 == 0 ? NaN : 100 * std::sin(i / 800.0) + noise(random);
        const double c = i % 1301 == 0 ? Inf : 20 + 2.0 * i / 20000;
        r.add(t, q, c);
    }
    std::uniform_real_distribution<double> at(-10, t + 10);
    QList<QCPRange> ranges{QCPRange(r.times[8999] + 1, r.times[8999] + 30), // inside the gap: lines only
                           QCPRange(r.times[100], r.times[200]),            // ends on records
                           QCPRange(-50, -10),                              // before the run
                           QCPRange(t + 1, t + 9),                          // after it
                           QCPRange(-5, t + 5)};                            // all of it
    for (int k = 0; k < 300; ++k) {
        const double a = at(random), b = k % 3 == 0 ? a + 0.05 : at(random);
        ranges << QCPRange(std::min(a, b), std::max(a, b));
    }
    for (const QCPRange &keys : ranges) {
        for (int channel = 0; channel < 2; ++channel) {
            QCPRange want, got;
            const bool found = plainExtent(r.times, channel == 0 ? r.flux : r.temperature, keys, &want);
            const QByteArray where = QByteArray::number(keys.lower) + ".." + QByteArray::number(keys.upper);
            QVERIFY2(curveExtent(r.data, channel, keys, &got) == found, where);
            QVERIFY2(!found ||
                         (std::abs(got.lower - want.lower) < 1e-9 && std::abs(got.upper - want.upper) < 1e-9),
                     where);
        }
    }
    QCPRange extent;
    QVERIFY(!curveExtent(r.data, 2, QCPRange(0, t), &extent)); // a channel not in use

    // The range fitted to an extent: a twentieth of its height free on either side (a drift of a
    // thousandth too); a flat curve (also flat but for rounding) in the middle of a range of 2, or
    // of a fifth of its value for large values; whatever the values, a range a chart can take.
    auto is = [](const QCPRange &r, double lower, double upper) {
        return std::abs(r.lower - lower) < 1e-9 && std::abs(r.upper - upper) < 1e-9;
    };
    QVERIFY(is(fittedValueRange(QCPRange(25, 25.001)), 24.99995, 25.00105));
    QVERIFY(is(fittedValueRange(QCPRange(0, 0)), -1, 1));
    QVERIFY(is(fittedValueRange(QCPRange(5, 5)), 4, 6));
    QVERIFY(is(fittedValueRange(QCPRange(-250, -250)), -275, -225));
    QVERIFY(is(fittedValueRange(QCPRange(25, 25 + 1e-13)), 22.5, 27.5));
    const QCPRange huge = fittedValueRange(QCPRange(-1e308, 1e308));
    QVERIFY(QCPRange::validRange(drawableRange(huge.lower, huge.upper)));
}

QTEST_MAIN(TestChartData)
#include "tst_chartdata.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/walltest.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr double HalfDay = WallTest::Day / 2;

QString translated(const char *text)
{
    return QCoreApplication::translate("WallTest", text);
}

// The largest k >= 0 with k * unit <= x (x >= 0), exact at the multiples themselves, where x / unit
// may round up across an integer.
qint64 wholeMultiples(double x, double unit)
{
    qint64 k = qint64(std::floor(x / unit));
    while (k > 0 && double(k) * unit > x)
        --k;
    while (double(k + 1) * unit <= x)
        ++k;
    return k;
}

bool within(const std::optional<double> &value, const std::optional<double> &reference)
{
    return value && reference && std::isfinite(*value) && std::isfinite(*reference) &&
           std::fabs(*value - *reference) <= WallTest::StabilityTolerance * std::fabs(*reference);
}

Verdict verdictOf(bool passed)
{
    return passed ? Verdict::Pass : Verdict::Fail;
}

quint64 bitsOf(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

QString WallTestSettings::problem() const
{
    if (!std::isfinite(rsi) || rsi < 0)
        return translated("The inner surface resistance R_si must be a number of at least 0 m^2 K/W.");
    if (!std::isfinite(rse) || rse < 0)
        return translated("The outer surface resistance R_se must be a number of at least 0 m^2 K/W.");
    if (capacity && (!std::isfinite(*capacity) || *capacity < 0))
        return translated("The areal heat capacity must be a number of at least 0 kJ/(m^2 K).");
    if (!(step >= DynamicMethod::MinStep && step <= DynamicMethod::MaxStep))
        return translated("The dynamic method's interval must be from %1 to %2 h.")
            .arg(DynamicMethod::MinStep / 3600, 0, 'g', 3)
            .arg(DynamicMethod::MaxStep / 3600, 0, 'g', 3);
    return correction.problem();
}

void WallTest::RecordStore::readFrom(const RecordedSeries &series, const WallTestChannels &channels)
{
    time = series.time;
    const int read[] = {channels.heatFlux, channels.warm, channels.cold, channels.fluxTemperature};
    for (size_t k = 0; k < values.size(); ++k)
        values[k] = read[k] >= 1 && read[k] <= int(series.channels.size())
                        ? series.channels[size_t(read[k] - 1)]
                        : nullptr;
}

void WallTest::RecordStore::append(const Record &record)
{
    static_assert(sizeof(Record) == BytesPerRecord, "the memory a record takes, as documented");
    if (!time) {
        if ((count & ChunkMask) == 0)
            chunks.emplace_back(new Record[size_t(ChunkMask + 1)]);
        chunks.back()[count & ChunkMask] = record;
    }
    ++count;
}

void WallTest::RecordStore::skip()
{
    if (time)
        skipped.push_back(count);
}

qint64 WallTest::RecordStore::available() const
{
    if (!time)
        return 0;
    qint64 n = time->size();
    for (size_t k = 0; k < values.size(); ++k) {
        // The flux sensor's temperature is read only for a correction.
        if (k < 3 || !correction.isIdentity())
            n = std::min(n, values[k] ? qint64(values[k]->size()) : 0);
    }
    return n;
}

WallTest::Sample WallTest::RecordStore::sample(qint64 index) const
{
    const int i = int(index);
    const double tq = correction.isIdentity() ? NAN : (*values[3])[i];
    return {(*time)[i], (*values[0])[i], (*values[1])[i], (*values[2])[i], tq};
}

WallTest::Record WallTest::RecordStore::fromSeries(qint64 i) const
{
    // Each skipped record before the i-th used one moves it one further along the series.
    if (!skipped.empty())
        i += std::upper_bound(skipped.begin(), skipped.end(), i) - skipped.begin();
    return recordOf(sample(i), correction);
}

void WallTest::RecordStore::clear()
{
    chunks.clear();
    skipped.clear();
    count = 0;
}

WallTest::WallTest(const WallTestSettings &settings)
{
    if (settings.problem().isEmpty())
        currentSettings = settings;
    records.correction = currentSettings.correction;
    clear();
}

WallTest::WallTest(const RecordedSeries &series, const WallTestChannels &channels,
                   const WallTestSettings &settings)
    : WallTest(settings)
{
    records.readFrom(series, channels);
}

WallTest::~WallTest() = default;

bool WallTest::setSettings(const WallTestSettings &settings)
{
    if (!settings.problem().isEmpty())
        return false;
    const bool corrected = settings.correction != currentSettings.correction;
    if (corrected && !records.readsSeries() && records.taken() > 0)
        return false;
    const bool rejudge = settings.heavy != currentSettings.heavy ||
                         settings.capacity != currentSettings.capacity ||
                         settings.step != currentSettings.step || corrected;
    currentSettings = settings;
    records.correction = settings.correction;
    if (rejudge && records.readsSeries()) {
        // The series still hold the records: take them again.
        const qint64 taken = records.taken();
        clear();
        takeFromSeries(taken);
    } else if (rejudge) {
        // The verdicts so far, their first and last passes included, depend on these: judge the
        // kept records again, giving back each block of them once it has been read.
        RecordStore kept;
        std::swap(kept, records);
        records.correction = settings.correction;
        const qint64 skipped = current.skipped;
        resetJudgement();
        for (qint64 i = 0; i < kept.size(); ++i) {
            const Record record = kept[i];
            add(record);
            judge(record.t);
            if ((i & RecordStore::ChunkMask) == RecordStore::ChunkMask)
                kept.chunks[size_t(i >> RecordStore::ChunkBits)].reset();
        }
        current.skipped = skipped;
    } else {
        current.u = transmittance(current.r);
    }
    return true;
}

void WallTest::clear()
{
    resetJudgement();
    points.clear();
    pointSpacing = 1.0;
    lastTakenTime = 0;
}

void WallTest::resetJudgement()
{
    current = WallTestState();
    records.clear();
    means = IntervalMeans(currentSettings.step);
    start = previousTime = 0;
    all = dayBefore = lastDayStart = lastPeriodStart = Sums();
    lastPeriodDays = 0;
    marks.clear();
    belowDone = upToDone = 0;
    judgeEmpty();
}

bool WallTest::append(double t, double q, double tsi, double tse, double fluxTemperature)
{
    return !records.readsSeries() && take({t, q, tsi, tse, fluxTemperature});
}

qint64 WallTest::takeFromSeries(qint64 end)
{
    if (!records.readsSeries())
        return 0;
    const qint64 available = records.available();
    qint64 next = records.taken();
    if (next > available || (next > 0 && bitsOf(records.sample(next - 1).t) != lastTakenTime)) {
        clear();
        next = 0;
    }
    const qint64 from = next;
    for (end = std::min(end, available); next < end; ++next)
        take(records.sample(next));
    if (next > from)
        lastTakenTime = bitsOf(records.sample(next - 1).t);
    return next - from;
}

qint64 WallTest::takenFromSeries() const
{
    return records.taken();
}

qint64 WallTest::availableInSeries() const
{
    return records.available();
}

WallTest::Record WallTest::recordOf(const Sample &s, const FluxCorrection &correction)
{
    // Halved first: exact (but for subnormals), and the sum and difference can't overflow.
    const double warm = s.tsi / 2, cold = s.tse / 2;
    return {s.t, correction.corrected(s.q, s.tq), warm - cold, warm + cold};
}

bool WallTest::take(const Sample &s)
{
    const Record record = recordOf(s, records.correction);
    bool usable =
        std::isfinite(s.t) && std::isfinite(record.q) && std::isfinite(s.tsi) && std::isfinite(s.tse);
    if (usable && records.size() > 0)
        usable = s.t >= previousTime && s.t - start <= MaxElapsedDays * Day;
    if (!usable) {
        ++current.skipped;
        records.skip();
        return false;
    }
    add(record);
    judge(s.t);
    sampleHistory(s.t);
    return true;
}

void WallTest::add(const Record &record)
{
    if (records.size() == 0)
        start = previousTime = record.t;
    const double elapsed = record.t - start;
    // The record closes the half-day marks it is at or beyond.
    while (double(belowDone) * HalfDay <= elapsed) {
        markAt(belowDone).below = all;
        ++belowDone;
    }
    while (double(upToDone) * HalfDay < elapsed) {
        markAt(upToDone).upTo = all;
        ++upToDone;
    }
    if (all.n > 0 && record.t - previousTime < HeatGap)
        all.heat += static_cast<long double>(record.q) * (record.t - previousTime);
    means.add(elapsed, record.q, 2 * record.halfDt, record.m);
    records.append(record);
    addNext(&all);
    previousTime = record.t;
}

WallTest::Mark &WallTest::markAt(qint64 halfDay)
{
    if (marks.size() <= size_t(halfDay))
        marks.resize(size_t(halfDay) + 1);
    return marks[size_t(halfDay)];
}

// Marks not yet closed by a record at or beyond them hold every record so far.
const WallTest::Sums &WallTest::below(qint64 halfDay) const
{
    return halfDay < belowDone ? marks[size_t(halfDay)].below : all;
}

const WallTest::Sums &WallTest::upTo(qint64 halfDay) const
{
    return halfDay < upToDone ? marks[size_t(halfDay)].upTo : all;
}

void WallTest::addNext(Sums *sums) const
{
    const Record record = records[sums->n];
    ++sums->n;
    sums->q += record.q;
    sums->halfDt += record.halfDt;
    sums->m += record.m;
}

void WallTest::advanceBelow(Sums *cursor, double elapsed) const
{
    while (cursor->n < records.size() && elapsedOf(cursor->n) < elapsed)
        addNext(cursor);
}

void WallTest::advanceUpTo(Sums *cursor, double elapsed) const
{
    while (cursor->n < records.size() && elapsedOf(cursor->n) <= elapsed)
        addNext(cursor);
}

WallTest::Sums WallTest::difference(const Sums &to, const Sums &from)
{
    Sums d;
    d.n = to.n - from.n;
    d.q = to.q - from.q;
    d.halfDt = to.halfDt - from.halfDt;
    d.m = to.m - from.m;
    d.heat = to.heat - from.heat;
    return d;
}

std::optional<double> WallTest::resistance(const Sums &sums)
{
    if (sums.n == 0 || !(sums.q > 0) || !(sums.halfDt >= 0))
        return std::nullopt;
    const long double r = 2 * sums.halfDt / sums.q;
    // Beyond a double: +inf, said as too large to compute.
    return r > std::numeric_limits<double>::max() ? std::numeric_limits<double>::infinity() : double(r);
}

std::optional<double> WallTest::transmittance(const std::optional<double> &r) const
{
    if (!r)
        return std::nullopt;
    const double total = currentSettings.rsi + *r + currentSettings.rse;
    if (!(total > 0) || !std::isfinite(1 / total))
        return std::nullopt;
    return 1 / total;
}

// The state of a run with nothing to judge yet: the criteria are not met.
void WallTest::judgeEmpty()
{
    for (CriterionState &criterion : current.criteria)
        criterion.verdict = Verdict::Fail;
    current.criteria[3].verdict = Verdict::NotAssessed;
    current.judgedAt.reset();
    current.judgedRecords = 0;
    current.heatFluxSum = current.temperatureDifferenceSum = 0;
    current.r.reset();
    current.u.reset();
    current.rDayBefore.reset();
    current.periodDays = 0;
    current.rFirst.reset();
    current.rLast.reset();
    current.storedHeat.reset();
    current.passedHeat.reset();
}

void WallTest::judge(double t)
{
    WallTestState &s = current;
    s.records = all.n;
    s.startTime = start;
    s.lastTime = t;
    s.runningR = resistance(all);
    const double elapsed = t - start;
    advanceUpTo(&dayBefore, elapsed - Day);
    judgeEmpty();

    // The records up to the judged time J, and the prefixes that end the records before each window.
    double judged = elapsed;
    Sums at, before, firstPeriod, periodStart, dayStart;
    qint64 period = 0;
    if (currentSettings.heavy) {
        const qint64 days = wholeMultiples(elapsed, Day);
        if (days == 0) {
            updatePasses(t);
            return;
        }
        judged = double(days) * Day;
        period = wholeMultiples(2 * judged, 3 * Day);
        at = upTo(2 * days);
        before = upTo(2 * (days - 1));
        periodStart = below(2 * (days - period));
        dayStart = below(2 * (days - 1));
    } else {
        period = wholeMultiples(2 * elapsed, 3 * Day);
        at = all;
        before = dayBefore;
        if (period >= 1) {
            // A longer period reaches back before the cursor: restart it from the mark at D half
            // days, which J - D days (J >= 1.5 D days) is never before.
            if (period != lastPeriodDays)
                lastPeriodStart = below(period);
            lastPeriodDays = int(period);
            advanceBelow(&lastPeriodStart, elapsed - double(period) * Day);
        }
        periodStart = lastPeriodStart;
        advanceBelow(&lastDayStart, elapsed - Day);
        dayStart = lastDayStart;
    }
    firstPeriod = upTo(2 * period);

    s.judgedAt = start + judged;
    s.judgedRecords = at.n;
    s.heatFluxSum = double(at.q);
    s.temperatureDifferenceSum = double(2 * at.halfDt);
    s.r = resistance(at);
    s.u = transmittance(s.r);
    s.criteria[0].verdict = verdictOf(judged >= 3 * Day);
    if (judged >= Day) {
        s.rDayBefore = resistance(before);
        s.criteria[1].verdict = verdictOf(within(s.r, s.rDayBefore));
    }
    s.periodDays = int(period);
    if (period >= 1) {
        s.rFirst = resistance(firstPeriod);
        s.rLast = resistance(difference(at, periodStart));
        s.criteria[2].verdict = verdictOf(within(s.rFirst, s.rLast));
    }
    if (currentSettings.capacity && judged >= 2 * Day) {
        const Sums firstDay = upTo(2);
        const Sums lastDay = difference(at, dayStart);
        const long double change = lastDay.m / lastDay.n - firstDay.m / firstDay.n;
        const double stored = double(*currentSettings.capacity * 1000 * change);
        const double passed = double(at.heat);
        s.storedHeat = stored;
        s.passedHeat = passed;
        s.criteria[3].verdict = verdictOf(std::isfinite(stored) && std::isfinite(passed) &&
                                          std::fabs(stored) <= StabilityTolerance * std::fabs(passed));
    }
    updatePasses(t);
}

void WallTest::updatePasses(double t)
{
    bool allHold = true;
    for (CriterionState &criterion : current.criteria) {
        if (criterion.verdict == Verdict::Pass) {
            if (!criterion.firstPassed)
                criterion.firstPassed = t;
            criterion.lastPassed = t;
        }
        allHold = allHold && criterion.verdict != Verdict::Fail;
    }
    if (!allHold)
        current.mayStopSince.reset();
    else if (!current.mayStopSince)
        current.mayStopSince = t;
}

void WallTest::sampleHistory(double t)
{
    if (!points.isEmpty() && t < points.constLast().t + pointSpacing)
        return;
    constexpr double Gap = std::numeric_limits<double>::quiet_NaN();
    const auto drawn = [](const std::optional<double> &r) { return r && std::isfinite(*r) ? *r : Gap; };
    points.append({t, drawn(current.runningR), drawn(resistance(dayBefore))});
    if (points.size() >= MaxHistoryPoints) {
        int kept = 0;
        for (int i = 0; i < points.size(); i += 2)
            points[kept++] = points[i];
        points.resize(kept);
        pointSpacing *= 2;
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartenvelope.h"

#include <algorithm>
#include <cmath>

namespace {
// Bucket widths stay within these powers of two: below a microsecond nothing is recorded apart,
// and the upper end only matters for absurd time ranges.
constexpr int MinWidthExponent = -20;
constexpr int MaxWidthExponent = 40;

qint64 floorHalf(qint64 index)
{
    return index >= 0 ? index / 2 : -((-index + 1) / 2);
}
} // namespace

void EnvelopeBucket::add(double value, bool startsLine)
{
    ++records;
    const bool finite = std::isfinite(value);
    if (startsLine || !finite)
        (hasValues() ? breakAfter : breakBefore) = true;
    if (!finite)
        return;
    if (!hasValues())
        first = value;
    else
        breakAfter = false; // a break between two values of the stretch is not drawn at this scale
    last = value;
    lowest = std::min(lowest, value);
    highest = std::max(highest, value);
}

void EnvelopeBucket::merge(const EnvelopeBucket &later)
{
    records += later.records;
    if (!later.hasValues()) {
        if (later.breakBefore)
            (hasValues() ? breakAfter : breakBefore) = true;
        return;
    }
    if (!hasValues()) {
        first = later.first;
        breakBefore = breakBefore || later.breakBefore;
    }
    breakAfter = later.breakAfter;
    last = later.last;
    lowest = std::min(lowest, later.lowest);
    highest = std::max(highest, later.highest);
}

ChartEnvelope::ChartEnvelope(int channels) : perChannel(size_t(std::max(channels, 0))) {}

void ChartEnvelope::clear()
{
    restart(0);
    fittedLower = 0;
    fittedColumns = DefaultColumns;
}

void ChartEnvelope::restart(double newWidth)
{
    width = newWidth;
    origin = 0;
    times.clear();
    for (auto &buckets : perChannel)
        buckets.clear();
}

double ChartEnvelope::widthFor(double lower, double upper, int columns)
{
    const double span = upper - lower;
    if (!(span > 0) || !std::isfinite(span) || columns <= 0)
        return 0;
    int exponent = 0;
    std::frexp(span / double(columns * MinBucketsPerColumn), &exponent);
    // frexp gives span = m * 2^exponent with m in [0.5, 1): 2^(exponent - 1) is the largest power
    // of two not above it.
    return std::ldexp(1.0, std::clamp(exponent - 1, MinWidthExponent, MaxWidthExponent));
}

bool ChartEnvelope::fit(double lower, double upper, int columns)
{
    const double wanted = widthFor(lower, upper, columns);
    if (wanted <= 0)
        return true;
    fittedLower = lower;
    fittedColumns = columns;
    if (width <= 0 || isEmpty()) {
        restart(wanted);
        return true;
    }
    while (width < wanted)
        halve();
    return width <= wanted;
}

qint64 ChartEnvelope::indexOf(double time) const
{
    return qint64(std::floor(time / width));
}

void ChartEnvelope::grow(qint64 index)
{
    if (isEmpty())
        origin = index;
    const qint64 needed = index - origin + 1;
    if (needed <= qint64(times.size()))
        return;
    TimeSpan empty;
    empty.first = empty.last = double(index) * width;
    times.resize(size_t(needed), empty);
    for (auto &buckets : perChannel)
        buckets.resize(size_t(needed));
}

void ChartEnvelope::halve()
{
    const qint64 newOrigin = floorHalf(origin);
    const size_t newSize = size_t(floorHalf(origin + qint64(times.size()) - 1) - newOrigin + 1);
    std::vector<TimeSpan> newTimes(newSize);
    for (size_t i = 0; i < times.size(); ++i) {
        const size_t j = size_t(floorHalf(origin + qint64(i)) - newOrigin);
        const TimeSpan &from = times[i];
        TimeSpan &to = newTimes[j];
        if (!to.used) {
            to = from;
            if (!from.used)
                to.first = to.last = double(newOrigin + qint64(j)) * width * 2;
        } else if (from.used) {
            to.last = from.last;
        }
    }
    for (auto &buckets : perChannel) {
        std::vector<EnvelopeBucket> merged(newSize);
        for (size_t i = 0; i < buckets.size(); ++i)
            merged[size_t(floorHalf(origin + qint64(i)) - newOrigin)].merge(buckets[i]);
        buckets.swap(merged);
    }
    times.swap(newTimes);
    origin = newOrigin;
    width *= 2;
}

void ChartEnvelope::append(double time, const double *values, int count, bool startsLine)
{
    if (!std::isfinite(time))
        return;
    if (width <= 0)
        restart(widthFor(std::min(0.0, time), std::max(1.0, time), fittedColumns));
    qint64 index = indexOf(time);
    if (!isEmpty()) {
        const qint64 lastIndex = origin + qint64(times.size()) - 1;
        if (index < lastIndex)
            index = lastIndex;
        // A record beyond the fitted range: widen first, so a long gap stays a few buckets.
        const qint64 limit = 4 * qint64(MinBucketsPerColumn) * fittedColumns + 2;
        if (index - origin + 1 > limit) {
            fit(std::min(fittedLower, double(origin) * width), time, fittedColumns);
            index = std::max(indexOf(time), origin + qint64(times.size()) - 1);
        }
    }
    grow(index);
    const size_t i = size_t(index - origin);
    TimeSpan &span = times[i];
    if (!span.used)
        span.first = time;
    span.last = time;
    span.used = true;
    const size_t n = std::min(size_t(std::max(count, 0)), perChannel.size());
    for (size_t c = 0; c < n; ++c)
        perChannel[c][i].add(values[c], startsLine);
}

void ChartEnvelope::put(qint64 index, double firstTime, double lastTime, const EnvelopeBucket *buckets)
{
    if (!isEmpty() && index < origin + qint64(times.size()))
        return;
    grow(index);
    const size_t i = size_t(index - origin);
    times[i] = TimeSpan{firstTime, lastTime, true};
    for (size_t c = 0; c < perChannel.size(); ++c)
        perChannel[c][i] = buckets[c];
}

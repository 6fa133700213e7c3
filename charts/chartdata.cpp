// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartdata.h"

#include <algorithm>
#include <cmath>

ChartData::ChartData(const RecordedSeries &series) : series(series) {}

void ChartData::append(int sensorCount, double time, const RecordValues &values)
{
    channels = 2 * std::clamp(sensorCount, 0, MaxSensors);
    const qint64 index = pyramid.size();
    if (gaps.startsLine(time) && index > 0)
        curveBreaks.breakBefore(index);
    const bool marks = !curveBreaks.marks().empty() && curveBreaks.marks().back() >= index;
    timeEnvelope.append(time, values.data(), channels, marks && curveBreaks.startsLine(index));
    curveBreaks.append(index, values.data(), channels);
    pyramid.append(values.data(), channels);
    for (int c = 0; c < channels; ++c) {
        const double v = values[size_t(c)];
        if (!std::isfinite(v))
            continue;
        Bounds &b = bounds[size_t(c)];
        b.lowest = b.any ? std::min(b.lowest, v) : v;
        b.highest = b.any ? std::max(b.highest, v) : v;
        b.any = true;
    }
}

void ChartData::clear()
{
    ++made;
    timeEnvelope.clear();
    pyramid.clear();
    curveBreaks.clear();
    gaps.clear();
    bounds = {};
}

void ChartData::noteQuietFrom(double time)
{
    gaps.quietFrom(time);
    // Records after it were summarised already: summarised again, now broken there.
    if (gaps.hasRecords() && time < gaps.lastTime())
        rebuild();
}

void ChartData::breakCurvesBefore(qint64 record)
{
    if (record < 0 || curveBreaks.startsLine(record))
        return;
    curveBreaks.breakBefore(record);
    if (record < recordCount())
        rebuild();
}

bool ChartData::inStep() const
{
    return qint64(times().size()) == pyramid.size();
}

void ChartData::rebuild()
{
    // The marks and the quiet moments are not in the series: they stay.
    const std::vector<qint64> marks = curveBreaks.marks();
    MeasuringGaps told = gaps;
    clear();
    gaps = std::move(told);
    gaps.restart();
    for (qint64 record : marks)
        curveBreaks.breakBefore(record);
    const qint64 n = times().size();
    if (channels == 0) {
        // Not told yet: the channels whose series are as long as the times.
        while (channels < MaxChannels && values(channels).size() >= n && values(channels + 1).size() >= n &&
               n > 0)
            channels += 2;
    }
    RecordValues record{};
    for (qint64 i = 0; i < n; ++i) {
        for (int c = 0; c < channels; ++c)
            record[size_t(c)] = values(c).value(int(i), qQNaN());
        append(channels / 2, times()[int(i)], record);
    }
}

bool ChartData::valueBounds(int channel, double *lowest, double *highest) const
{
    if (channel < 0 || channel >= channels || !bounds[size_t(channel)].any)
        return false;
    *lowest = bounds[size_t(channel)].lowest;
    *highest = bounds[size_t(channel)].highest;
    return true;
}

bool ChartData::timeBounds(double *first, double *last) const
{
    const qint64 n = std::min(recordCount(), qint64(times().size()));
    if (n == 0)
        return false;
    *first = times().first();
    *last = times()[int(n - 1)];
    return std::isfinite(*first) && std::isfinite(*last);
}

qint64 ChartData::nearestRecord(double time) const
{
    const qint64 n = std::min(recordCount(), qint64(times().size()));
    if (n == 0 || std::isnan(time))
        return -1;
    const double *t = times().constData();
    const qint64 i = std::lower_bound(t, t + n, time) - t;
    if (i == 0)
        return 0;
    if (i == n)
        return n - 1;
    return time - t[i - 1] <= t[i] - time ? i - 1 : i;
}

bool ChartData::stretchBounds(int channel, qint64 begin, qint64 end, double *lowest, double *highest) const
{
    if (channel < 0 || channel >= channels)
        return false;
    end = std::min(end, qint64(values(channel).size()));
    return pyramid.range(channel, values(channel).constData(), begin, end, lowest, highest);
}

void ChartData::fitEnvelope(double lower, double upper, int columns)
{
    double first = 0, last = 0;
    if (timeBounds(&first, &last)) {
        lower = std::min(lower, first);
        upper = std::max(upper, last);
    }
    if (!timeEnvelope.fit(lower, upper, columns))
        rebuildEnvelope(ChartEnvelope::widthFor(lower, upper, columns));
}

void ChartData::rebuildEnvelope(double width)
{
    // Straight from the series: one search and a pyramid look-up per bucket and channel.
    ++made;
    timeEnvelope.restart(width);
    const qint64 n = std::min(recordCount(), qint64(times().size()));
    const double *t = times().constData();
    std::array<EnvelopeBucket, MaxChannels> buckets;
    qint64 first = 0, last = 0;
    for (qint64 i = 0; i < n;) {
        const qint64 index = qint64(std::floor(t[i] / width));
        const qint64 end =
            std::max(i + 1, qint64(std::lower_bound(t + i, t + n, double(index + 1) * width) - t));
        for (int c = 0; c < MaxChannels; ++c) {
            buckets[size_t(c)] = c < channels ? summariseStretch(values(c).constData(), pyramid, curveBreaks,
                                                                 c, i, end, &first, &last)
                                              : EnvelopeBucket();
        }
        timeEnvelope.put(index, t[i], t[end - 1], buckets.data());
        i = end;
    }
}

void ChartData::sample(int channel, const PixelMapping &mapping, CurveCells *out, double fromX) const
{
    // The envelope serves a view whose columns hold at least MinBucketsPerColumn of its buckets.
    const double width = timeEnvelope.bucketWidth();
    if (!timeEnvelope.isEmpty() && width > 0 &&
        width * ChartEnvelope::MinBucketsPerColumn * mapping.keyScale <= 1 + 1e-9)
        sampleEnvelope(timeEnvelope, channel, mapping, out, fromX);
    else
        sampleSeries(times(), values(channel), pyramid, curveBreaks, channel, mapping, out, fromX);
}

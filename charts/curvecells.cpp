// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/curvecells.h"

#include "charts/chartenvelope.h"
#include "charts/seriespyramid.h"

#include <algorithm>
#include <cmath>

namespace {
// How far a search for the nearest finite value goes before it gives up.
constexpr qint64 FiniteSearch = 64;
// Stretches up to this long are read value by value; longer ones through the pyramid.
constexpr qint64 DirectScan = 2 * SeriesPyramid::Fanout;

void startCells(const PixelMapping &mapping, CurveCells *out)
{
    out->left = mapping.left - double(CurveCells::MarginCells) / CurveCells::PerColumn;
    out->count =
        (long long)std::max(mapping.columns, 0) * CurveCells::PerColumn + 2 * CurveCells::MarginCells;
    out->cells.clear();
    out->before.reset();
    out->after.reset();
}
} // namespace

double PixelMapping::y(double value) const
{
    constexpr double Far = 1e5;
    return std::clamp(valueOffset + valueScale * value, -Far, Far);
}

long long CurveCells::indexAt(double x) const
{
    const double i = std::floor((x - left) * PerColumn);
    return std::isfinite(i) ? (long long)std::clamp(i, -1e15, 1e15) : -1;
}

void CurveCells::add(double firstX, double first, double lastX, double last, double top, double bottom,
                     quint32 records)
{
    const long long index = indexAt((firstX + lastX) / 2);
    if (index < 0) {
        before = QPointF(lastX, last);
        return;
    }
    if (index >= count) {
        if (!after)
            after = QPointF(firstX, first);
        return;
    }
    if (cells.empty() || cells.back().index < index) {
        cells.push_back(CurveCell{index, records, float(firstX), float(lastX), float(first), float(last),
                                  float(std::min(top, bottom)), float(std::max(top, bottom))});
        return;
    }
    CurveCell &c = cells.back();
    c.records += records;
    c.lastX = float(lastX);
    c.last = float(last);
    c.top = std::min({c.top, float(top), float(bottom)});
    c.bottom = std::max({c.bottom, float(top), float(bottom)});
}

void sampleEnvelope(const ChartEnvelope &envelope, int channel, const PixelMapping &mapping, CurveCells *out)
{
    startCells(mapping, out);
    if (channel < 0 || channel >= envelope.channels())
        return;
    // Buckets left of the cells matter only for the last one with values (the line coming in).
    int start = 0;
    for (int step = 1 << 30; step > 0; step >>= 1) {
        if (start + step <= envelope.size() && mapping.x(envelope.lastTime(start + step - 1)) < out->left)
            start += step;
    }
    while (start > 0 && !envelope.at(channel, start - 1).hasValues())
        --start;
    for (int i = std::max(start - 1, 0); i < envelope.size(); ++i) {
        const EnvelopeBucket &b = envelope.at(channel, i);
        if (!b.hasValues())
            continue;
        out->add(mapping.x(envelope.firstTime(i)), mapping.y(b.first), mapping.x(envelope.lastTime(i)),
                 mapping.y(b.last), mapping.y(b.highest), mapping.y(b.lowest), b.records);
        if (out->after)
            break;
    }
}

EnvelopeBucket summariseStretch(const double *values, const SeriesPyramid &pyramid, int channel, qint64 begin,
                                qint64 end, qint64 *firstIndex, qint64 *lastIndex)
{
    EnvelopeBucket out;
    *firstIndex = *lastIndex = -1;
    if (end <= begin)
        return out;
    out.records = quint32(std::min<qint64>(end - begin, 0xffffffff));
    for (qint64 i = begin; i < end && i < begin + FiniteSearch; ++i) {
        if (std::isfinite(values[i])) {
            *firstIndex = i;
            break;
        }
    }
    for (qint64 i = end - 1; i >= begin && i >= end - FiniteSearch; --i) {
        if (std::isfinite(values[i])) {
            *lastIndex = i;
            break;
        }
    }
    if (end - begin <= DirectScan && *firstIndex < 0)
        return out; // all of it looked at: nothing finite
    if (!pyramid.range(channel, values, begin, end, &out.lowest, &out.highest))
        return out;
    out.first = *firstIndex >= 0 ? values[*firstIndex] : out.lowest;
    out.last = *lastIndex >= 0 ? values[*lastIndex] : out.highest;
    return out;
}

void sampleSeries(const QVector<double> &times, const QVector<double> &values, const SeriesPyramid &pyramid,
                  int channel, const PixelMapping &mapping, CurveCells *cells)
{
    startCells(mapping, cells);
    CurveCells &out = *cells;
    const qint64 n = std::min({qint64(times.size()), qint64(values.size()), pyramid.size()});
    if (n == 0 || !(mapping.keyScale > 0))
        return;
    const double *t = times.constData();
    const double *v = values.constData();
    qint64 first = -1, last = -1;

    qint64 begin = std::lower_bound(t, t + n, mapping.key(out.left)) - t;
    summariseStretch(v, pyramid, channel, std::max<qint64>(0, begin - FiniteSearch), begin, &first, &last);
    if (last >= 0)
        out.before = QPointF(mapping.x(t[last]), mapping.y(v[last]));
    for (long long c = 0; c < out.count; ++c) {
        const double edge = mapping.key(out.left + double(c + 1) / CurveCells::PerColumn);
        const qint64 end = std::lower_bound(t + begin, t + n, edge) - t;
        const EnvelopeBucket b = summariseStretch(v, pyramid, channel, begin, end, &first, &last);
        if (b.hasValues()) {
            const double y1 = mapping.y(b.lowest), y2 = mapping.y(b.highest);
            out.cells.push_back(CurveCell{c, b.records, float(mapping.x(t[first >= 0 ? first : begin])),
                                          float(mapping.x(t[last >= 0 ? last : end - 1])),
                                          float(mapping.y(b.first)), float(mapping.y(b.last)),
                                          float(std::min(y1, y2)), float(std::max(y1, y2))});
        }
        begin = end;
    }
    summariseStretch(v, pyramid, channel, begin, std::min(n, begin + FiniteSearch), &first, &last);
    if (first >= 0)
        out.after = QPointF(mapping.x(t[first]), mapping.y(v[first]));
}

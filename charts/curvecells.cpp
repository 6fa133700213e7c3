// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/curvecells.h"

#include "charts/chartenvelope.h"
#include "charts/curvebreaks.h"
#include "charts/seriespyramid.h"

#include <algorithm>
#include <cmath>

void CurveCells::start(const PixelMapping &mapping)
{
    left = mapping.left - double(MarginCells) / PerColumn;
    count = (long long)std::max(mapping.columns, 0) * PerColumn + 2 * MarginCells;
    cells.clear();
    before.reset();
    after.reset();
    afterBroken = false;
    pendingBreak = false;
}

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
                     quint32 records, bool breakBefore, bool breakAfter)
{
    addAt(indexAt((firstX + lastX) / 2), firstX, first, lastX, last, top, bottom, records, breakBefore,
          breakAfter);
}

void CurveCells::addAt(long long index, double firstX, double first, double lastX, double last, double top,
                       double bottom, quint32 records, bool breakBefore, bool breakAfter)
{
    // Positions are kept as floats, as in the cells: the line coming in is the same whichever
    // way the record before was found.
    const bool broken = pendingBreak || breakBefore;
    if (index < 0) {
        before = QPointF(float(lastX), float(last));
        pendingBreak = breakAfter;
        return;
    }
    if (index >= count) {
        if (!after) {
            after = QPointF(float(firstX), float(first));
            afterBroken = broken;
        }
        return;
    }
    pendingBreak = breakAfter;
    if (cells.empty() || cells.back().index < index) {
        cells.push_back(CurveCell{index, records, float(firstX), float(lastX), float(first), float(last),
                                  float(std::min(top, bottom)), float(std::max(top, bottom)), broken});
        return;
    }
    // A break within a quarter column is not drawn: the cell covers all its records' values.
    CurveCell &c = cells.back();
    c.records += records;
    c.lastX = float(lastX);
    c.last = float(last);
    c.top = std::min({c.top, float(top), float(bottom)});
    c.bottom = std::max({c.bottom, float(top), float(bottom)});
}

void sampleEnvelope(const ChartEnvelope &envelope, int channel, const PixelMapping &mapping, CurveCells *out,
                    double fromX)
{
    out->start(mapping);
    if (channel < 0 || channel >= envelope.channels())
        return;
    // Buckets left of the cells wanted matter only for the last one with values (the line coming in).
    const double limit = std::max(out->left, fromX);
    int start = 0;
    for (int step = 1 << 30; step > 0; step >>= 1) {
        if (start + step <= envelope.size() && mapping.x(envelope.lastTime(start + step - 1)) < limit)
            start += step;
    }
    while (start > 0 && !envelope.at(channel, start - 1).hasValues())
        --start;
    for (int i = std::max(start - 1, 0); i < envelope.size(); ++i) {
        const EnvelopeBucket &b = envelope.at(channel, i);
        if (!b.hasValues()) {
            if (b.breakBefore)
                out->addBreak();
            continue;
        }
        out->add(mapping.x(envelope.firstTime(i)), mapping.y(b.first), mapping.x(envelope.lastTime(i)),
                 mapping.y(b.last), mapping.y(b.highest), mapping.y(b.lowest), b.records, b.breakBefore,
                 b.breakAfter);
        if (out->after)
            break;
    }
}

EnvelopeBucket summariseStretch(const double *values, const SeriesPyramid &pyramid, const CurveBreaks &breaks,
                                int channel, qint64 begin, qint64 end, qint64 *firstIndex, qint64 *lastIndex)
{
    EnvelopeBucket out;
    *firstIndex = *lastIndex = -1;
    if (end <= begin)
        return out;
    out.records = quint32(std::min<qint64>(end - begin, 0xffffffff));
    const qint64 first = breaks.firstFinite(channel, begin, end);
    const qint64 last = first < 0 ? -1 : breaks.lastFinite(channel, first, end);
    if (last < 0 || !pyramid.range(channel, values, first, last + 1, &out.lowest, &out.highest)) {
        out.breakBefore = true; // records, but nothing to draw
        return out;
    }
    *firstIndex = first;
    *lastIndex = last;
    out.first = std::isfinite(values[first]) ? values[first] : out.lowest;
    out.last = std::isfinite(values[last]) ? values[last] : out.highest;
    out.breakBefore = first > begin || breaks.anyMark(begin, first);
    out.breakAfter = last < end - 1 || breaks.anyMark(last + 1, end - 1);
    return out;
}

void sampleSeries(const QVector<double> &times, const QVector<double> &values, const SeriesPyramid &pyramid,
                  const CurveBreaks &breaks, int channel, const PixelMapping &mapping, CurveCells *cells,
                  double fromX)
{
    cells->start(mapping);
    CurveCells &out = *cells;
    const qint64 n = std::min({qint64(times.size()), qint64(values.size()), pyramid.size()});
    if (n == 0 || !(mapping.keyScale > 0))
        return;
    const double *t = times.constData();
    const double *v = values.constData();
    // From the quarter column before the one holding fromX (all of them by default).
    const long long firstCell =
        fromX > out.left ? std::clamp<long long>(out.indexAt(fromX) - 1, 0, out.count) : 0;
    qint64 begin =
        std::lower_bound(t, t + n, mapping.key(out.left + double(firstCell) / CurveCells::PerColumn)) - t;
    // The line coming in: from the last finite value before.
    const qint64 previous = breaks.lastFinite(channel, 0, begin);
    if (previous >= 0) {
        const double x = mapping.x(t[previous]), y = mapping.y(v[previous]);
        out.addAt(-1, x, y, x, y, y, y, 1, false,
                  previous < begin - 1 || breaks.anyMark(previous + 1, begin - 1));
    }
    qint64 first = -1, last = -1;
    for (long long c = firstCell; c < out.count; ++c) {
        const double edge = mapping.key(out.left + double(c + 1) / CurveCells::PerColumn);
        const qint64 end = std::lower_bound(t + begin, t + n, edge) - t;
        const EnvelopeBucket b = summariseStretch(v, pyramid, breaks, channel, begin, end, &first, &last);
        if (b.hasValues()) {
            out.addAt(c, mapping.x(t[first]), mapping.y(b.first), mapping.x(t[last]), mapping.y(b.last),
                      mapping.y(b.lowest), mapping.y(b.highest), b.records, b.breakBefore, b.breakAfter);
        } else if (b.breakBefore) {
            out.addBreak();
        }
        begin = end;
    }
    // The line going out: to the first finite value after.
    const qint64 next = breaks.firstFinite(channel, begin, n);
    if (next >= 0) {
        const double x = mapping.x(t[next]), y = mapping.y(v[next]);
        out.addAt(out.count, x, y, x, y, y, y, 1, next > begin || breaks.anyMark(begin, next), false);
    }
}

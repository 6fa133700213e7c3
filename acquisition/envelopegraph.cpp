// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/envelopegraph.h"

#include "acquisition/chartdata.h"
#include "acquisition/curveshape.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

QCPRange inDomain(double lower, double upper, QCP::SignDomain domain, bool *found)
{
    *found = domain == QCP::sdBoth || (domain == QCP::sdPositive && lower > 0) ||
             (domain == QCP::sdNegative && upper < 0);
    return *found ? QCPRange(lower, upper) : QCPRange();
}

} // namespace

EnvelopeGraph::EnvelopeGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis)
{
    setAdaptiveSampling(false);
}

void EnvelopeGraph::setSource(const ChartData *data, int channel)
{
    source = data;
    sourceChannel = channel;
}

int EnvelopeGraph::dataCount() const
{
    if (!source || sourceChannel < 0 || sourceChannel >= source->channelsInUse())
        return 0;
    return int(std::min({source->recordCount(), qint64(source->times().size()),
                         qint64(source->values(sourceChannel).size())}));
}

double EnvelopeGraph::dataMainKey(int index) const
{
    return source->times().at(index);
}

double EnvelopeGraph::dataSortKey(int index) const
{
    return dataMainKey(index);
}

double EnvelopeGraph::dataMainValue(int index) const
{
    return source->values(sourceChannel).at(index);
}

QCPRange EnvelopeGraph::dataValueRange(int index) const
{
    const double v = dataMainValue(index);
    return QCPRange(v, v);
}

QPointF EnvelopeGraph::dataPixelPosition(int index) const
{
    return coordsToPixels(dataMainKey(index), dataMainValue(index));
}

QCPDataSelection EnvelopeGraph::selectTestRect(const QRectF &, bool) const
{
    return QCPDataSelection();
}

int EnvelopeGraph::findBegin(double sortKey, bool expandedRange) const
{
    const int n = dataCount();
    const double *t = n > 0 ? source->times().constData() : nullptr;
    int i = n > 0 ? int(std::lower_bound(t, t + n, sortKey) - t) : 0;
    if (expandedRange && i > 0)
        --i;
    return i;
}

int EnvelopeGraph::findEnd(double sortKey, bool expandedRange) const
{
    const int n = dataCount();
    const double *t = n > 0 ? source->times().constData() : nullptr;
    int i = n > 0 ? int(std::upper_bound(t, t + n, sortKey) - t) : 0;
    if (expandedRange && i < n)
        ++i;
    return i;
}

double EnvelopeGraph::selectTest(const QPointF &, bool, QVariant *) const
{
    return -1; // the charts have no selection
}

QCPRange EnvelopeGraph::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const
{
    double first = 0, last = 0;
    foundRange = dataCount() > 0 && source->timeBounds(&first, &last);
    return foundRange ? inDomain(first, last, inSignDomain, &foundRange) : QCPRange();
}

QCPRange EnvelopeGraph::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain, const QCPRange &) const
{
    double lowest = 0, highest = 0;
    foundRange = dataCount() > 0 && source->valueBounds(sourceChannel, &lowest, &highest);
    return foundRange ? inDomain(lowest, highest, inSignDomain, &foundRange) : QCPRange();
}

PixelMapping EnvelopeGraph::mapping(const QRect &area, double scale) const
{
    PixelMapping m;
    const QCPRange keys = mKeyAxis->range();
    const double k0 = mKeyAxis->coordToPixel(keys.lower), k1 = mKeyAxis->coordToPixel(keys.upper);
    m.keyScale = (k1 - k0) / keys.size() * scale;
    m.keyOffset = k0 * scale - m.keyScale * keys.lower;
    const QCPRange values = mValueAxis->range();
    const double v0 = mValueAxis->coordToPixel(values.lower), v1 = mValueAxis->coordToPixel(values.upper);
    m.valueScale = (v1 - v0) / values.size() * scale;
    m.valueOffset = v0 * scale - m.valueScale * values.lower;
    m.left = area.left() * scale;
    m.columns = int(std::lround(area.width() * scale));
    return m;
}

void EnvelopeGraph::draw(QCPPainter *painter)
{
    if (!source || sourceChannel < 0 || sourceChannel >= source->channelsInUse() || lineStyle() == lsNone ||
        !mKeyAxis || !mValueAxis || source->recordCount() == 0)
        return;
    // Curves run along a horizontal time axis that grows to the right.
    if (mKeyAxis->orientation() != Qt::Horizontal || mKeyAxis->rangeReversed())
        return;
    const QRect area = mKeyAxis->axisRect()->rect();
    if (area.isEmpty())
        return;
    const bool vector = painter->modes().testFlag(QCPPainter::pmVectorized);
    const double deviceScale = std::abs(painter->deviceTransform().m11());
    const double scale = vector || !(deviceScale > 0) ? 1.0 : deviceScale;
    const PixelMapping m = mapping(area, scale);
    const QPen linePen = pen();
    const double halfWidth = std::max(linePen.widthF(), 1.0) / 2 * scale;
    const CurveShape shape = shapeCurve(source->sample(sourceChannel, m), m.columns, halfWidth);

    if (vector)
        paintBandOutline(painter, shape, area);
    else
        paintBand(painter, shape, area, scale);
    if (shape.lines.empty())
        return;
    painter->setPen(linePen);
    painter->setBrush(Qt::NoBrush);
    for (const QPolygonF &line : shape.lines) {
        QPolygonF logical(line);
        for (QPointF &p : logical)
            p /= scale;
        painter->drawPolyline(logical);
    }
}

void EnvelopeGraph::paintBand(QCPPainter *painter, const CurveShape &shape, const QRect &area, double scale)
{
    const QSize size(int(std::lround(area.width() * scale)), int(std::lround(area.height() * scale)));
    if (band.size() != size) {
        band = QImage(size, QImage::Format_ARGB32_Premultiplied);
        band.fill(0);
        painted = QRect();
    } else if (!painted.isEmpty()) {
        for (int y = painted.top(); y <= painted.bottom(); ++y)
            std::memset(reinterpret_cast<QRgb *>(band.scanLine(y)) + painted.left(), 0,
                        size_t(painted.width()) * sizeof(QRgb));
    }
    painted = QRect();
    if (shape.band.empty() || size.isEmpty())
        return;

    const QColor colour = pen().color();
    const QRgb solid = qPremultiply(colour.rgba());
    auto partly = [&colour](double coverage) {
        return qPremultiply(
            qRgba(colour.red(), colour.green(), colour.blue(), int(std::lround(colour.alpha() * coverage))));
    };
    const double top0 = area.top() * scale;
    const double height = size.height();
    uchar *bits = band.bits();
    const qsizetype stride = band.bytesPerLine();
    int minRow = size.height(), maxRow = -1, minColumn = size.width(), maxColumn = -1;
    for (const BandSpan &span : shape.band) {
        if (span.column < 0 || span.column >= size.width())
            continue;
        const double top = std::clamp(span.top - top0, 0.0, height);
        const double bottom = std::clamp(span.bottom - top0, 0.0, height);
        if (!(top < bottom))
            continue;
        const int first = int(top), last = std::min(int(std::ceil(bottom)) - 1, size.height() - 1);
        for (int y = first; y <= last; ++y) {
            const double coverage = std::min(bottom, y + 1.0) - std::max(top, double(y));
            reinterpret_cast<QRgb *>(bits + y * stride)[span.column] =
                coverage >= 1 ? solid : partly(coverage);
        }
        minRow = std::min(minRow, first);
        maxRow = std::max(maxRow, last);
        minColumn = std::min(minColumn, span.column);
        maxColumn = std::max(maxColumn, span.column);
    }
    if (maxRow < minRow || maxColumn < minColumn)
        return;
    painted = QRect(QPoint(minColumn, minRow), QPoint(maxColumn, maxRow));
    const QRectF target(area.left() + painted.left() / scale, area.top() + painted.top() / scale,
                        painted.width() / scale, painted.height() / scale);
    painter->drawImage(target, band, painted);
}

void EnvelopeGraph::paintBandOutline(QCPPainter *painter, const CurveShape &shape, const QRect &area) const
{
    // Runs of neighbouring columns become one outline each: the tops left to right, then the
    // bottoms back.
    painter->setPen(Qt::NoPen);
    painter->setBrush(pen().color());
    size_t i = 0;
    while (i < shape.band.size()) {
        size_t j = i + 1;
        while (j < shape.band.size() && shape.band[j].column == shape.band[j - 1].column + 1)
            ++j;
        QPolygonF outline;
        for (size_t k = i; k < j; ++k) {
            const double x = area.left() + shape.band[k].column;
            outline << QPointF(x, shape.band[k].top) << QPointF(x + 1, shape.band[k].top);
        }
        for (size_t k = j; k-- > i;) {
            const double x = area.left() + shape.band[k].column;
            outline << QPointF(x + 1, shape.band[k].bottom) << QPointF(x, shape.band[k].bottom);
        }
        painter->drawPolygon(outline);
        i = j;
    }
}

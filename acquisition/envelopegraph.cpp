// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/envelopegraph.h"

#include "acquisition/chartdata.h"
#include "acquisition/curveshape.h"

#include <algorithm>
#include <array>
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

PixelMapping EnvelopeGraph::mapping(const QTransform &device, const QRect &pixels) const
{
    // Where the painter puts chart coordinates, in device pixels (with QCustomPlot's half-pixel
    // shift for antialiased drawing, the window's pixel ratio and any translation of the picture).
    PixelMapping m;
    const QCPRange keys = mKeyAxis->range();
    const double k0 = mKeyAxis->coordToPixel(keys.lower), k1 = mKeyAxis->coordToPixel(keys.upper);
    m.keyScale = (k1 - k0) / keys.size() * device.m11();
    m.keyOffset = k0 * device.m11() + device.dx() - m.keyScale * keys.lower;
    const QCPRange values = mValueAxis->range();
    const double v0 = mValueAxis->coordToPixel(values.lower), v1 = mValueAxis->coordToPixel(values.upper);
    m.valueScale = (v1 - v0) / values.size() * device.m22();
    m.valueOffset = v0 * device.m22() + device.dy() - m.valueScale * values.lower;
    m.left = pixels.left();
    m.columns = pixels.width();
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
    const QTransform device = painter->deviceTransform();
    if (area.isEmpty() || device.isRotating() || !(device.m11() > 0) || !(device.m22() > 0))
        return;
    // The device pixels of the plot area; everything is shaped in device pixels and mapped back.
    const QRectF onDevice = device.mapRect(QRectF(area));
    const QRect pixels(QPoint(int(std::floor(onDevice.left())), int(std::floor(onDevice.top()))),
                       QPoint(int(std::ceil(onDevice.right())) - 1, int(std::ceil(onDevice.bottom())) - 1));
    const QTransform toLogical = device.inverted();
    const PixelMapping m = mapping(device, pixels);
    const QPen linePen = pen();
    const double halfWidth = std::max(linePen.widthF(), 1.0) / 2 * device.m11();
    const CurveShape shape = shapeCurve(source->sample(sourceChannel, m), m.columns, halfWidth);

    if (painter->modes().testFlag(QCPPainter::pmVectorized))
        paintBandOutline(painter, shape, pixels, toLogical);
    else
        paintBand(painter, shape, pixels, toLogical);
    if (shape.lines.empty())
        return;
    painter->setPen(linePen);
    painter->setBrush(Qt::NoBrush);
    for (const QPolygonF &line : shape.lines)
        painter->drawPolyline(toLogical.map(line));
}

void EnvelopeGraph::paintBand(QCPPainter *painter, const CurveShape &shape, const QRect &pixels,
                              const QTransform &toLogical)
{
    const QSize size = pixels.size();
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

    // Each pixel gets the largest coverage any span gives it: the span's share of the column's
    // width times its share of the row. Rows well inside a fully covered span are simply solid.
    const QColor colour = pen().color();
    std::array<QRgb, 256> shades;
    for (int k = 0; k < 256; ++k)
        shades[size_t(k)] =
            qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), colour.alpha() * k / 255));
    const double height = size.height();
    const double top0 = pixels.top();
    uchar *bits = band.bits();
    const qsizetype stride = band.bytesPerLine();
    auto at = [bits, stride](int x, int y) { return reinterpret_cast<QRgb *>(bits + y * stride) + x; };
    // Rows solidFrom..solidTo - 1 of each column are solid; they are written row by row below.
    std::vector<int> solidFrom(size_t(size.width()), 0), solidTo(size_t(size.width()), 0);
    int minRow = size.height(), maxRow = -1, minColumn = size.width(), maxColumn = -1;
    for (size_t i = 0; i < shape.band.size();) {
        const int column = shape.band[i].column;
        size_t j = i;
        double top = height, bottom = 0;
        int from = 0, to = 0;
        for (; j < shape.band.size() && shape.band[j].column == column; ++j) {
            const BandSpan &span = shape.band[j];
            top = std::min(top, std::max(span.top - top0, 0.0));
            bottom = std::max(bottom, std::min(span.bottom - top0, height));
            if (span.coverage >= 1) {
                from = int(std::max(std::ceil(span.top - top0), 0.0));
                to = int(std::min(std::floor(span.bottom - top0), height));
            }
        }
        if (column < 0 || column >= size.width() || !(top < bottom)) {
            i = j;
            continue;
        }
        const int first = int(top), last = std::min(int(std::ceil(bottom)) - 1, size.height() - 1);
        solidFrom[size_t(column)] = from;
        solidTo[size_t(column)] = std::max(from, to);
        for (int y = first; y <= last; ++y) {
            if (y == from && to > from) {
                y = to - 1;
                continue;
            }
            double ink = 0;
            for (size_t k = i; k < j; ++k) {
                const BandSpan &span = shape.band[k];
                const double rows =
                    std::min(span.bottom - top0, y + 1.0) - std::max(span.top - top0, double(y));
                ink = std::max(ink, span.coverage * std::clamp(rows, 0.0, 1.0));
            }
            *at(column, y) = shades[size_t(ink * 255 + 0.5)];
        }
        minRow = std::min(minRow, first);
        maxRow = std::max(maxRow, last);
        minColumn = std::min(minColumn, column);
        maxColumn = std::max(maxColumn, column);
        i = j;
    }
    // Solid rows in blocks of columns one cache line wide, row by row within a block.
    const QRgb solid = shades[255];
    constexpr int Block = 16;
    for (int x0 = std::max(minColumn, 0); x0 <= maxColumn; x0 += Block) {
        const int x1 = std::min(x0 + Block, maxColumn + 1);
        int from = size.height(), to = 0;
        for (int x = x0; x < x1; ++x) {
            if (solidTo[size_t(x)] > solidFrom[size_t(x)]) {
                from = std::min(from, solidFrom[size_t(x)]);
                to = std::max(to, solidTo[size_t(x)]);
            }
        }
        for (int y = from; y < to; ++y) {
            QRgb *line = at(0, y);
            for (int x = x0; x < x1; ++x) {
                if (unsigned(y - solidFrom[size_t(x)]) < unsigned(solidTo[size_t(x)] - solidFrom[size_t(x)]))
                    line[x] = solid;
            }
        }
    }
    if (maxRow < minRow || maxColumn < minColumn)
        return;
    painted = QRect(QPoint(minColumn, minRow), QPoint(maxColumn, maxRow));
    // The image's pixels land exactly on device pixels.
    painter->drawImage(toLogical.mapRect(QRectF(painted.translated(pixels.topLeft()))), band, painted);
}

void EnvelopeGraph::paintBandOutline(QCPPainter *painter, const CurveShape &shape, const QRect &pixels,
                                     const QTransform &toLogical) const
{
    // A vector picture has no partly covered pixels: a column is painted where the pen covers at
    // least half of it. Runs of neighbouring columns become one outline each: the tops left to
    // right, then the bottoms back.
    struct Column
    {
        int x;
        double top, bottom;
    };
    std::vector<Column> columns;
    for (const BandSpan &span : shape.band) {
        if (span.coverage < 0.5)
            continue;
        if (!columns.empty() && columns.back().x == span.column) {
            columns.back().top = std::min(columns.back().top, span.top);
            columns.back().bottom = std::max(columns.back().bottom, span.bottom);
        } else {
            columns.push_back(Column{span.column, span.top, span.bottom});
        }
    }
    painter->setPen(Qt::NoPen);
    painter->setBrush(pen().color());
    size_t i = 0;
    while (i < columns.size()) {
        size_t j = i + 1;
        while (j < columns.size() && columns[j].x == columns[j - 1].x + 1)
            ++j;
        QPolygonF outline;
        for (size_t k = i; k < j; ++k) {
            const double x = pixels.left() + columns[k].x;
            outline << QPointF(x, columns[k].top) << QPointF(x + 1, columns[k].top);
        }
        for (size_t k = j; k-- > i;) {
            const double x = pixels.left() + columns[k].x;
            outline << QPointF(x + 1, columns[k].bottom) << QPointF(x, columns[k].bottom);
        }
        painter->drawPolygon(toLogical.map(outline));
        i = j;
    }
}

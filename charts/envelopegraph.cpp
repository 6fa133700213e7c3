// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/envelopegraph.h"

#include "charts/chartdata.h"
#include "charts/curveshape.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

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

bool EnvelopeGraph::drawsCurve() const
{
    return source && sourceChannel >= 0 && sourceChannel < source->channelsInUse() && lineStyle() != lsNone &&
           source->recordCount() > 0 && mKeyAxis && mValueAxis && realVisibility();
}

QList<EnvelopeGraph *> EnvelopeGraph::curvesOnCanvas() const
{
    // Graphs are drawn in their layer's order.
    QList<EnvelopeGraph *> curves;
    for (QCPLayerable *drawn : layer()->children()) {
        auto *g = qobject_cast<EnvelopeGraph *>(drawn);
        if (g && g->canvas == canvas && g->drawsCurve())
            curves << g;
    }
    return curves;
}

bool EnvelopeGraph::devicePixels(const QCPPainter *painter, QRect *pixels, QTransform *device) const
{
    const QRect area = mKeyAxis ? mKeyAxis->axisRect()->rect() : QRect();
    *device = painter->deviceTransform();
    // Curves run along a horizontal time axis that grows to the right.
    if (!drawsCurve() || mKeyAxis->orientation() != Qt::Horizontal || mKeyAxis->rangeReversed() ||
        area.isEmpty() || device->isRotating() || !(device->m11() > 0) || !(device->m22() > 0))
        return false;
    // The device pixels of the plot area; everything is shaped in device pixels and mapped back.
    const QRectF onDevice = device->mapRect(QRectF(area));
    *pixels = QRect(QPoint(int(std::floor(onDevice.left())), int(std::floor(onDevice.top()))),
                    QPoint(int(std::ceil(onDevice.right())) - 1, int(std::ceil(onDevice.bottom())) - 1));
    return true;
}

void EnvelopeGraph::draw(QCPPainter *painter)
{
    QRect pixels;
    QTransform device;
    if (!devicePixels(painter, &pixels, &device))
        return;
    if (!painter->modes().testFlag(QCPPainter::pmVectorized)) {
        const QList<EnvelopeGraph *> curves = curvesOnCanvas();
        if (curves.value(0) == this) {
            updateCanvas(curves, pixels, device, painter->testRenderHint(QPainter::Antialiasing));
            canvas->draw(painter);
        }
        return;
    }
    const QTransform toLogical = device.inverted();
    const PixelMapping m = mapping(device, pixels);
    source->sample(sourceChannel, m, &cells);
    const CurveShape &shape =
        shaper.shape(cells, m.columns, std::max(pen().widthF(), 1.0) / 2 * device.m11());
    paintBandOutline(painter, shape, pixels, toLogical);
    painter->setPen(pen());
    painter->setBrush(Qt::NoBrush);
    for (const QPolygonF &line : shape.lines)
        painter->drawPolyline(toLogical.map(line));
}

QRect EnvelopeGraph::updateCanvas(QCPPainter *painter)
{
    // The painter as the layer sets it up for drawing this graph.
    painter->save();
    applyDefaultAntialiasingHint(painter);
    QRect changed;
    QRect pixels;
    QTransform device;
    if (devicePixels(painter, &pixels, &device) && !painter->modes().testFlag(QCPPainter::pmVectorized)) {
        const QList<EnvelopeGraph *> curves = curvesOnCanvas();
        if (curves.value(0) == this) {
            updateCanvas(curves, pixels, device, painter->testRenderHint(QPainter::Antialiasing));
            // Also what other drawings (a picture of the chart) brought into the canvas meanwhile.
            changed = canvas->takeChanged();
        }
    }
    painter->restore();
    return changed;
}

void EnvelopeGraph::canvasShown()
{
    canvas->takeChanged();
}

void EnvelopeGraph::updateCanvas(const QList<EnvelopeGraph *> &curves, const QRect &pixels,
                                 const QTransform &device, bool antialiased)
{
    // Columns further left than this of the last record drawn before are as they were.
    constexpr int DirtyColumns = 5;
    const PixelMapping m = mapping(device, pixels);

    // What the canvas will show; the last entry is the number of records.
    std::vector<double> signature{double(pixels.x()),
                                  double(pixels.y()),
                                  double(pixels.width()),
                                  double(pixels.height()),
                                  m.keyOffset,
                                  m.keyScale,
                                  m.valueOffset,
                                  m.valueScale,
                                  device.m11(),
                                  double(antialiased),
                                  double(source->generation()),
                                  source->envelope().bucketWidth()};
    for (const EnvelopeGraph *g : curves) {
        const QPen &p = g->pen();
        signature.insert(signature.end(),
                         {double(g->sourceChannel), double(p.color().rgba()), p.widthF(),
                          double(p.capStyle()), double(p.joinStyle()), double(p.isCosmetic())});
    }
    const qint64 records = source->recordCount();
    signature.push_back(double(records));

    int from = 0;
    const std::vector<double> &before = canvas->signature();
    if (canvas->prepare(pixels, device.inverted()) && before.size() == signature.size() &&
        std::equal(before.begin(), before.end() - 1, signature.begin())) {
        const qint64 drawn = qint64(before.back());
        const double lastX =
            drawn > 0 && drawn <= source->times().size() ? m.x(source->times()[int(drawn - 1)]) : 0;
        if (drawn == records)
            from = m.columns;
        else if (drawn > 0 && drawn < records && std::isfinite(lastX))
            from = int(std::clamp(std::floor(lastX - m.left) - DirtyColumns, 0.0, double(m.columns)));
    }
    if (from < m.columns) {
        canvas->clearFrom(from);
        canvas->lineCoverage().start(pixels.width(), pixels.height());
        // Curve after curve, each over what the curves before it wrote: its band and its lines
        // (records far apart) together, in the columns rewritten; the columns kept stay as they were.
        for (EnvelopeGraph *g : curves)
            g->writeCurve(g->reshape(m, device.m11(), from), from, device.m11(), antialiased);
    }
    canvas->setSignature(std::move(signature), from);
}

const CurveShape &EnvelopeGraph::reshape(const PixelMapping &m, double deviceScale, int from)
{
    const double reach = std::max(pen().widthF(), 1.0) / 2 * deviceScale;
    // Stretches of records left of what the columns from `from` on need are not sampled.
    const double fromX = from > 0 ? CurveShaper::shapedFrom(m.left, from, reach) - 1 : -1e300;
    source->sample(sourceChannel, m, &cells, fromX);
    shaped = &shaper.shape(cells, m.columns, reach, from);
    return *shaped;
}

void EnvelopeGraph::writeCurve(const CurveShape &shape, int from, double deviceScale, bool antialiased)
{
    QImage &band = canvas->image();
    const QSize size = band.size();
    LineCoverage &lines = canvas->lineCoverage();
    if (size.isEmpty() || lines.columns() != size.width())
        return;
    if (!shape.lines.empty()) {
        const QPen &p = pen();
        const double halfWidth = std::max(p.isCosmetic() ? p.widthF() : p.widthF() * deviceScale, 1.0) / 2;
        for (const QPolygonF &line : shape.lines)
            lines.addPolyline(line.constData(), int(line.size()), canvas->area().topLeft(), halfWidth, from);
    } else if (shape.lastColumn < shape.firstColumn) {
        return;
    }

    // Each pixel gets the largest coverage any run or line gives it: a run's share of the column's
    // width times its share of the row. Runs are laid down from the least covered level up, so
    // that inside a run the higher level simply replaces the lower; only a run's partly covered
    // end rows take the larger of the two. The curve goes over what curves before it wrote.
    const QColor colour = pen().color();
    std::array<QRgb, 256> shades;
    for (int k = 0; k < 256; ++k)
        shades[size_t(k)] =
            qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(), colour.alpha() * k / 255));
    const QRgb solid = shades[255];
    const bool opaque = colour.alpha() == 255;
    auto over = [](QRgb src, QRgb dst) {
        const uint rest = 255 - qAlpha(src);
        if (rest == 0 || dst == 0)
            return src;
        uint rb = (dst & 0xff00ff) * rest;
        rb = ((rb + ((rb >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
        uint ag = ((dst >> 8) & 0xff00ff) * rest;
        ag = (ag + ((ag >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
        return src + (ag | rb);
    };
    const float height = float(size.height());
    const float top0 = float(canvas->area().top());
    uchar *bits = band.bits();
    const qsizetype stride = band.bytesPerLine();
    inks.resize(size_t(size.height()));
    const int firstColumn = shape.lines.empty() ? std::max({shape.firstColumn, from, 0}) : std::max(from, 0);
    const int lastColumn =
        shape.lines.empty() ? std::min(shape.lastColumn, size.width() - 1) : size.width() - 1;
    for (int column = firstColumn; column <= lastColumn; ++column) {
        int first = size.height(), last = -1;
        // The column's inks from row `from` to row `to` are to be written: those not yet in use
        // start empty.
        auto use = [&](int from, int to) {
            if (last < first) {
                std::memset(inks.data() + from, 0, size_t(to - from + 1));
            } else {
                if (from < first)
                    std::memset(inks.data() + from, 0, size_t(first - from));
                if (to > last)
                    std::memset(inks.data() + last + 1, 0, size_t(to - last));
            }
            first = std::min(first, from);
            last = std::max(last, to);
        };
        if (column >= shape.firstColumn && column <= shape.lastColumn) {
            const BandColumn &c = shape.band[size_t(column)];
            for (int l = BandColumn::Levels - 1; l >= 0; --l) {
                const int level = int(BandColumn::Coverage[l] * 255 + 0.5f);
                for (int side = 0; side < 2; ++side) {
                    const float top = std::max(c.top[l][side] - top0, 0.0f);
                    const float bottom = std::min(c.bottom[l][side] - top0, height);
                    if (!(top < bottom))
                        continue;
                    const int from = int(top), to = std::min(int(std::ceil(bottom)) - 1, size.height() - 1);
                    use(from, to);
                    if (to > from + 1)
                        std::fill(inks.begin() + from + 1, inks.begin() + to, uchar(level));
                    for (int y : {from, to}) {
                        const float rows = std::min(bottom, y + 1.0f) - std::max(top, float(y));
                        inks[size_t(y)] =
                            std::max(inks[size_t(y)], uchar(level * std::min(rows, 1.0f) + 0.5f));
                    }
                }
            }
        }
        const int lineTop = lines.top(column), lineBottom = lines.bottom(column);
        if (lineTop <= lineBottom) {
            use(lineTop, lineBottom);
            const uchar *covered = lines.column(column);
            for (int y = lineTop; y <= lineBottom; ++y) {
                // Without antialiasing a pixel is the pen's or not.
                const uchar ink = antialiased ? covered[y] : (covered[y] >= 128 ? 255 : 0);
                inks[size_t(y)] = std::max(inks[size_t(y)], ink);
            }
            lines.clearColumn(column);
        }
        if (last < first)
            continue;
        uchar *pixel = bits + first * stride + column * qsizetype(sizeof(QRgb));
        for (int y = first; y <= last; ++y, pixel += stride) {
            QRgb &dst = *reinterpret_cast<QRgb *>(pixel);
            const uchar ink = inks[size_t(y)];
            if (ink == 255 && opaque)
                dst = solid; // covers whatever was there
            else if (ink > 0)
                dst = over(shades[ink], dst);
        }
        canvas->written(column, first, last);
    }
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
        float top, bottom;
    };
    std::vector<Column> columns;
    for (int x = shape.firstColumn; x <= shape.lastColumn; ++x) {
        const BandColumn &c = shape.band[size_t(x)];
        Column column{x, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
        for (int l = 0; l < BandColumn::Levels && BandColumn::Coverage[l] >= 0.5f; ++l) {
            for (int side = 0; side < 2; ++side) {
                if (c.top[l][side] <= c.bottom[l][side]) {
                    column.top = std::min(column.top, c.top[l][side]);
                    column.bottom = std::max(column.bottom, c.bottom[l][side]);
                }
            }
        }
        if (column.top <= column.bottom)
            columns.push_back(column);
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

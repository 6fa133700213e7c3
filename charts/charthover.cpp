// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/charthover.h"

#include <QFontMetrics>

#include <cmath>

namespace {
constexpr int Offset = 14; // from the mouse to the box
constexpr int Padding = 4; // inside the box
constexpr double DotRadius = 3.5;
} // namespace

ChartHoverLabel::ChartHoverLabel(QCustomPlot *chart) : QCPLayerable(chart, QStringLiteral("main"))
{
    setVisible(false);
}

void ChartHoverLabel::showAt(const QPointF &pos, double key, const QList<Line> &lines,
                             const QList<Marker> &dots)
{
    shown = true;
    anchor = pos;
    markerKey = key;
    labelLines = lines;
    markers = dots;
    setVisible(true);
    redrawLayer();
}

void ChartHoverLabel::hideLabel()
{
    if (!shown)
        return;
    shown = false;
    setVisible(false);
    redrawLayer();
}

void ChartHoverLabel::redrawLayer()
{
    if (layer())
        layer()->replot();
}

void ChartHoverLabel::applyDefaultAntialiasingHint(QCPPainter *painter) const
{
    painter->setAntialiasing(true);
}

QRect ChartHoverLabel::clipRect() const
{
    return mParentPlot->axisRect()->rect();
}

void ChartHoverLabel::draw(QCPPainter *painter)
{
    if (!shown)
        return;
    const QRect area = clipRect();
    QCPAxis *keyAxis = mParentPlot->xAxis;
    QCPAxis *valueAxis = mParentPlot->yAxis;

    // The record's time and its values on the curves.
    const double x = keyAxis->coordToPixel(markerKey);
    if (std::isfinite(x) && x >= area.left() && x <= area.right()) {
        painter->setPen(QPen(QColor(0, 0, 0, 110), 1, Qt::DashLine));
        painter->drawLine(QLineF(x, area.top(), x, area.bottom()));
        for (const Marker &m : markers) {
            const double y = valueAxis->coordToPixel(m.value);
            if (!std::isfinite(y) || y < area.top() || y > area.bottom())
                continue;
            painter->setPen(QPen(Qt::white, 1.5));
            painter->setBrush(m.colour);
            painter->drawEllipse(QPointF(x, y), DotRadius, DotRadius);
        }
    }

    // The box, beside the mouse and inside the plot area.
    const QFontMetrics metrics(mParentPlot->font());
    int width = 0;
    for (const Line &line : labelLines)
        width = std::max(width, metrics.horizontalAdvance(line.text));
    const QSizeF size(width + 2 * Padding, labelLines.size() * metrics.height() + 2 * Padding);
    QPointF corner(anchor.x() + Offset, anchor.y() + Offset);
    if (corner.x() + size.width() > area.right())
        corner.setX(anchor.x() - Offset - size.width());
    if (corner.y() + size.height() > area.bottom())
        corner.setY(anchor.y() - Offset - size.height());
    corner.setX(std::max<double>(corner.x(), area.left()));
    corner.setY(std::max<double>(corner.y(), area.top()));
    const QRectF box(corner, size);
    painter->setPen(QPen(QColor(0, 0, 0, 80), 1));
    painter->setBrush(QColor(255, 255, 255, 225));
    painter->drawRect(box);
    painter->setFont(mParentPlot->font());
    double y = box.top() + Padding + metrics.ascent();
    for (const Line &line : labelLines) {
        painter->setPen(line.colour);
        painter->drawText(QPointF(box.left() + Padding, y), line.text);
        y += metrics.height();
    }
}

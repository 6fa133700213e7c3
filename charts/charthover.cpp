// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/charthover.h"

#include <QFontMetrics>

#include <cmath>

namespace {
constexpr int Padding = 4; // inside the box
constexpr double DotRadius = 3.5;
} // namespace

ChartHoverLabel::ChartHoverLabel(QCustomPlot *chart) : QCPLayerable(chart, QStringLiteral("main"))
{
    setVisible(false);
}

QSizeF ChartHoverLabel::boxSize(const QList<Line> &lines) const
{
    const QFontMetrics metrics(mParentPlot->font());
    int width = 0;
    for (const Line &line : lines)
        width = std::max(width, metrics.horizontalAdvance(line.text));
    return QSizeF(width + 2 * Padding, lines.size() * metrics.height() + 2 * Padding);
}

void ChartHoverLabel::show(double key, const QList<Line> &lines, const QList<Marker> &dots, const QRectF &box)
{
    shown = true;
    markerKey = key;
    labelLines = lines;
    markers = dots;
    labelBox = box;
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

    // The cursor line at the record's time and its values on the curves.
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

    painter->setPen(QPen(QColor(0, 0, 0, 80), 1));
    painter->setBrush(QColor(255, 255, 255, 225));
    painter->drawRect(labelBox);
    const QFontMetrics metrics(mParentPlot->font());
    painter->setFont(mParentPlot->font());
    double y = labelBox.top() + Padding + metrics.ascent();
    for (const Line &line : labelLines) {
        painter->setPen(line.colour);
        painter->drawText(QPointF(labelBox.left() + Padding, y), line.text);
        y += metrics.height();
    }
}

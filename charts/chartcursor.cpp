// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartcursor.h"

#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/valuefit.h"
#include "data/csvnumber.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Between the box and the plot area's edge, and between the box and a curve it is placed beside.
constexpr double Inset = 3;
} // namespace

QRectF placeBesideLine(const QRectF &area, double x, const QSizeF &size, double gap,
                       const std::array<QVector<QCPRange>, 2> &curves)
{
    const double topmost = area.top() + Inset;
    const double lowest = std::max(topmost, area.bottom() - Inset - size.height());
    QRectF best;
    double bestCost = std::numeric_limits<double>::infinity();
    for (int side = 0; side < 2; ++side) {
        double left = side == 0 ? x + gap : x - gap - size.width();
        // A box that does not fit beside the line is pushed into the area, over the line.
        const bool fits = left >= area.left() && left + size.width() <= area.right();
        left = std::clamp(left, area.left(), std::max(area.left(), area.right() - size.width()));
        QVector<double> tops{topmost, lowest};
        for (const QCPRange &curve : curves[size_t(side)]) {
            tops << curve.upper + Inset << curve.lower - Inset - size.height();
        }
        for (double top : tops) {
            top = std::clamp(top, topmost, lowest);
            double covered = 0;
            for (const QCPRange &curve : curves[size_t(side)]) {
                covered +=
                    std::max(0.0, std::min(top + size.height(), curve.upper) - std::max(top, curve.lower));
            }
            const double cost = covered + (fits ? 0 : area.height() * 16);
            if (cost < bestCost) {
                bestCost = cost;
                best = QRectF(QPointF(left, top), size);
            }
        }
    }
    return best;
}

ChartCursor::ChartCursor(ChartFeeder *feeder, QObject *parent) : QObject(parent), feeder(feeder)
{
    for (int chart = 0; chart < 2; ++chart)
        labels[size_t(chart)] = new ChartHoverLabel(feeder->chart(chart));
}

ChartCursor::Look ChartCursor::lookAt(qint64 record) const
{
    Look look;
    look.record = record;
    look.generation = feeder->data().generation();
    for (int sensor = 1; sensor <= MaxSensors; ++sensor)
        look.sensors |= feeder->isSensorShown(sensor) ? 1u << sensor : 0u;
    for (int chart = 0; chart < 2; ++chart) {
        const QCustomPlot *c = feeder->chart(chart);
        look.keys[size_t(chart)] = c->xAxis->range();
        look.values[size_t(chart)] = c->yAxis->range();
        look.areas[size_t(chart)] = c->axisRect()->rect();
    }
    return look;
}

void ChartCursor::showNear(double time)
{
    const qint64 record = feeder->data().nearestRecord(time);
    if (record < 0) {
        hide();
        return;
    }
    const Look look = lookAt(record);
    if (shown && look == shownLook)
        return;
    for (int chart = 0; chart < 2; ++chart)
        showOn(chart, record);
    shown = true;
    shownLook = look;
}

void ChartCursor::hide()
{
    shown = false;
    for (ChartHoverLabel *label : labels)
        label->hideLabel();
}

void ChartCursor::showOn(int chart, qint64 record)
{
    QCustomPlot *c = feeder->chart(chart);
    const ChartData &data = feeder->data();
    const double time = data.times()[int(record)];
    const QString unit = chart == 0 ? QStringLiteral("W/m2") : QStringLiteral("C");
    QList<ChartHoverLabel::Line> lines{{tr("t = %1 s").arg(shownNumber(time, 3)), QColor(Qt::black)}};
    QList<ChartHoverLabel::Marker> markers;
    QList<int> channels;
    QList<double> halfPens;
    for (int sensor = 1; sensor <= data.channelsInUse() / 2; ++sensor) {
        if (!feeder->isSensorShown(sensor))
            continue;
        const int channel = 2 * (sensor - 1) + chart;
        const QPen pen = c->graph(sensor - 1)->pen();
        const double value = data.values(channel).value(int(record), qQNaN());
        lines.append({tr("Sensor %1: %2 %3").arg(sensor).arg(value, 0, 'g', 6).arg(unit), pen.color()});
        markers.append({value, pen.color()});
        channels << channel;
        halfPens << std::max(1.0, pen.widthF()) / 2;
    }

    ChartHoverLabel *label = labels[size_t(chart)];
    const QSizeF size = label->boxSize(lines);
    const QRectF area = c->axisRect()->rect();
    const double x = c->xAxis->coordToPixel(time);
    // Where the shown curves are drawn beside the line, on the right and on the left.
    std::array<QVector<QCPRange>, 2> curves;
    for (int side = 0; side < 2; ++side) {
        const double from = side == 0 ? x + Gap : x - Gap - size.width();
        const QCPRange keys(c->xAxis->pixelToCoord(from), c->xAxis->pixelToCoord(from + size.width()));
        for (int i = 0; i < channels.size(); ++i) {
            QCPRange extent;
            if (!curveExtent(data, channels[i], keys, &extent))
                continue;
            const double a = c->yAxis->coordToPixel(extent.upper), b = c->yAxis->coordToPixel(extent.lower);
            const double pad = halfPens[i] + 1;
            QCPRange onChart;
            onChart.lower = std::max(std::min(a, b) - pad, area.top());
            onChart.upper = std::min(std::max(a, b) + pad, area.bottom());
            if (onChart.lower <= onChart.upper) // false also for NaN: drawn outside the area
                curves[size_t(side)] << onChart;
        }
    }
    label->show(time, lines, markers, placeBesideLine(area, x, size, Gap, curves));
}

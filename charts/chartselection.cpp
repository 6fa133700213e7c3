// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartselection.h"

#include "charts/chartfeeder.h"

#include <QMouseEvent>

namespace {
// As for panning: a press becomes a drag once the mouse has moved this far (pixels).
constexpr int DragThreshold = 3;
} // namespace

ChartSelection::ChartSelection(ChartFeeder *feeder, QObject *parent) : QObject(parent), feeder(feeder)
{
    for (int i = 0; i < 2; ++i) {
        QCustomPlot *chart = feeder->chart(i);
        auto *band = new QCPItemRect(chart);
        // Behind the grid and the curves, so that it tints the stretch without hiding anything;
        // that layer is drawn with the axes, so a change of the band redraws the chart whole.
        band->setLayer(QStringLiteral("background"));
        band->setClipToAxisRect(true);
        band->setSelectable(false);
        band->setPen(Qt::NoPen);
        band->setBrush(QColor(0, 120, 215, 48));
        band->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
        band->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
        band->setVisible(false);
        bands[size_t(i)] = band;
        chart->installEventFilter(this);
    }
    // A stretch of a run that was reset is no stretch of the run there is now.
    connect(feeder, &ChartFeeder::cleared, this, &ChartSelection::clear);
}

int ChartSelection::chartIndex(QObject *object) const
{
    for (int i = 0; i < 2; ++i) {
        if (object == feeder->chart(i))
            return i;
    }
    return -1;
}

void ChartSelection::select(double from, double to)
{
    active = true;
    selected = QCPRange(std::min(from, to), std::max(from, to));
    show();
}

void ChartSelection::clear()
{
    if (!active)
        return;
    active = false;
    show();
}

void ChartSelection::mirror(ChartSelection *a, ChartSelection *b)
{
    for (auto [from, to] : {std::pair{a, b}, std::pair{b, a}}) {
        connect(from, &ChartSelection::changed, to, [from = from, to = to] {
            if (from->isActive() && (!to->isActive() || to->range() != from->range()))
                to->select(from->range().lower, from->range().upper);
            else if (!from->isActive())
                to->clear();
        });
    }
    if (a->isActive())
        b->select(a->range().lower, a->range().upper);
}

void ChartSelection::show()
{
    for (QCPItemRect *band : bands) {
        band->topLeft->setCoords(selected.lower, 0);
        band->bottomRight->setCoords(selected.upper, 1);
        band->setVisible(active);
    }
    feeder->redraw(true);
    emit changed();
}

bool ChartSelection::eventFilter(QObject *watched, QEvent *event)
{
    const int index = chartIndex(watched);
    if (index < 0)
        return false;
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto *mouse = static_cast<QMouseEvent *>(event);
    QCustomPlot *chart = feeder->chart(index);
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() != Qt::LeftButton || !mouse->modifiers().testFlag(Qt::ShiftModifier) ||
            !chart->axisRect()->rect().contains(mouse->pos()))
            return false;
        dragChart = index;
        pressedAt = mouse->pos();
        anchor = chart->xAxis->pixelToCoord(mouse->pos().x());
        dragged = false;
        return true;
    }
    if (dragChart != index)
        return false;
    // Within the plot area: a drag past its edge selects up to the edge.
    const QRect area = chart->axisRect()->rect();
    const int x = std::clamp(mouse->pos().x(), area.left(), area.right());
    if (type == QEvent::MouseMove) {
        if (!dragged && (mouse->pos() - pressedAt).manhattanLength() < DragThreshold)
            return true;
        dragged = true;
        select(anchor, chart->xAxis->pixelToCoord(x));
        return true;
    }
    if (mouse->button() != Qt::LeftButton)
        return true;
    dragChart = -1;
    if (!dragged)
        clear(); // a Shift-click
    return true;
}

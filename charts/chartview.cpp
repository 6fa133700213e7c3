// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartview.h"

#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/chartimage.h"

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>

namespace {
// A press becomes a drag once the mouse has moved this far (pixels), so that a click or a
// double-click never moves the view.
constexpr int DragThreshold = 3;
} // namespace

ChartViewController::ChartViewController(ChartFeeder *feeder, QWidget *window)
    : QObject(window), feeder(feeder), window(window)
{
    followRun = new QAction(tr("Follow the run"), this);
    followRun->setObjectName(QStringLiteral("actionFollowRun"));
    connect(followRun, &QAction::triggered, this, &ChartViewController::follow);
    saveImage = new QAction(tr("Save Image..."), this);
    saveImage->setObjectName(QStringLiteral("actionSaveImage"));
    connect(saveImage, &QAction::triggered, this, &ChartViewController::askAndSaveImage);

    for (int i = 0; i < 2; ++i) {
        QCustomPlot *c = chart(i);
        c->installEventFilter(this);
        c->setMouseTracking(true);
        c->setContextMenuPolicy(Qt::ActionsContextMenu);
        c->addAction(followRun);
        c->addAction(saveImage);
        labels[size_t(i)] = new ChartHoverLabel(c);
        // The charts share their time range, whoever changes it.
        QCustomPlot *other = chart(1 - i);
        connect(c->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), other,
                [other](const QCPRange &range) {
                    if (other->xAxis->range() != range)
                        other->xAxis->setRange(range);
                });
    }
}

void ChartViewController::addMenuAction(QAction *action)
{
    for (int i = 0; i < 2; ++i)
        chart(i)->addAction(action);
}

QCustomPlot *ChartViewController::chart(int index) const
{
    return feeder->chart(index);
}

int ChartViewController::chartIndex(QObject *object) const
{
    for (int i = 0; i < 2; ++i) {
        if (object == chart(i))
            return i;
    }
    return -1;
}

bool ChartViewController::eventFilter(QObject *watched, QEvent *event)
{
    const int index = chartIndex(watched);
    if (index < 0)
        return false;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint delta = wheel->angleDelta();
        const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
        if (notches != 0)
            zoom(index, wheel->position(), notches, wheel->modifiers().testFlag(Qt::ControlModifier));
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        drag = Drag();
        drag.chart = index;
        drag.start = mouse->pos();
        drag.valueAxis = mouse->modifiers().testFlag(Qt::ControlModifier);
        drag.startRange = drag.valueAxis ? chart(index)->yAxis->range() : chart(index)->xAxis->range();
        return true;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (drag.chart >= 0 && mouse->buttons().testFlag(Qt::LeftButton)) {
            dragTo(mouse->pos());
            return true;
        }
        hover(index, mouse->localPos());
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            return false;
        drag = Drag();
        return true;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            return false;
        follow();
        return true;
    case QEvent::Leave:
        labels[size_t(index)]->hideLabel();
        return false;
    default:
        return false;
    }
}

void ChartViewController::viewChanged()
{
    feeder->setFollowing(false);
    feeder->redraw();
}

void ChartViewController::follow()
{
    feeder->setFollowing(true);
    feeder->redraw();
}

void ChartViewController::showKeys(const QCPRange &keys)
{
    for (int i = 0; i < 2; ++i)
        chart(i)->xAxis->setRange(keys);
}

void ChartViewController::zoom(int index, const QPointF &pos, double notches, bool valueAxis)
{
    QCPAxis *axis = valueAxis ? chart(index)->yAxis : chart(index)->xAxis;
    const double centre = axis->pixelToCoord(valueAxis ? pos.y() : pos.x());
    const double factor = std::pow(ZoomPerNotch, notches);
    const QCPRange r = axis->range();
    const QCPRange zoomed =
        drawableRange(centre + (r.lower - centre) * factor, centre + (r.upper - centre) * factor);
    if (valueAxis)
        axis->setRange(zoomed);
    else
        showKeys(zoomed);
    hideHover();
    viewChanged();
}

void ChartViewController::dragTo(const QPoint &pos)
{
    const QPoint moved = pos - drag.start;
    if (!drag.moved && moved.manhattanLength() < DragThreshold)
        return;
    drag.moved = true;
    QCustomPlot *c = chart(drag.chart);
    const QRect area = c->axisRect()->rect();
    const QCPRange r = drag.startRange;
    if (drag.valueAxis) {
        // Pixels grow downwards, values upwards: the curves follow the mouse.
        const double shift = moved.y() * r.size() / std::max(1, area.height());
        c->yAxis->setRange(drawableRange(r.lower + shift, r.upper + shift));
    } else {
        const double shift = -moved.x() * r.size() / std::max(1, area.width());
        showKeys(drawableRange(r.lower + shift, r.upper + shift));
    }
    hideHover();
    viewChanged();
}

void ChartViewController::hover(int index, const QPointF &pos)
{
    QCustomPlot *c = chart(index);
    ChartHoverLabel *label = labels[size_t(index)];
    const ChartData &data = feeder->data();
    const qint64 record = data.nearestRecord(c->xAxis->pixelToCoord(pos.x()));
    if (!c->axisRect()->rect().contains(pos.toPoint()) || record < 0) {
        label->hideLabel();
        return;
    }
    const double time = data.times()[int(record)];
    const QString unit = index == 0 ? QStringLiteral("W/m2") : QStringLiteral("C");
    QList<ChartHoverLabel::Line> lines{{tr("t = %1 s").arg(time, 0, 'f', 3), QColor(Qt::black)}};
    QList<ChartHoverLabel::Marker> markers;
    for (int sensor = 1; sensor <= data.channelsInUse() / 2; ++sensor) {
        if (!feeder->isSensorShown(sensor))
            continue;
        const QColor colour = c->graph(sensor - 1)->pen().color();
        const double value = data.values(2 * (sensor - 1) + index).value(int(record), qQNaN());
        lines.append({tr("Sensor %1: %2 %3").arg(sensor).arg(value, 0, 'g', 6).arg(unit), colour});
        markers.append({value, colour});
    }
    label->showAt(pos, time, lines, markers);
}

void ChartViewController::hideHover()
{
    for (ChartHoverLabel *label : labels)
        label->hideLabel();
}

void ChartViewController::askAndSaveImage()
{
    hideHover();
    const QString name = QFileDialog::getSaveFileName(
        window, tr("Save Image"), saveProposal(QStringLiteral("charts.png")), tr("Images (*.png *.pdf)"));
    if (name.isEmpty())
        return;
    QString error;
    if (!saveChartsImage({chart(0), chart(1)}, name, &error)) {
        QMessageBox::warning(window, tr("Save Error"),
                             tr("The image could not be saved to %1.\n%2").arg(name, error));
    }
}

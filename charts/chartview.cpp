// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartview.h"

#include "charts/chartcursor.h"
#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/imagesizemenu.h"
#include "charts/timeaxisticker.h"
#include "charts/valuefit.h"

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QMenu>
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
    : QObject(window), feeder(feeder), window(window), valueCursor(new ChartCursor(feeder, this))
{
    followRun = new QAction(tr("Follow the run"), this);
    followRun->setObjectName(QStringLiteral("actionFollowRun"));
    connect(followRun, &QAction::triggered, this, &ChartViewController::follow);
    saveImage = new QAction(tr("Save Image..."), this);
    saveImage->setObjectName(QStringLiteral("actionSaveImage"));
    connect(saveImage, &QAction::triggered, this, &ChartViewController::askAndSaveImage);
    imageSize = new ImageSizeMenu(window);
    addTimeAxisMenu();
    valueCursor->setTimeFormat([this] { return timeFormat(); });
    // The time axis is written in the chosen style, in every window of the program at once.
    const QSharedPointer<QCPAxisTicker> ticker(new TimeAxisTicker([this] { return timeFormat(); }));

    for (int i = 0; i < 2; ++i) {
        QCustomPlot *c = chart(i);
        c->installEventFilter(this);
        c->setMouseTracking(true);
        c->setContextMenuPolicy(Qt::ActionsContextMenu);
        c->addAction(followRun);
        c->addAction(saveImage);
        c->addAction(imageSize->action());
        c->addAction(timeAxis);
        c->xAxis->setTicker(ticker);
        // The charts share their time range, whoever changes it.
        QCustomPlot *other = chart(1 - i);
        connect(c->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), other,
                [other](const QCPRange &range) {
                    if (other->xAxis->range() != range)
                        other->xAxis->setRange(range);
                });
    }
    // Curves shown or hidden while looking at a part: the value axes fit what is shown now.
    connect(feeder, &ChartFeeder::shownSensorsChanged, this, [this] {
        valueCursor->hide();
        if (!this->feeder->isFollowing())
            fitValues();
    });
    connect(feeder, &ChartFeeder::redrawDue, this, &ChartViewController::followHover);
    // Nothing of a run that was reset stays shown.
    connect(feeder, &ChartFeeder::cleared, this, &ChartViewController::hideHover);
}

ChartHoverLabel *ChartViewController::hoverLabel(int chart) const
{
    return valueCursor->label(chart);
}

void ChartViewController::addMenuAction(QAction *action)
{
    added << action;
    for (int i = 0; i < 2; ++i)
        chart(i)->addAction(action);
}

void ChartViewController::takeWindowSettingsOf(const ChartViewController *other)
{
    saveProposal = other->saveProposal;
    imageTitle = other->imageTitle;
    runStart = other->runStart;
    imagePixelRatio = other->imagePixelRatio;
    imageSize->setSize(other->imageSize->size());
    for (QAction *action : other->added)
        addMenuAction(action);
}

void ChartViewController::addTimeAxisMenu()
{
    timeAxis = new QAction(tr("Time Axis"), this);
    timeAxis->setObjectName(QStringLiteral("actionTimeAxis"));
    auto *menu = new QMenu(window);
    timeAxis->setMenu(menu);
    auto *group = new QActionGroup(menu);
    const struct
    {
        TimeStyle style;
        const char *name;
        const char *text;
    } styles[] = {{TimeStyle::Seconds, "actionTimeSeconds", QT_TR_NOOP("Seconds")},
                  {TimeStyle::Hours, "actionTimeHours", QT_TR_NOOP("Hours (h:mm)")},
                  {TimeStyle::DaysHours, "actionTimeDays", QT_TR_NOOP("Days and Hours (d hh:mm)")},
                  {TimeStyle::ClockTime, "actionTimeClock", QT_TR_NOOP("Clock Time of the Run")}};
    for (const auto &s : styles) {
        QAction *action = menu->addAction(tr(s.text));
        action->setObjectName(QLatin1String(s.name));
        action->setCheckable(true);
        action->setData(int(s.style));
        group->addAction(action);
        const TimeStyle style = s.style;
        connect(action, &QAction::triggered, this, [style] { TimeStyleChoice::instance()->setStyle(style); });
    }
    showTimeStyle();
    connect(TimeStyleChoice::instance(), &TimeStyleChoice::changed, this, [this] {
        showTimeStyle();
        hideHover();
        feeder->frameContentChanged();
        feeder->requestRedraw(true);
    });
}

void ChartViewController::showTimeStyle()
{
    for (QAction *action : timeAxis->menu()->actions())
        action->setChecked(action->data().toInt() == int(TimeStyleChoice::instance()->style()));
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
        hideHover();
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
    valuesHeld.fill(false);
    feeder->setFollowing(true);
    feeder->redraw();
}

void ChartViewController::startLooking()
{
    // Value axes held during an earlier look are free again once the charts followed the run
    // (a double-click, "Follow the run", or a reset of the run).
    if (feeder->isFollowing())
        valuesHeld.fill(false);
}

void ChartViewController::holdValues(int index)
{
    startLooking();
    valuesHeld[size_t(index)] = true;
}

void ChartViewController::fitValues()
{
    const ChartData &data = feeder->data();
    for (int index = 0; index < 2; ++index) {
        if (valuesHeld[size_t(index)])
            continue;
        QCustomPlot *c = chart(index);
        QCPRange shown;
        bool any = false;
        for (int sensor = 1; sensor <= data.channelsInUse() / 2; ++sensor) {
            QCPRange extent;
            if (!feeder->isSensorShown(sensor) ||
                !curveExtent(data, 2 * (sensor - 1) + index, c->xAxis->range(), &extent))
                continue;
            if (any)
                shown.expand(extent);
            else
                shown = extent;
            any = true;
        }
        // Nothing in view: the axis stays as it is.
        if (any) {
            const QCPRange fitted = fittedValueRange(shown);
            c->yAxis->setRange(drawableRange(fitted.lower, fitted.upper));
        }
    }
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
    if (valueAxis) {
        holdValues(index);
        axis->setRange(zoomed);
    } else {
        startLooking();
        showKeys(zoomed);
        fitValues();
    }
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
        holdValues(drag.chart);
        c->yAxis->setRange(drawableRange(r.lower + shift, r.upper + shift));
    } else {
        const double shift = -moved.x() * r.size() / std::max(1, area.width());
        startLooking();
        showKeys(drawableRange(r.lower + shift, r.upper + shift));
        fitValues();
    }
    hideHover();
    viewChanged();
}

void ChartViewController::hover(int index, const QPointF &pos)
{
    QCustomPlot *c = chart(index);
    if (!c->axisRect()->rect().contains(pos.toPoint())) {
        hideHover();
        return;
    }
    hovered = {index, pos};
    valueCursor->showNear(c->xAxis->pixelToCoord(pos.x()));
}

void ChartViewController::hideHover()
{
    hovered = Hover();
    valueCursor->hide();
}

void ChartViewController::followHover()
{
    // Shown again only when the record or the charts changed (ChartCursor compares).
    if (hovered.chart >= 0 && drag.chart < 0)
        hover(hovered.chart, hovered.pos);
}

ChartsPicture ChartViewController::picture() const
{
    ChartsPicture picture;
    picture.title = chartsTitleText(imageTitle());
    picture.timeLabel = timeFormat().heading();
    for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
        if (feeder->isSensorShown(sensor))
            picture.legend.append({tr("Sensor %1").arg(sensor), chart(0)->graph(sensor - 1)->pen().color()});
    }
    picture.pixelRatio = imagePixelRatio > 0 ? imagePixelRatio : chart(0)->devicePixelRatioF();
    picture.canvas = imageSize->size();
    return picture;
}

void ChartViewController::askAndSaveImage()
{
    hideHover();
    const QString name = QFileDialog::getSaveFileName(
        window, tr("Save Image"), saveProposal(QStringLiteral("charts.png")), tr("Images (*.png *.pdf)"));
    if (name.isEmpty())
        return;
    QString error;
    if (!saveChartsImage({chart(0), chart(1)}, picture(), name, &error)) {
        QMessageBox::warning(window, tr("Save Error"),
                             tr("The image could not be saved to %1.\n%2").arg(name, error));
    }
}

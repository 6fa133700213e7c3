// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/chartimage.h"
#include "charts/runtimetext.h"

#include <QObject>
#include <QPoint>
#include <qcustomplot.h>

#include <array>
#include <functional>

class ChartCursor;
class ChartFeeder;
class ChartHoverLabel;
class ImageSizeMenu;
class QAction;
class QWidget;

// How the operator looks at part of a run on the two charts of a ChartFeeder, as an event filter
// on the charts: the mouse wheel zooms the time axis around the mouse (with Ctrl the value axis of
// that chart), dragging pans (with Ctrl the value axis), a double-click goes back to following the
// whole run. Both charts always show the same times. Once the time axis was zoomed or panned, each
// value axis fits the shown curves in view, unless the operator zoomed or panned that value axis
// (with Ctrl): then it stays there until the charts follow the whole run again. Hovering shows a
// cursor at the nearest record on both charts, with the values there (ChartCursor). The charts'
// context menu holds "Follow the run" and "Save Image...". Anything window-specific (where the
// image dialog starts, the images' title) comes in through setters.
class ChartViewController : public QObject
{
    Q_OBJECT

public:
    // One wheel notch shows this share of the range (zooming in; the reverse zooms out).
    static constexpr double ZoomPerNotch = 0.8;

    // window: the parent of the file dialog and of message boxes.
    ChartViewController(ChartFeeder *feeder, QWidget *window);

    // Where the image dialog starts for a proposed file name (default: the name as it is); the
    // windows propose the folder of the last successful data save.
    void setSaveProposal(std::function<QString(const QString &)> proposal)
    {
        saveProposal = std::move(proposal);
    }

    // What saved images show in their title line (default: no title line).
    void setImageTitle(std::function<ChartsTitle()> title) { imageTitle = std::move(title); }
    // The wall-clock time of the run's time 0 (invalid while unknown), for the time axis, the
    // cursor and whatever else shows the run's times as clock times.
    void setRunStart(std::function<QDateTime()> start) { runStart = std::move(start); }
    // How the run's times are shown now: the style every window shows, with this run's start.
    RunTimeFormat timeFormat() const { return {TimeStyleChoice::instance()->style(), runStart()}; }
    // Takes the window-specific settings of another view of the same run (where images go, their
    // title, the run's start) and the window's own menu actions.
    void takeWindowSettingsOf(const ChartViewController *other);
    // Pixels per chart pixel of saved PNGs; 0 (the default): the device pixel ratio of the screen the
    // charts are on, so that a 192-dpi screen gets a 192-dpi picture.
    void setImagePixelRatio(double ratio) { imagePixelRatio = ratio; }
    // The picture "Save Image..." saves: title, legend of the shown sensors, pixel ratio.
    ChartsPicture picture() const;
    // Adds a window's own action to both charts' context menus, after the charts' own.
    void addMenuAction(QAction *action);
    QList<QAction *> windowActions() const { return added; }

    QAction *followAction() const { return followRun; }
    QAction *saveImageAction() const { return saveImage; }
    ImageSizeMenu *imageSizeMenu() const { return imageSize; }
    // "Time Axis": seconds, hours, days and hours, clock time (object names actionTimeSeconds,
    // actionTimeHours, actionTimeDays, actionTimeClock).
    QAction *timeAxisAction() const { return timeAxis; }
    ChartCursor *cursor() const { return valueCursor; }
    ChartHoverLabel *hoverLabel(int chart) const;
    // Whether the operator's own zoom or pan of a chart's value axis holds it where it is.
    bool holdsValueAxis(int chart) const { return valuesHeld[size_t(chart)]; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int chartIndex(QObject *object) const;
    QCustomPlot *chart(int index) const;
    void follow();
    void showKeys(const QCPRange &keys);
    void startLooking();
    void holdValues(int index);
    void fitValues();
    void zoom(int index, const QPointF &pos, double notches, bool valueAxis);
    void dragTo(const QPoint &pos);
    void hover(int index, const QPointF &pos);
    void hideHover();
    // While the mouse rests on a chart, the run goes on under it: the cursor shows the record
    // nearest to the mouse as the charts are redrawn.
    void followHover();
    void askAndSaveImage();
    void viewChanged();
    void addTimeAxisMenu();
    void showTimeStyle();

    ChartFeeder *feeder;
    QWidget *window;
    QAction *followRun;
    QAction *saveImage;
    ImageSizeMenu *imageSize;
    QAction *timeAxis = nullptr;
    QList<QAction *> added;
    std::function<QString(const QString &)> saveProposal = [](const QString &name) { return name; };
    std::function<ChartsTitle()> imageTitle = [] { return ChartsTitle(); };
    std::function<QDateTime()> runStart = [] { return QDateTime(); };
    double imagePixelRatio = 0;
    ChartCursor *valueCursor;
    std::array<bool, 2> valuesHeld{};
    // Where the mouse rests on a chart (chart -1: on none).
    struct Hover
    {
        int chart = -1;
        QPointF pos;
    } hovered;
    struct Drag
    {
        int chart = -1;
        QPoint start;
        QCPRange startRange;
        bool valueAxis = false;
        bool moved = false;
    } drag;
};

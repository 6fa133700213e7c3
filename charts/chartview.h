// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPoint>
#include <qcustomplot.h>

#include <array>
#include <functional>

class ChartFeeder;
class ChartHoverLabel;
class QAction;
class QWidget;

// How the operator looks at part of a run on the two charts of a ChartFeeder, as an event filter
// on the charts: the mouse wheel zooms the time axis around the mouse (with Ctrl the value axis of
// that chart), dragging pans (with Ctrl the value axis), a double-click goes back to following the
// whole run. Both charts always show the same times. Hovering shows the time and the shown
// sensors' values of the nearest record. The charts' context menu holds "Follow the run" and
// "Save Image...".
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

    // Adds a window's own action to both charts' context menus, after the charts' own.
    void addMenuAction(QAction *action);

    QAction *followAction() const { return followRun; }
    QAction *saveImageAction() const { return saveImage; }
    ChartHoverLabel *hoverLabel(int chart) const { return labels[size_t(chart)]; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int chartIndex(QObject *object) const;
    QCustomPlot *chart(int index) const;
    void follow();
    void showKeys(const QCPRange &keys);
    void zoom(int index, const QPointF &pos, double notches, bool valueAxis);
    void dragTo(const QPoint &pos);
    void hover(int index, const QPointF &pos);
    void hideHover();
    void askAndSaveImage();
    void viewChanged();

    ChartFeeder *feeder;
    QWidget *window;
    QAction *followRun;
    QAction *saveImage;
    std::function<QString(const QString &)> saveProposal = [](const QString &name) { return name; };
    std::array<ChartHoverLabel *, 2> labels{};
    struct Drag
    {
        int chart = -1;
        QPoint start;
        QCPRange startRange;
        bool valueAxis = false;
        bool moved = false;
    } drag;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <qcustomplot.h>

#include <array>

class ChartFeeder;

// A stretch of time chosen on the two charts of a ChartFeeder with the mouse: Shift-drag marks it
// on both charts (a translucent band behind the curves), a Shift-click without dragging clears
// it. An event filter on the charts; made after the ChartViewController, it sees the mouse
// first, so that Shift-drag selects instead of panning.
class ChartSelection : public QObject
{
    Q_OBJECT

public:
    explicit ChartSelection(ChartFeeder *feeder, QObject *parent = nullptr);

    bool isActive() const { return active; }
    // The times marked, lower first (meaningful while active).
    QCPRange range() const { return selected; }
    void select(double from, double to);
    void clear();
    // Keeps a and b the same selection (the same run's charts in two windows): each takes what
    // is made on the other.
    static void mirror(ChartSelection *a, ChartSelection *b);

signals:
    // Whenever the selection is made, moved or cleared (also during a drag).
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int chartIndex(QObject *object) const;
    void show();

    ChartFeeder *feeder;
    std::array<QCPItemRect *, 2> bands{};
    bool active = false;
    QCPRange selected;
    // A Shift-press on a chart: where (in pixels and in time) and whether the mouse has moved.
    int dragChart = -1;
    QPoint pressedAt;
    double anchor = 0;
    bool dragged = false;
};

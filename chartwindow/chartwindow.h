// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class ChartFeeder;
class ChartMarksView;
class ChartSelection;
class ChartViewController;
class QAction;
class QCustomPlot;
class RunMarks;

// A run's two charts stacked in a resizable window of their own, as large as the screen allows,
// beside the window that shows the run: they follow the run live, drawn from that window's
// summaries of its series (never a copy of them), and offer all the charts do there (zoom, pan,
// hover, the marks, a selection shared with that window's charts, Save Image, the time axis, and
// the window's own menu actions). Their plot areas start at the same x.
class ChartWindow : public QWidget
{
    Q_OBJECT

public:
    // What the charts of the window showing the run are made of.
    struct Source
    {
        ChartFeeder *feeder = nullptr;
        ChartViewController *view = nullptr;
        RunMarks *marks = nullptr; // none: no marks shown
        bool marksEditable = false;
        ChartSelection *selection = nullptr; // none: a selection of its own
    };

    // Owned by owner (the window showing the run), and closed with it.
    ChartWindow(const Source &source, QWidget *owner);

    ChartFeeder *chartFeeder() const { return feeder; }
    ChartViewController *view() const { return controller; }
    ChartSelection *selection() const { return chosen; }
    ChartMarksView *marksView() const { return marks; }
    QCustomPlot *chart(int index) const; // 0 heat flux, 1 temperature

private:
    ChartFeeder *feeder = nullptr;
    ChartViewController *controller = nullptr;
    ChartSelection *chosen = nullptr;
    ChartMarksView *marks = nullptr;
};

// Offers the window in a window's chart context menu ("Charts in a Window"): made when first
// asked for and raised when asked again; closing it deletes it. Returns the menu's action.
QAction *offerChartWindow(QWidget *window, const ChartWindow::Source &source);

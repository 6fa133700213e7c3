// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/runtimetext.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <array>
#include <functional>

class ChartFeeder;
class ChartMarks;
class QCustomPlot;
class QLineEdit;
class RunMarks;

// A run's marks on the two charts of a ChartFeeder (ChartMarks on each), redrawn when they
// change, and what the operator does with them there, as an event filter on the charts:
// hovering a mark's line or label shows its note and time; a double-click on an operator mark's
// label opens its note for editing in place (Enter keeps it, Escape or an empty note does not),
// the run going on meanwhile. A double-click anywhere else is left to the charts' own handling.
class ChartMarksView : public QObject
{
    Q_OBJECT

public:
    // Installed on the charts after their ChartViewController, so that it sees events first.
    ChartMarksView(ChartFeeder *feeder, RunMarks *marks, QObject *parent = nullptr);

    ChartMarks *chartMarks(int chart) const { return layers[size_t(chart)]; }
    // Whether a double-click on a mark's label opens its note for editing (by default it does).
    // A run read back from its file shows its marks read-only: an edit there would be kept nowhere.
    void setEditable(bool on) { editable = on; }
    // Opens the note of an operator mark (its entry) for editing over its label on a chart.
    void editNote(int chart, int entry);
    // The editor while one is open.
    QLineEdit *editor() const { return openEditor.data(); }
    // How the marks' times are written in their tooltips (default: in seconds).
    void setTimeFormat(std::function<RunTimeFormat()> format) { timeFormat = std::move(format); }
    // The tooltip text for an entry: its note, kind and time.
    QString describe(int entry) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int chartIndex(QObject *object) const;
    void marksChanged();
    void hover(int chart, const QPoint &pos);
    void closeEditor(bool keep);

    ChartFeeder *feeder;
    RunMarks *marks;
    std::array<ChartMarks *, 2> layers{};
    int tipEntry = -1;
    QPointer<QLineEdit> openEditor;
    int editedMark = 0; // the number of the mark being edited
    bool editable = true;
    std::function<RunTimeFormat()> timeFormat = [] { return RunTimeFormat(); };
};

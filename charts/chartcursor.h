// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/runtimetext.h"

#include <QObject>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QVector>
#include <qcustomplot.h>

#include <array>
#include <functional>

class ChartFeeder;
class ChartHoverLabel;

// Where a box of text goes beside a vertical line at x in area (pixels): to the right or the left
// of the line, gap away from it, at the height where it covers the least of the curves near the
// line. curves[0] are the curves' vertical extents (pixels, lower <= upper) within the width the
// box would take on the right, curves[1] on the left. The box stays inside area; it covers the
// line only when it fits on neither side.
QRectF placeBesideLine(const QRectF &area, double x, const QSizeF &size, double gap,
                       const std::array<QVector<QCPRange>, 2> &curves);

// The cursor on both charts of a ChartFeeder: a vertical line at the record nearest to a time on
// both charts, and on each chart a box with the record's time and the values of the curves shown
// there, in their colours, placed beside the line where the curves near it are not. Each chart
// shows its own values so that they stand beside their curves and their unit; the box of one
// chart is as small as its curves need. Showing the cursor redraws only the charts' curve layers,
// and only when something shown would change.
class ChartCursor : public QObject
{
    Q_OBJECT

public:
    // Between the cursor line and the box.
    static constexpr int Gap = 12;

    explicit ChartCursor(ChartFeeder *feeder, QObject *parent = nullptr);

    // Shows the record nearest to time on both charts; hides the cursor if there is none.
    void showNear(double time);
    void hide();
    bool isShown() const { return shown; }
    // How the record's time is written (default: in seconds).
    void setTimeFormat(std::function<RunTimeFormat()> format) { timeFormat = std::move(format); }
    ChartHoverLabel *label(int chart) const { return labels[size_t(chart)]; }

private:
    // What the cursor shows depends on: the record (of this run), the sensors shown and where the
    // charts put it.
    struct Look
    {
        qint64 record = -1;
        quint64 generation = 0;
        unsigned sensors = 0;
        QString time;
        std::array<QCPRange, 2> keys, values;
        std::array<QRect, 2> areas;
        bool operator==(const Look &o) const
        {
            return record == o.record && generation == o.generation && sensors == o.sensors &&
                   time == o.time && keys == o.keys && values == o.values && areas == o.areas;
        }
    };
    Look lookAt(qint64 record) const;
    void showOn(int chart, qint64 record);

    ChartFeeder *feeder;
    std::function<RunTimeFormat()> timeFormat = [] { return RunTimeFormat(); };
    std::array<ChartHoverLabel *, 2> labels{};
    Look shownLook;
    bool shown = false;
};

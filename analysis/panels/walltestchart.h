// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/dynamicmethod.h"
#include "analysis/walltest.h"
#include "pacing/pacer.h"

#include <QVector>
#include <qcustomplot.h>

// The wall test's small chart: R over all records up to each time (m²K/W, against hours of the
// run) and the band criterion B asks it to stay within, R a day earlier +- 5 %, with the dynamic
// method's R now as a line. Drawn from WallTest::history() (a few thousand points whatever the
// run's length) and at most about once a second, however often it is handed the history.
class WallTestChart : public QCustomPlot
{
    Q_OBJECT

public:
    static constexpr int MinRedrawIntervalMs = 1000;

    explicit WallTestChart(QWidget *parent = nullptr);

    // Shows points: at once when the last drawing is old enough, else when it is.
    void showHistory(const QVector<WallTestPoint> &points);
    int pointsShown() const;
    // The dynamic method's R now, as a dashed line across the chart (none: no line).
    void showDynamic(const DynamicResult &result);
    // Draws what was handed over now, however recently it last drew.
    void drawNow() { draw(); }
    // Whether the last history handed over is drawn.
    bool isUpToDate() const { return !hasPending; }

private:
    void draw();
    void drawSoon();

    QVector<WallTestPoint> pending, shown;
    std::optional<double> dynamicR;
    bool hasPending = false;
    Pacer drawing{MinRedrawIntervalMs, [this] { draw(); }};
};

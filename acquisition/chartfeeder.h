// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acquisition/data/recordparser.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>

class QCustomPlot;
class QCPGraph;

// Feeds records to the two live charts (heat flux and temperature, graph k = sensor k + 1 on
// each) without letting the cost of a record grow with the run: points are appended, axes are
// widened from running bounds instead of a scan of all data, and the charts are redrawn at a
// paced rate rather than once per record.
class ChartFeeder : public QObject
{
    Q_OBJECT

public:
    // Redraws are at least this far apart (about 20 per second at most)...
    static constexpr int MinRedrawIntervalMs = 50;
    // ...and a slow redraw is followed by a pause this many times its own length, so that
    // drawing takes a bounded share of the CPU however much data the charts hold.
    static constexpr int RedrawCostFactor = 5;

    ChartFeeder(QCustomPlot *fluxChart, QCustomPlot *temperatureChart, QObject *parent = nullptr);

    // Appends one record's points for sensors 1..sensorCount to their graphs, shown or not.
    void append(int sensorCount, double time, const RecordValues &values);
    // Shows or hides a sensor's two curves (sensor is 1-based). A shown sensor's curves are
    // complete and the axes are widened, never narrowed, to fit them.
    void applySensor(int sensor, bool shown);
    // Empties every graph and puts the four axes back to their starting range.
    void clear();

    // Asks for a redraw of both charts at the paced rate; now=true redraws at once.
    void requestRedraw(bool now = false);

    // How long the last redraw of both charts took, and how many there were.
    double lastRedrawMs() const { return lastDrawMs; }
    quint64 redrawCount() const { return redraws; }
    double totalRedrawMs() const { return totalDrawMs; }
    // Draws both charts immediately (the paced timer calls this).
    void redraw();

    static constexpr double InitialRangeLower = 0;
    static constexpr double InitialRangeUpper = 30;

private:
    struct Bounds
    {
        double keyMin = 0, keyMax = 0, valueMin = 0, valueMax = 0;
        bool keys = false, values = false;
        void add(double key, double value);
    };

    QCPGraph *graph(int chart, int sensor) const; // chart 0 = heat flux, 1 = temperature
    void widenAxes(int chart, int sensor);

    std::array<QCustomPlot *, 2> charts;
    // Running bounds of every point each graph holds: [chart][sensor - 1].
    std::array<std::array<Bounds, MaxSensors>, 2> bounds;
    std::array<bool, MaxSensors> shownSensors{};
    QTimer redrawTimer;
    QElapsedTimer sinceLastDraw;
    double lastDrawMs = 0;
    double totalDrawMs = 0;
    quint64 redraws = 0;
};

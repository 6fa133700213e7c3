// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/chartfeeder.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

void ChartFeeder::Bounds::add(double key, double value)
{
    // Non-finite points draw nothing and must not stretch an axis.
    if (std::isfinite(key)) {
        keyMin = keys ? std::min(keyMin, key) : key;
        keyMax = keys ? std::max(keyMax, key) : key;
        keys = true;
    }
    if (std::isfinite(key) && std::isfinite(value)) {
        valueMin = values ? std::min(valueMin, value) : value;
        valueMax = values ? std::max(valueMax, value) : value;
        values = true;
    }
}

ChartFeeder::ChartFeeder(QCustomPlot *fluxChart, QCustomPlot *temperatureChart, QObject *parent)
    : QObject(parent), charts{fluxChart, temperatureChart}
{
    redrawTimer.setSingleShot(true);
    connect(&redrawTimer, &QTimer::timeout, this, &ChartFeeder::redraw);
    for (QCustomPlot *chart : charts) {
        // Wide pens over dense, noisy data are drawn segment by segment, which is far cheaper
        // than one stroked polyline with joins.
        chart->setPlottingHint(QCP::phFastPolylines, true);
    }
}

QCPGraph *ChartFeeder::graph(int chart, int sensor) const
{
    return charts[size_t(chart)]->graph(sensor - 1);
}

void ChartFeeder::append(int sensorCount, double time, const RecordValues &values)
{
    const int n = std::min(sensorCount, MaxSensors);
    for (int sensor = 1; sensor <= n; ++sensor) {
        for (int chart = 0; chart < 2; ++chart) {
            // Heat flux is channel 2s - 1, temperature channel 2s.
            const double value = values[size_t(2 * (sensor - 1) + chart)];
            graph(chart, sensor)->addData(time, value);
            bounds[size_t(chart)][size_t(sensor - 1)].add(time, value);
        }
    }
}

void ChartFeeder::widenAxes(int chart, int sensor)
{
    const Bounds &b = bounds[size_t(chart)][size_t(sensor - 1)];
    QCPGraph *g = graph(chart, sensor);
    if (b.keys) {
        QCPRange r = g->keyAxis()->range();
        r.expand(QCPRange(b.keyMin, b.keyMax));
        g->keyAxis()->setRange(r);
    }
    if (b.values) {
        QCPRange r = g->valueAxis()->range();
        r.expand(QCPRange(b.valueMin, b.valueMax));
        g->valueAxis()->setRange(r);
    }
}

void ChartFeeder::applySensor(int sensor, bool shown)
{
    if (sensor < 1 || sensor > MaxSensors)
        return;
    shownSensors[size_t(sensor - 1)] = shown;
    for (int chart = 0; chart < 2; ++chart) {
        QCPGraph *g = graph(chart, sensor);
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        g->setLineStyle(shown ? QCPGraph::lsLine : QCPGraph::lsNone);
        if (shown)
            widenAxes(chart, sensor);
    }
}

void ChartFeeder::clear()
{
    for (int chart = 0; chart < 2; ++chart) {
        QCustomPlot *c = charts[size_t(chart)];
        for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
            graph(chart, sensor)->data()->clear();
            bounds[size_t(chart)][size_t(sensor - 1)] = Bounds();
        }
        c->xAxis->setRange(InitialRangeLower, InitialRangeUpper);
        c->yAxis->setRange(InitialRangeLower, InitialRangeUpper);
    }
}

void ChartFeeder::requestRedraw(bool now)
{
    if (now) {
        redraw();
        return;
    }
    if (redrawTimer.isActive())
        return;
    const qint64 gap = std::max<qint64>(MinRedrawIntervalMs, qint64(RedrawCostFactor * lastDrawMs));
    const qint64 since = sinceLastDraw.isValid() ? sinceLastDraw.elapsed() : gap;
    redrawTimer.start(int(std::max<qint64>(0, gap - since)));
}

void ChartFeeder::redraw()
{
    redrawTimer.stop();
    QElapsedTimer cost;
    cost.start();
    for (QCustomPlot *chart : charts)
        chart->replot(QCustomPlot::rpImmediateRefresh);
    lastDrawMs = double(cost.nsecsElapsed()) / 1e6;
    totalDrawMs += lastDrawMs;
    sinceLastDraw.start();
    ++redraws;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>

class QCustomPlot;

// The sensor colours, shared by the readouts, the captions and the chart pens: sensor 1 red,
// 2 green, 3 blue, 4 magenta (sensor is 1-based; others give black).
QColor sensorColour(int sensor);

// Sets up the heat-flux and the temperature chart of a run as every window shows them: one
// EnvelopeGraph per sensor (graph k = sensor k + 1) with the sensor's 2-px pen, the value axes'
// labels and the starting ranges. Then a ChartFeeder feeds them.
void setUpRunCharts(QCustomPlot *fluxChart, QCustomPlot *temperatureChart);

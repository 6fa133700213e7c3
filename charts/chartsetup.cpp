// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartsetup.h"

#include "charts/chartfeeder.h"
#include "charts/envelopegraph.h"

#include <qcustomplot.h>

QColor sensorColour(int sensor)
{
    static const QColor colours[MaxSensors] = {QColor(255, 0, 0), QColor(0, 155, 0), QColor(0, 0, 255),
                                               QColor(255, 0, 255)};
    return sensor >= 1 && sensor <= MaxSensors ? colours[sensor - 1] : QColor(Qt::black);
}

void setUpRunCharts(QCustomPlot *fluxChart, QCustomPlot *temperatureChart)
{
    for (QCustomPlot *chart : {fluxChart, temperatureChart}) {
        for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
            // A graph that draws from the recorded series instead of holding a copy of them.
            new EnvelopeGraph(chart->xAxis, chart->yAxis);
            chart->graph(sensor - 1)->setPen(QPen(QBrush(sensorColour(sensor)), 2));
        }
        chart->xAxis->setRange(ChartFeeder::InitialRangeLower, ChartFeeder::InitialRangeUpper);
        chart->yAxis->setRange(ChartFeeder::InitialRangeLower, ChartFeeder::InitialRangeUpper);
    }
    fluxChart->yAxis->setLabel(QStringLiteral("Heat Flux (W/m2)"));
    temperatureChart->yAxis->setLabel(QStringLiteral("Temperature (C)"));
}

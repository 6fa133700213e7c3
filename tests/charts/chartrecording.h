// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/chartdata.h"

#include <QVector>

// A recording of one sensor (heat flux and temperature) held as the acquisition window holds it,
// with the charts' summaries of it kept up to date as records are added.
struct ChartRecording
{
    QVector<double> times, flux, temperature;
    ChartData data{series()};

    RecordedSeries series()
    {
        RecordedSeries s;
        s.time = &times;
        s.channels[0] = &flux;
        s.channels[1] = &temperature;
        return s;
    }
    void add(double t, double q, double c)
    {
        times.append(t);
        flux.append(q);
        temperature.append(c);
        data.append(1, t, RecordValues{q, c});
    }
};

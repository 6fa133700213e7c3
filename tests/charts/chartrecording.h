// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/chartdata.h"

#include <QVector>
#include <qcustomplot.h>

#include <cmath>

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

// Where a curve is drawn within a time range, worked out plainly from all its records: from the
// lowest to the highest finite value of the records in the range and of the lines (between two
// finite values) crossing its ends. False if there is none.
inline bool plainExtent(const QVector<double> &t, const QVector<double> &v, const QCPRange &keys,
                        QCPRange *extent)
{
    double lo = qInf(), hi = -qInf();
    auto take = [&](double x) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    };
    for (int i = 0; i < t.size(); ++i) {
        if (t[i] >= keys.lower && t[i] <= keys.upper && std::isfinite(v[i]))
            take(v[i]);
        for (double end : {keys.lower, keys.upper}) {
            if (i > 0 && t[i - 1] < end && t[i] > end && std::isfinite(v[i - 1]) && std::isfinite(v[i]))
                take(v[i - 1] + (v[i] - v[i - 1]) * (end - t[i - 1]) / (t[i] - t[i - 1]));
        }
    }
    if (lo <= hi)
        *extent = QCPRange(lo, hi);
    return lo <= hi;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/runstatistics.h"

#include <QPair>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>

// Statistics the plain way, to check the program's against: the finite values of rows
// [first, end), their mean, then their squared deviations. Summed in long double: in double, the
// rounding of a plain sum alone moves the mean of a channel far from zero with little spread
// (sd / mean = 3e-9) enough to change its sd by 1e-10.
inline ChannelStatistics referenceStatistics(const QVector<double> &values, int first, int end)
{
    ChannelStatistics r;
    long double sum = 0;
    r.min = std::numeric_limits<double>::infinity();
    r.max = -r.min;
    for (int i = first; i < end; ++i) {
        if (!std::isfinite(values[i])) {
            ++r.nonFinite;
            continue;
        }
        ++r.samples;
        sum += values[i];
        r.min = std::min(r.min, values[i]);
        r.max = std::max(r.max, values[i]);
    }
    const long double mean = sum / r.samples;
    long double squares = 0;
    for (int i = first; i < end; ++i) {
        if (std::isfinite(values[i]))
            squares += (values[i] - mean) * (values[i] - mean);
    }
    r.mean = double(mean);
    r.sd = double(std::sqrt(squares / (r.samples - 1)));
    return r;
}

// The rows [first, end) whose time lies in [from, to], found one by one.
inline QPair<int, int> referenceRows(const QVector<double> &time, double from, double to)
{
    int first = 0;
    while (first < time.size() && time[first] < from)
        ++first;
    int end = first;
    while (end < time.size() && time[end] <= to)
        ++end;
    return {first, end};
}

// Whether a figure is within 1e-12 of the reference, relative to scale.
inline bool closeToReference(double got, double expected, double scale)
{
    return std::fabs(got - expected) <= 1e-12 * std::fabs(scale);
}

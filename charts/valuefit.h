// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <qcustomplot.h>

class ChartData;

// A value axis fitted to the curves in view, so that a small drift in a long run fills the chart
// once the operator looks at its part of the time axis.

// Share of the curves' height left free above and below them.
constexpr double ValueFitMargin = 0.05;

// Where one curve (a channel of data, 0-based) is drawn within the time range keys: from the
// lowest to the highest finite value of its records in the range, and of its lines where they
// cross the range's ends (the records on either side of an end, when both are finite). Found
// through the summaries, never by a pass over the records. False if it shows nothing there.
bool curveExtent(const ChartData &data, int channel, const QCPRange &keys, QCPRange *extent);

// The value range that shows curves spanning extent: the extent with ValueFitMargin of its height
// free on each side. A flat curve (no height worth showing) is put in the middle of a range of 2,
// or for values beyond 10 of a tenth of the value either way.
QCPRange fittedValueRange(const QCPRange &extent);

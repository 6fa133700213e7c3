// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <qcustomplot.h>

class ChartData;

// A value axis fitted to the curves in view, so that a small drift in a long run fills the chart
// once the operator looks at its part of the time axis; and the value axis that follows the whole
// run, widened in steps.

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

// While the charts follow the run, a value axis shows the starting range widened to take in every
// value with room to spare (at least a 64th of the span inside either end), its ends on a grid of
// a power of two between a 16th and an 8th of the span: a value that keeps rising (a heating
// ramp) moves the end, and has the chart drawn whole, once per step of the grid rather than at
// every new extreme (docs/performance.md), and a curve never runs along the frame. The range
// depends only on the lowest and highest value (finite) and never narrows as they spread, so a
// run shown live and read back later shows the same axes.
QCPRange followedValueRange(const QCPRange &start, double lowest, double highest);

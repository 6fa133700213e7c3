// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acquisition/curvecells.h"

#include <QPolygonF>

#include <vector>

// A painted part of one pixel column of the plot area: rows top to bottom (fractions are partly
// covered rows), and how much of the column's width the pen covers there (strokes near a column's
// edge cover it partly, as antialiased drawing shows them).
struct BandSpan
{
    int column;
    double top, bottom;
    double coverage;
};

// How a curve is painted: where its records lie close together (several to a column, or in
// neighbouring quarter columns) as a band of column spans covering what a pen stroked through
// every record would cover; where they lie apart, as lines to be stroked with the pen itself.
// A column has up to five spans: fully covered, and covered by three quarters, half, a quarter
// and less.
struct CurveShape
{
    std::vector<BandSpan> band;
    std::vector<QPolygonF> lines;
};

// Shapes a curve for a plot area of the given number of pixel columns, drawn with a pen of
// penHalfWidth pixels on each side of the line.
CurveShape shapeCurve(const CurveCells &cells, int columns, double penHalfWidth);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/curvecells.h"

#include <QPolygonF>

#include <vector>

// What the pen covers of one pixel column of the plot area: rows top to bottom (fractions are
// partly covered rows) at five levels of coverage of the column's width: whole, about seven
// eighths, five eighths, three eighths and one eighth (strokes near a column's edge cover it
// partly, as antialiased drawing shows them). Each level has a run from the column's left half
// and one from its right half (they are one run when they meet); top > bottom is no run.
struct BandColumn
{
    static constexpr int Levels = 5;
    static constexpr float Coverage[Levels] = {1.0f, 0.875f, 0.625f, 0.375f, 0.125f};
    float top[Levels][2];
    float bottom[Levels][2];

    // Makes every run empty: the column covers nothing.
    void clear();
};

// How a curve is painted: where its records lie close together (in neighbouring quarter columns)
// as a band covering what a pen stroked through every record would cover; where they lie apart,
// as lines (what the pen covers along them: LineCoverage).
struct CurveShape
{
    std::vector<BandColumn> band;         // one per pixel column of the plot area
    int firstColumn = 0, lastColumn = -1; // the columns the band reaches
    std::vector<QPolygonF> lines;
};

// Shapes curves for a plot area, keeping its working memory from one curve to the next.
class CurveShaper
{
public:
    // The shape of a curve for a plot area of the given number of pixel columns, drawn with a pen
    // of penHalfWidth pixels on each side of the line. Valid until the next call. With
    // fromColumn > 0 only the band's columns from there on are shaped (the lines all the same):
    // for a redraw that keeps the columns before it.
    const CurveShape &shape(const CurveCells &cells, int columns, double penHalfWidth, int fromColumn = 0);
    // Where a shape from fromColumn on starts to need the curve's cells (x of device pixels, for
    // a plot area whose left edge is at plotLeft): stretches of records ending further left than
    // this don't reach the columns shaped, and lines coming from there are cut off.
    static double shapedFrom(double plotLeft, int fromColumn, double penHalfWidth);

private:
    struct Rows
    {
        float top, bottom;
    };
    struct Slot
    {
        Rows core, cap;
    };

    void stroke(double x0, double x1, double top, double bottom, double extension);
    void segment(double ax, double ay, double bx, double by, double extension);
    void fillColumns(int columns, int fromColumn);

    static constexpr int SlotsPerPixel = 8;
    double left = 0, reach = 1;
    int marginSlots = 0;
    std::vector<Slot> slotRows;
    int firstSlot = 0, lastSlot = -1;
    std::vector<char> banded, linked;
    CurveShape out;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QtGlobal>

#include <vector>

// What a pen stroked along a curve's lines covers of each pixel of the plot area (0 to 255), kept
// column by column until the curve is written into its canvas. The pen is the charts' own: square
// caps at a line's ends and bevel joins between its segments. A pixel is covered by as much as
// its centre lies inside the stroke's outline, fading over one pixel across the outline's edge,
// as antialiased drawing shows it (four samples a pixel). The stroke is made of pieces (one rectangle per
// segment, one joint per bend) and a pixel takes the most any piece gives it, so that a pixel's coverage
// depends only on the pieces near it: the lines can be drawn column by column, any columns, and
// come out the same (a redraw that keeps the columns left of the new records).
// Why not QPainter: stroking a long antialiased polyline costs it 0.1 ms per point, and one
// piece at a time still about 15 us per segment (docs/performance.md); at the start of a run
// every curve is lines, and a chart drawn whole held the reader for 30 to 80 ms.
class LineCoverage
{
public:
    // Makes the coverage cover a plot area of the given pixels, all of them empty.
    void start(int columns, int rows);
    // Adds the stroke of a polyline with a pen of the given half width, in the columns from
    // fromColumn on. The points are in pixels from origin, the plot area's top left corner: pixel
    // (x, y) of the plot area has its centre at origin + (x + 0.5, y + 0.5).
    void addPolyline(const QPointF *points, int count, QPointF origin, double halfWidth, int fromColumn);

    // The rows of a column that may be covered (top > bottom: none), and the column's coverage
    // (valid for those rows until the next call).
    int top(int column) const { return tops[size_t(column)]; }
    int bottom(int column) const { return bottoms[size_t(column)]; }
    const uchar *column(int column);
    // Empties a column (after it was written).
    void clearColumn(int column);
    int columns() const { return width; }

private:
    // Samples per pixel, a quarter pixel from its centre each way: a pixel's coverage is the mean
    // of theirs, which keeps the pixels where many short segments meet close to what the whole
    // outline covers (one sample per pixel left them up to a third too light).
    static constexpr int Samples = 4;

    // A rectangle around a segment: its centre, its direction (a unit vector) and its half
    // length and half width.
    void addRectangle(QPointF centre, QPointF along, double halfLength, double halfWidth);
    // A bevel joint: what of the disk of the given radius around a vertex lies on the vertex's
    // side of the line at the given distance from it across the unit normal.
    void addJoint(QPointF vertex, double radius, QPointF normal, double distance);
    // Covers pixel (x, y)'s samples by as much as the signed distance to a piece's outline says.
    template <typename Distance> void sample(int x, int y, Distance distance);
    void mark(int x, int first, int last);

    int width = 0, height = 0;
    int from = 0;
    std::vector<uchar> cover; // the samples, pixel after pixel down each column, column after column
    std::vector<int> tops, bottoms;
    std::vector<uchar> merged; // a column's pixels, for column()
    std::vector<QPointF> polyline;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/linecoverage.h"

#include <QImage>
#include <QRect>
#include <QTransform>

#include <vector>

class QPainter;

// The image the bands and lines of a chart's curves are written into, pixel by pixel, and then
// drawn onto the chart in one go: one blend per redraw for all the chart's
// curves rather than one per curve. It keeps its pixels from one redraw to the next, so that a
// redraw after new records only rewrites the columns they changed, and it tells which pixels
// changed, so that only those are painted again; what it holds is described by a signature its
// user chooses (the mapping, the curves, the records drawn).
// Why pixels by hand: QPainter strokes wide pens slowly, and fills many polygons or rects slowly
// too; writing pixels is the floor (docs/performance.md compares the ways).
// The image comparisons in tests/charts hold it to what the pen would draw.
class BandCanvas
{
public:
    // Makes the canvas cover these device pixels (the plot area). Returns false if it had to
    // start empty (they changed), true if it still holds what was written before.
    bool prepare(const QRect &pixels, const QTransform &toLogical);
    QImage &image() { return canvas; }
    // Working memory for a curve's lines before they are written (LineCoverage).
    LineCoverage &lineCoverage() { return lines; }
    QRect area() const { return covered; }
    // Notes that rows top..bottom of a column (image coordinates) were written.
    void written(int column, int top, int bottom);
    // Empties the columns from this one on (all of them for 0).
    void clearFrom(int column);
    // The device pixels whose content may have changed since the last call (written, cleared, or
    // all of them when the canvas started anew).
    QRect takeChanged();
    // Draws what the canvas holds onto the painter, in strips of columns as high as they need (a
    // band that wanders up and down leaves most of its bounding box empty), skipping strips
    // outside the painter's clip. The pixels stay.
    void draw(QPainter *painter) const;

    // What the pixels show, as the user described it when they were written; empty: unknown.
    const std::vector<double> &signature() const { return shown; }
    // After a redraw: what the pixels now show, and the first column it wrote (width(): none).
    void setSignature(std::vector<double> s, int rewrittenFrom)
    {
        shown = std::move(s);
        rewritten = rewrittenFrom;
    }
    int lastRewrittenFrom() const { return rewritten; }

private:
    static constexpr int StripWidth = 32;
    struct Strip
    {
        int top, bottom; // top > bottom: nothing written
    };

    QImage canvas;
    LineCoverage lines;
    QRect covered;
    QTransform toLogical;
    std::vector<Strip> strips;
    std::vector<double> shown;
    int rewritten = 0;
    QRect changed; // image coordinates
};

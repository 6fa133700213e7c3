// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRect>
#include <QTransform>

#include <vector>

class QPainter;

// The image the bands of a chart's curves are written into, pixel by pixel, and then drawn onto
// the chart in one go: one blend per redraw for all the chart's curves rather than one per curve.
// It is transparent between redraws; what was written since the last draw() is "pending".
class BandCanvas
{
public:
    // Makes the canvas cover these device pixels (the plot area); clears it if they changed.
    void prepare(const QRect &pixels, const QTransform &toLogical);
    QImage &image() { return canvas; }
    // Notes that rows top..bottom of a column (image coordinates) were written.
    void written(int column, int top, int bottom);
    bool hasPending() const { return pendingStrips > 0; }
    // Draws what is pending onto the painter, in strips of columns as high as they need (a band
    // that wanders up and down leaves most of its bounding box empty), and clears it.
    void draw(QPainter *painter);

private:
    static constexpr int StripWidth = 32;
    struct Strip
    {
        int top, bottom; // top > bottom: nothing written
    };

    QImage canvas;
    QRect area;
    QTransform toLogical;
    std::vector<Strip> strips;
    int pendingStrips = 0;
};

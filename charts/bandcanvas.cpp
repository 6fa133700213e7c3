// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/bandcanvas.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

bool BandCanvas::prepare(const QRect &pixels, const QTransform &transform)
{
    toLogical = transform;
    if (pixels == covered && !canvas.isNull())
        return true;
    // What was shown before (whatever it was) is replaced.
    changed = QRect(QPoint(0, 0), pixels.size()) |
              (covered.isValid() ? QRect(covered.topLeft() - pixels.topLeft(), covered.size()) : QRect());
    covered = pixels;
    canvas = QImage(pixels.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(0);
    strips.assign(size_t((pixels.width() + StripWidth - 1) / StripWidth), Strip{1, 0});
    shown.clear();
    return false;
}

void BandCanvas::written(int column, int top, int bottom)
{
    Strip &s = strips[size_t(column / StripWidth)];
    s.top = s.top > s.bottom ? top : std::min(s.top, top);
    s.bottom = std::max(s.bottom, bottom);
    changed |= QRect(column, top, 1, bottom - top + 1);
}

QRect BandCanvas::takeChanged()
{
    const QRect r = changed.isEmpty() ? QRect() : changed.translated(covered.topLeft());
    changed = QRect();
    return r;
}

void BandCanvas::clearFrom(int column)
{
    uchar *bits = canvas.bits();
    const qsizetype stride = canvas.bytesPerLine();
    for (size_t i = size_t(std::max(column, 0) / StripWidth); i < strips.size(); ++i) {
        Strip &s = strips[i];
        if (s.top > s.bottom)
            continue;
        const int left = std::max(int(i) * StripWidth, column);
        const int right = std::min(int(i + 1) * StripWidth, canvas.width());
        changed |= QRect(left, s.top, right - left, s.bottom - s.top + 1);
        for (int y = s.top; y <= s.bottom; ++y)
            std::memset(bits + y * stride + left * qsizetype(sizeof(QRgb)), 0,
                        size_t(right - left) * sizeof(QRgb));
        // A strip partly kept keeps its rows: they are an upper bound of what it holds.
        if (left == int(i) * StripWidth)
            s = Strip{1, 0};
    }
}

void BandCanvas::draw(QPainter *painter) const
{
    // The part of the canvas the painter's clip lets through (image coordinates).
    QRect open(QPoint(0, 0), canvas.size());
    if (painter->hasClipping())
        open &= painter->deviceTransform()
                    .mapRect(painter->clipBoundingRect())
                    .toAlignedRect()
                    .translated(-covered.topLeft());
    for (size_t i = 0; i < strips.size(); ++i) {
        const Strip &s = strips[i];
        if (s.top > s.bottom)
            continue;
        const int left = int(i) * StripWidth, width = std::min(StripWidth, canvas.width() - left);
        const QRect strip(left, s.top, width, s.bottom - s.top + 1);
        if (!strip.intersects(open))
            continue;
        // The image's pixels land exactly on device pixels.
        painter->drawImage(toLogical.mapRect(QRectF(strip.translated(covered.topLeft()))), canvas, strip);
    }
}

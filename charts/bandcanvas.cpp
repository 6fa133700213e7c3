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
    for (size_t i = 0; i < strips.size(); ++i) {
        const Strip &s = strips[i];
        if (s.top > s.bottom)
            continue;
        const int left = int(i) * StripWidth, width = std::min(StripWidth, canvas.width() - left);
        const QRect strip(left, s.top, width, s.bottom - s.top + 1);
        // The image's pixels land exactly on device pixels.
        painter->drawImage(toLogical.mapRect(QRectF(strip.translated(covered.topLeft()))), canvas, strip);
    }
}

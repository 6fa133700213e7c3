// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/bandcanvas.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

void BandCanvas::prepare(const QRect &pixels, const QTransform &transform)
{
    toLogical = transform;
    if (pixels == area && !canvas.isNull())
        return;
    area = pixels;
    canvas = QImage(pixels.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(0);
    strips.assign(size_t((pixels.width() + StripWidth - 1) / StripWidth), Strip{1, 0});
    pendingStrips = 0;
}

void BandCanvas::written(int column, int top, int bottom)
{
    Strip &s = strips[size_t(column / StripWidth)];
    if (s.top > s.bottom) {
        s = Strip{top, bottom};
        ++pendingStrips;
        return;
    }
    s.top = std::min(s.top, top);
    s.bottom = std::max(s.bottom, bottom);
}

void BandCanvas::draw(QPainter *painter)
{
    uchar *bits = canvas.bits();
    const qsizetype stride = canvas.bytesPerLine();
    for (size_t i = 0; i < strips.size(); ++i) {
        Strip &s = strips[i];
        if (s.top > s.bottom)
            continue;
        const int left = int(i) * StripWidth, width = std::min(StripWidth, canvas.width() - left);
        const QRect strip(left, s.top, width, s.bottom - s.top + 1);
        // The image's pixels land exactly on device pixels.
        painter->drawImage(toLogical.mapRect(QRectF(strip.translated(area.topLeft()))), canvas, strip);
        for (int y = s.top; y <= s.bottom; ++y)
            std::memset(bits + y * stride + left * qsizetype(sizeof(QRgb)), 0, size_t(width) * sizeof(QRgb));
        s = Strip{1, 0};
    }
    pendingStrips = 0;
}

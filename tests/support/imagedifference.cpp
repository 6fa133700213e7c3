// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/imagedifference.h"

#include <algorithm>
#include <cstdlib>

QString blendingDifference(const QImage &drawn, const QImage &expected, const QRect &blended)
{
    if (drawn.size() != expected.size())
        return QStringLiteral("size %1x%2, not %3x%4")
            .arg(drawn.width())
            .arg(drawn.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage a = drawn.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    const qreal ratio = drawn.devicePixelRatio();
    const QRect loose =
        blended.isValid()
            ? QRectF(QPointF(blended.topLeft()) * ratio, QSizeF(blended.size()) * ratio).toRect()
            : a.rect();
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int most = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                       std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            if (most > (loose.contains(x, y) ? 2 : 0))
                return QStringLiteral("at %1,%2 by %3").arg(x).arg(y).arg(most);
            differing += most > 0;
        }
    }
    if (differing * 20 > a.width() * a.height())
        return QStringLiteral("%1 pixels").arg(differing);
    return {};
}

int countPixels(const QImage &image, const std::function<bool(QColor)> &test, const QRect &part)
{
    const QRect where = part.isNull() ? image.rect() : part.intersected(image.rect());
    int n = 0;
    for (int y = where.top(); y <= where.bottom(); ++y) {
        for (int x = where.left(); x <= where.right(); ++x)
            n += test(image.pixelColor(x, y)) ? 1 : 0;
    }
    return n;
}

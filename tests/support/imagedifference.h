// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <QRect>

#include <functional>

// Where two pictures differ by more than blending small pictures over a drawing can make them:
// a colour channel more than 2 levels apart, or more than 5 % of the pixels different at all.
// Given the part where pictures are blended (in the images' logical pixels), any difference
// outside it counts. Empty when they look the same.
QString blendingDifference(const QImage &drawn, const QImage &expected, const QRect &blended = QRect());

// How many pixels of image (in part of it, in the image's own pixels; all of it by default) pass test.
int countPixels(const QImage &image, const std::function<bool(QColor)> &test, const QRect &part = QRect());

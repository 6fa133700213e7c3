// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <QString>

class QCustomPlot;

// The size of the picture of charts drawn one above the other, at their size on screen: as wide
// as the widest, as high as all together (pixels for PNG, points for PDF).
QSize chartsImageSize(const QList<QCustomPlot *> &charts);

// Saves the charts, one above the other, as one picture: PDF (vector) if the name ends in ".pdf",
// PNG otherwise. Written through QSaveFile: an existing file is replaced only by a complete new
// one. On failure returns false and sets *error to the reason (without the file name).
bool saveChartsImage(const QList<QCustomPlot *> &charts, const QString &fileName, QString *error);

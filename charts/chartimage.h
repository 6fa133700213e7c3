// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QVector>

class QCustomPlot;
class QPaintDevice;

// What the charts in a picture show: a file or recording name and the date and time of its time 0
// (either may be missing).
struct ChartsTitle
{
    QString name;
    QDateTime start;
};
// The picture's title line: "name, started 2026-12-07 14:05:09 UTC+01:00", of what is known; the
// start's spaces are non-breaking, so that a title too long for one line breaks after the name.
QString chartsTitleText(const ChartsTitle &title);

// What a picture holds besides the charts: a title line, a legend, and a label under each chart's
// time axis. The charts on screen have no time-axis label (the window says what they show); a
// picture stands alone.
struct ChartsPicture
{
    struct LegendEntry
    {
        QString name;
        QColor colour;
    };

    QString title;             // none when empty
    QList<LegendEntry> legend; // none when empty
    QString timeLabel = QStringLiteral("Time (s)");
    // PNG: picture pixels per chart pixel, as on a screen of that many device pixels per pixel; the
    // file says its density (96 dpi times this). PDF is drawn in vectors and ignores it.
    double pixelRatio = 1;
    // PNG: the image's size in pixels when one was chosen ("1600 x 1200"): the picture scaled to
    // fill it as far as its shape allows, centred on white; pixelRatio is then not used.
    QSize canvas;
};

// Where the parts of a picture go (chart pixels), with text measured as drawn on device.
struct ChartsPictureLayout
{
    QRectF title;
    QVector<QRectF> legend; // each entry: its line, then its name
    QVector<QRectF> charts;
    QVector<QRectF> timeLabels; // under each chart's plot area
    QSize size;
};
ChartsPictureLayout layOutChartsPicture(const QList<QCustomPlot *> &charts, const ChartsPicture &picture,
                                        const QPaintDevice *device);

// The size of the picture (chart pixels; points for PDF): the charts at their size on screen, one
// above the other, with the title and legend above and a time-axis label under each.
QSize chartsImageSize(const QList<QCustomPlot *> &charts, const ChartsPicture &picture);

// Saves the picture of the charts: PDF (vector) if the name ends in ".pdf", PNG otherwise.
// Written through QSaveFile: an existing file is replaced only by a complete new one. On failure
// returns false and sets *error to the reason (without the file name).
bool saveChartsImage(const QList<QCustomPlot *> &charts, const ChartsPicture &picture,
                     const QString &fileName, QString *error);

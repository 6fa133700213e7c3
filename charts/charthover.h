// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QRectF>
#include <QString>
#include <qcustomplot.h>

// The values at the cursor, drawn on the chart itself: a vertical cursor line at the record's
// time, a dot on each curve at the record and a box of coloured lines of text. It is drawn on the
// curves' layer, after them: showing it redraws that layer's buffer (the curves only blit what
// they drew last) and not the axes, and the chart needs no buffer for it alone.
class ChartHoverLabel : public QCPLayerable
{
    Q_OBJECT

public:
    struct Line
    {
        QString text;
        QColor colour;
    };
    struct Marker
    {
        double value;
        QColor colour;
    };

    explicit ChartHoverLabel(QCustomPlot *chart);

    // The size (chart pixels) of the box that shows lines.
    QSizeF boxSize(const QList<Line> &lines) const;
    // Shows the cursor line at key, a dot per marker on it and lines in a box at box (chart
    // pixels, boxSize(lines) large).
    void show(double key, const QList<Line> &lines, const QList<Marker> &markers, const QRectF &box);
    void hideLabel();
    bool isShown() const { return shown; }
    QList<Line> lines() const { return labelLines; }
    double key() const { return markerKey; }
    QRectF box() const { return labelBox; }

protected:
    void applyDefaultAntialiasingHint(QCPPainter *painter) const override;
    void draw(QCPPainter *painter) override;
    QRect clipRect() const override;

private:
    void redrawLayer();

    bool shown = false;
    double markerKey = 0;
    QRectF labelBox;
    QList<Line> labelLines;
    QList<Marker> markers;
};

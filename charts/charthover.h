// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <qcustomplot.h>

// The values under the mouse, drawn on the chart itself: a box of coloured lines next to the
// mouse, a marker line at the record's time and a dot on each curve at the record. It is drawn
// on the curves' layer, after them: moving the mouse redraws that layer's buffer (the curves
// only blit what they drew last) and not the axes, and the chart needs no buffer for it alone.
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

    // Shows lines next to pos (chart pixels), the marker line at key and a dot per marker.
    void showAt(const QPointF &pos, double key, const QList<Line> &lines, const QList<Marker> &markers);
    void hideLabel();
    bool isShown() const { return shown; }
    QList<Line> lines() const { return labelLines; }

protected:
    void applyDefaultAntialiasingHint(QCPPainter *painter) const override;
    void draw(QCPPainter *painter) override;
    QRect clipRect() const override;

private:
    void redrawLayer();

    bool shown = false;
    QPointF anchor;
    double markerKey = 0;
    QList<Line> labelLines;
    QList<Marker> markers;
};

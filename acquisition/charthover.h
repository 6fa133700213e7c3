// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <qcustomplot.h>

// The values under the mouse, drawn on the chart itself: a box of coloured lines next to the
// mouse, a marker line at the record's time and a dot on each curve at the record. It lives on
// the chart's "overlay" layer, which is buffered on its own, so moving the mouse redraws the
// label and not the curves.
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

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QLine>
#include <QRectF>
#include <QStaticText>
#include <QString>
#include <QVector>
#include <qcustomplot.h>

class RunMarks;

// A run's marks and events on a chart: a thin vertical line at each one's time, its note beside
// the line at the top. Operator marks are solid lines with framed labels; the program's events
// dashed lines with unframed ones, in another colour too. Labels that would cover one another
// go to the next of three rows, or are left out (hovering the line still shows them).
//
// It lives on a layer of its own above the curves ("marks") that shares its paint buffer with
// the axes: a redraw after new records draws only the curves' layer and leaves it as it is, so
// marks cost nothing per record; it is drawn when the whole chart is (the axes moved, marks
// changed) and in images of the chart.
class ChartMarks : public QCPLayerable
{
    Q_OBJECT

public:
    static constexpr int MaxLabelWidth = 160; // pixels; longer notes are cut short with "..."
    static constexpr int LabelRows = 3;
    static constexpr double HitDistance = 3; // pixels either side of a line
    // Labels are kept for at most this many entries; beyond, they are made again as needed.
    static constexpr int MaxKeptLabels = 2048;

    static QString layerName() { return QStringLiteral("marks"); }
    static QColor operatorColour() { return QColor(200, 90, 0); }
    static QColor programColour() { return QColor(90, 90, 90); }

    // Adds the "marks" layer to chart (above the curves) and draws the marks on it.
    ChartMarks(QCustomPlot *chart, const RunMarks *marks);

    // Where marks were drawn last: the entry (of RunMarks::entries()) of the mark whose label is
    // at pos (chart pixels), or -1; markAt also takes the line, the nearest within HitDistance.
    int labelAt(const QPointF &pos) const;
    int markAt(const QPointF &pos) const;
    // Its label as drawn last; empty when it had none.
    QRectF labelRect(int entry) const;
    // How many labels and lines were drawn last: a line for each pixel column with marks, for
    // each of the two styles.
    int drawnLabels() const;
    int drawnLines() const { return lineCount; }
    // A note changed or the marks were cleared: labels are made again at the next drawing.
    void forgetLabels() { labels.clear(); }
    // Labels laid out and kept for the next drawing (bounded, however many marks there are).
    int keptLabels() const { return int(labels.size()); }

protected:
    void applyDefaultAntialiasingHint(QCPPainter *painter) const override;
    void draw(QCPPainter *painter) override;
    QRect clipRect() const override;

private:
    struct Label
    {
        QStaticText text; // elided to MaxLabelWidth
        int width = -1;
    };
    // What was drawn, for hovering and editing: per pixel column the first entry there (the
    // one a hover finds), and every entry whose label was drawn, so that it stays bounded by the
    // chart's width however many marks share a column.
    struct Drawn
    {
        int entry;
        double x;
        QRectF label; // empty: no label
    };
    // Lines are drawn as one picture when there are more than this many.
    static constexpr int ManyLines = 24;
    // The program's events are dashed: this many pixels on, this many off.
    static constexpr int DashOn = 4;
    static constexpr int DashOff = 2;
    void drawAsPicture(QCPPainter *painter, const QRect &area, const QVector<QLine> (&lines)[2]);
    const Label &labelOf(int entry);
    bool isCurrent(int entry) const;
    QVector<Drawn> layOut(const QRect &area, QVector<QLine> (&lines)[2]);

    const RunMarks *marks;
    QFont font;
    QHash<int, Label> labels; // by entry, made when first drawn
    QVector<Drawn> drawn;
    QImage picture; // of the lines, kept for the next drawing
    int lineCount = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRect>
#include <QTransform>
#include <qcustomplot.h>
#include <vector>

#include "charts/bandcanvas.h"
#include "charts/curveshape.h"

#include <memory>

class ChartData;

// A chart curve drawn from the recording rather than from a copy of its points: one channel of
// ChartData, with the graph's pen. Drawing costs what the chart's size costs, not what the run's
// length costs: close records are painted as a band of pixel spans written straight into an image
// (what a pen stroked through every record would cover), records further apart as lines, whose
// coverage the pen's outline gives pixel by pixel (LineCoverage), written into the same image
// with the band. The image is kept, and a redraw after new records draws again only the pixel
// columns they changed, band and lines alike (docs/performance.md). The curve breaks where
// ChartData says no data was taken (a pause, the unit away, non-finite values). For vector output
// (PDF) the band is a filled outline and the lines are stroked with the pen. The graph's own data
// container stays empty; the data interface reads the series.
// Why not a plain QCPGraph: it copies every point and strokes them all at every redraw, which
// grows with the run; this one's redraw after a record costs about what the empty charts cost, at
// any length of the run (docs/performance.md, bench_acquisition). A line style of lsNone hides the
// curve, as with any graph.
class EnvelopeGraph : public QCPGraph
{
    Q_OBJECT

public:
    EnvelopeGraph(QCPAxis *keyAxis, QCPAxis *valueAxis);

    // The channel (0-based) this graph draws; until set, it draws nothing.
    void setSource(const ChartData *data, int channel);
    // Has the graph write its band into a canvas shared with the chart's other graphs, so that
    // all of them are blended onto the chart at once.
    void shareCanvas(const std::shared_ptr<BandCanvas> &shared) { canvas = shared; }
    int channel() const { return sourceChannel; }
    const BandCanvas &bandCanvas() const { return *canvas; }
    // Has the next redraw draw the canvas's curves anew rather than only what changed.
    void forgetDrawing() { canvas->setSignature({}, 0); }
    // Brings the canvas up to date for the painter (set up by the graph's layer, on its paint
    // buffer) without painting anything: returns the device pixels whose content changed since
    // the last call or canvasShown() (empty if none, or if another graph on the canvas does this).
    // A redraw of only those pixels of the layer then shows what a whole redraw would.
    QRect updateCanvas(QCPPainter *painter);
    // The chart's paint buffer was drawn whole: it shows everything the canvas holds.
    void canvasShown();

    // The data interface, on the recorded series.
    int dataCount() const override;
    double dataMainKey(int index) const override;
    double dataSortKey(int index) const override;
    double dataMainValue(int index) const override;
    QCPRange dataValueRange(int index) const override;
    QPointF dataPixelPosition(int index) const override;
    bool sortKeyIsMainKey() const override { return true; }
    QCPDataSelection selectTestRect(const QRectF &rect, bool onlySelectable) const override;
    int findBegin(double sortKey, bool expandedRange = true) const override;
    int findEnd(double sortKey, bool expandedRange = true) const override;
    double selectTest(const QPointF &pos, bool onlySelectable, QVariant *details = nullptr) const override;
    QCPRange getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange &inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter *painter) override;

private:
    PixelMapping mapping(const QTransform &device, const QRect &pixels) const;
    bool drawsCurve() const;
    // The device pixels of the plot area and the painter's device transform; false if the curve
    // is not drawn on them.
    bool devicePixels(const QCPPainter *painter, QRect *pixels, QTransform *device) const;
    // The curves sharing this graph's canvas that draw, in drawing order.
    QList<EnvelopeGraph *> curvesOnCanvas() const;
    // Brings the canvas up to date for all the curves on it: the first of them does it for the
    // others, so that the canvas can be brought up to date column by column for all of them at
    // once. Only the columns that records changed since the last time are drawn anew, band and
    // lines; the canvas notes which pixels changed.
    void updateCanvas(const QList<EnvelopeGraph *> &curves, const QRect &pixels, const QTransform &device,
                      bool antialiased);
    // Shapes the curve for the band from pixel column `from` on (0: all of it) and the lines
    // reaching those columns.
    const CurveShape &reshape(const PixelMapping &m, double deviceScale, int from);
    // Writes the curve's shape into the canvas from column `from` on: its band and its lines
    // together, over what the curves before it wrote.
    void writeCurve(const CurveShape &shape, int from, double deviceScale, bool antialiased);
    void paintBandOutline(QCPPainter *painter, const CurveShape &shape, const QRect &pixels,
                          const QTransform &toLogical) const;

    const ChartData *source = nullptr;
    int sourceChannel = -1;
    // Working memory kept from one redraw to the next.
    CurveCells cells;
    CurveShaper shaper;
    std::vector<uchar> inks;            // one column's coverage, row by row
    const CurveShape *shaped = nullptr; // the shaper's last shape
    // Where the band is written: the graph's own, or shared with the chart's other graphs.
    std::shared_ptr<BandCanvas> canvas = std::make_shared<BandCanvas>();
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartfeeder.h"

#include "charts/envelopegraph.h"
#include "charts/layerpatch.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// A chart's background, drawn on a layer beneath all others. QCustomPlot fills its background
// at every repaint of the widget, antialiased and so three times slower than a plain fill;
// drawn here, the fill goes into the buffer of the background and the grid, which is drawn
// again only when the axes move. Images of the chart get the same background.
// Measured: 55 us for QCustomPlot's antialiased fill against 16 us for a plain one, at every
// repaint: 7-11 % of the program's CPU (docs/performance.md).
class ChartPaper : public QCPLayerable
{
public:
    // The brush is QCustomPlot's own default background, which the chart does not report.
    explicit ChartPaper(QCustomPlot *chart) : QCPLayerable(chart), brush(Qt::white)
    {
        chart->addLayer(QStringLiteral("paper"), chart->layer(0), QCustomPlot::limBelow);
        setLayer(QStringLiteral("paper"));
        chart->setBackground(Qt::NoBrush);
    }

protected:
    void applyDefaultAntialiasingHint(QCPPainter *painter) const override { painter->setAntialiasing(false); }
    void draw(QCPPainter *painter) override
    {
        // The layer clips its layerables one pixel short at the bottom; paper covers all.
        painter->setClipping(false);
        painter->fillRect(mParentPlot->viewport(), brush);
    }

private:
    QBrush brush;
};

} // namespace

double drawableLimit()
{
    // QCustomPlot refuses ranges reaching maxRange or as wide as it; a quarter of it either way
    // is still far beyond anything a chart shows readably.
    return QCPRange::maxRange / 4;
}

QCPRange drawableRange(double lower, double upper)
{
    const double limit = drawableLimit();
    if (std::isnan(lower))
        lower = 0;
    if (std::isnan(upper))
        upper = lower;
    lower = std::clamp(lower, -limit, limit);
    upper = std::clamp(upper, -limit, limit);
    if (upper < lower)
        std::swap(lower, upper);
    // Too narrow to draw: widen around the middle.
    const double minSpan = std::max(1e-9, std::abs(lower + upper) * 1e-12);
    if (upper - lower < minSpan) {
        const double middle = lower / 2 + upper / 2;
        lower = middle - minSpan / 2;
        upper = middle + minSpan / 2;
    }
    return QCPRange(lower, upper);
}

ChartFeeder::ChartFeeder(QCustomPlot *fluxChart, QCustomPlot *temperatureChart, const RecordedSeries &series,
                         QObject *parent)
    : QObject(parent), charts{fluxChart, temperatureChart}, chartData(series)
{
    for (int chart = 0; chart < 2; ++chart) {
        // The curves get a buffer of their own (the graphs are on "main"), so that a redraw that
        // leaves the axes where they are draws only the curves.
        if (QCPLayer *curves = charts[size_t(chart)]->layer(QStringLiteral("main")))
            curves->setMode(QCPLayer::lmBuffered);
        // Nothing is drawn on "overlay" (the values under the mouse go with the curves), and every
        // buffer costs a blit at each repaint of the widget.
        if (QCPLayer *overlay = charts[size_t(chart)]->layer(QStringLiteral("overlay")))
            overlay->setMode(QCPLayer::lmLogical);
        new ChartPaper(charts[size_t(chart)]);
        const auto canvas = std::make_shared<BandCanvas>();
        for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
            if (EnvelopeGraph *g = graph(chart, sensor)) {
                g->setSource(&chartData, 2 * (sensor - 1) + chart);
                g->shareCanvas(canvas);
            }
        }
    }
}

EnvelopeGraph *ChartFeeder::graph(int chart, int sensor) const
{
    return qobject_cast<EnvelopeGraph *>(charts[size_t(chart)]->graph(sensor - 1));
}

void ChartFeeder::append(int sensorCount, double time, const RecordValues &values)
{
    chartData.append(sensorCount, time, values);
    const int n = std::min(sensorCount, MaxSensors);
    for (int sensor = 1; sensor <= n; ++sensor) {
        if (!shownSensors[size_t(sensor - 1)])
            continue;
        if (std::isfinite(time))
            followedKeys.expand(time);
        for (int chart = 0; chart < 2; ++chart) {
            // Heat flux is channel 2s - 1, temperature channel 2s; non-finite values stretch nothing.
            const double value = values[size_t(2 * (sensor - 1) + chart)];
            if (std::isfinite(value))
                followedValues[size_t(chart)].expand(value);
        }
    }
    changed = true;
    if (following)
        showFollowedRanges();
}

void ChartFeeder::widenFollowed(int sensor)
{
    double first = 0, last = 0;
    if (chartData.timeBounds(&first, &last))
        followedKeys.expand(QCPRange(first, last));
    for (int chart = 0; chart < 2; ++chart) {
        double lowest = 0, highest = 0;
        if (chartData.valueBounds(2 * (sensor - 1) + chart, &lowest, &highest))
            followedValues[size_t(chart)].expand(QCPRange(lowest, highest));
    }
}

void ChartFeeder::showFollowedRanges()
{
    if (!(shownUpper >= followedKeys.upper) || shownUpper > followedKeys.upper + followedKeys.size())
        shownUpper = followedKeys.upper + followedKeys.size() / FollowSteps;
    const QCPRange keys = drawableRange(followedKeys.lower, shownUpper);
    for (int chart = 0; chart < 2; ++chart) {
        QCustomPlot *c = charts[size_t(chart)];
        const QCPRange values =
            drawableRange(followedValues[size_t(chart)].lower, followedValues[size_t(chart)].upper);
        if (c->xAxis->range() != keys)
            c->xAxis->setRange(keys);
        if (c->yAxis->range() != values)
            c->yAxis->setRange(values);
    }
}

void ChartFeeder::applySensor(int sensor, bool shown)
{
    if (sensor < 1 || sensor > MaxSensors)
        return;
    shownSensors[size_t(sensor - 1)] = shown;
    for (int chart = 0; chart < 2; ++chart) {
        QCPGraph *g = charts[size_t(chart)]->graph(sensor - 1);
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        g->setLineStyle(shown ? QCPGraph::lsLine : QCPGraph::lsNone);
    }
    if (shown)
        widenFollowed(sensor);
    changed = true;
    if (following)
        showFollowedRanges();
    emit shownSensorsChanged();
}

bool ChartFeeder::isSensorShown(int sensor) const
{
    return sensor >= 1 && sensor <= MaxSensors && shownSensors[size_t(sensor - 1)];
}

void ChartFeeder::clear()
{
    chartData.clear();
    followedKeys = QCPRange(InitialRangeLower, InitialRangeUpper);
    shownUpper = InitialRangeUpper;
    followedValues.fill(QCPRange(InitialRangeLower, InitialRangeUpper));
    following = true;
    changed = true;
    showFollowedRanges();
    emit cleared();
}

void ChartFeeder::adoptSummaries(ChartData &&summaries)
{
    chartData = std::move(summaries);
    for (int chart = 0; chart < 2; ++chart) {
        if (EnvelopeGraph *g = graph(chart, 1))
            g->forgetDrawing();
    }
    for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
        if (shownSensors[size_t(sensor - 1)])
            widenFollowed(sensor);
    }
    changed = true;
    if (following)
        showFollowedRanges();
}

void ChartFeeder::setFollowing(bool follow)
{
    if (following == follow)
        return;
    following = follow;
    changed = true;
    if (following)
        showFollowedRanges();
}

int ChartFeeder::pixelColumns() const
{
    int columns = 0;
    for (QCustomPlot *c : charts)
        columns = std::max(columns, int(std::ceil(c->axisRect()->width() * c->bufferDevicePixelRatio())));
    return columns > 0 ? columns : ChartEnvelope::DefaultColumns;
}

void ChartFeeder::frameContentChanged()
{
    drawnFrames.fill(Frame());
    changed = true;
}

void ChartFeeder::breakCurves()
{
    chartData.breakCurves();
}

void ChartFeeder::setSeen(bool isSeen)
{
    if (seen == isSeen)
        return;
    seen = isSeen;
    if (!seen) {
        redrawPacer.cancel();
        return;
    }
    // Up to date at once: the readouts with the latest values, the charts with what came meanwhile.
    requestRedraw(true);
}

void ChartFeeder::requestRedraw(bool now)
{
    if (!seen) {
        changed = true;
        return;
    }
    if (now) {
        emit redrawDue();
        redraw();
        return;
    }
    redrawPacer.setInterval(std::max<qint64>(MinRedrawIntervalMs, qint64(RedrawCostFactor * lastDrawMs)));
    redrawPacer.request();
}

void ChartFeeder::pacedRedraw()
{
    if (!seen)
        return;
    redrawPacer.done();
    emit redrawDue();
    if (!changed)
        return;
    // One chart now, the other at the event loop's next turn: lines that arrive meanwhile are
    // read (and time-stamped) in between, so no stamp waits for more than one chart's drawing.
    redrawPacer.cancel();
    const double first = drawChart(0, true);
    QTimer::singleShot(0, this, [this, first] { finishRedraw(first + (seen ? drawChart(1, false) : 0)); });
}

ChartFeeder::Frame ChartFeeder::frameOf(const QCustomPlot *chart)
{
    return {chart->xAxis->range(), chart->yAxis->range(), chart->axisRect()->rect(),
            chart->bufferDevicePixelRatio()};
}

double ChartFeeder::drawChart(int index, bool prepare, bool whole)
{
    QElapsedTimer cost;
    cost.start();
    if (prepare) {
        if (!chartData.inStep())
            chartData.rebuild();
        chartData.fitEnvelope(followedKeys.lower, followedKeys.upper, pixelColumns());
        changed = false;
    }
    QCustomPlot *chart = charts[size_t(index)];
    QCPLayer *curves = chart->layer(QStringLiteral("main"));
    Frame &drawn = drawnFrames[size_t(index)];
    // Only the curves, and of them only what changed, while the axes stay where they were drawn;
    // the whole chart after all when its buffers are new (after a resize).
    if (whole || !curves || !(frameOf(chart) == drawn) || !LayerPatch::redrawChanged(curves)) {
        chart->replot(QCustomPlot::rpQueuedRefresh);
        if (EnvelopeGraph *g = graph(index, 1))
            g->canvasShown();
    }
    drawn = frameOf(chart);
    return double(cost.nsecsElapsed()) / 1e6;
}

void ChartFeeder::finishRedraw(double ms)
{
    lastDrawMs = ms;
    totalDrawMs += ms;
    ++redraws;
}

void ChartFeeder::redraw(bool whole)
{
    redrawPacer.cancel();
    if (whole) {
        for (int chart = 0; chart < 2; ++chart) {
            if (EnvelopeGraph *g = graph(chart, 1))
                g->forgetDrawing();
        }
    }
    redrawPacer.done();
    const double first = drawChart(0, true, whole);
    finishRedraw(first + drawChart(1, false, whole));
}

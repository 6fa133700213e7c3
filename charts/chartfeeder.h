// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/chartdata.h"
#include "data/recordparser.h"
#include "pacing/pacer.h"

#include <QObject>
#include <qcustomplot.h>

#include <array>

class EnvelopeGraph;

// The largest magnitude a chart's axis reaches: QCustomPlot takes no range beyond about 1e250.
double drawableLimit();
// The nearest range to [lower, upper] that a chart axis accepts: bounds far beyond what a chart
// can show (1e300) are pulled in, so that one absurd value never leaves an axis stuck.
QCPRange drawableRange(double lower, double upper);

// Feeds records to the two live charts (heat flux and temperature, graph k = sensor k + 1 on
// each; the graphs are EnvelopeGraphs drawing from the window's series) without letting the cost
// of a record or of a redraw grow with the run: records go into the charts' summaries, axes are
// widened from running bounds, and the charts are redrawn at a paced rate rather than once per
// record. The axes follow the whole run until the operator looks at a part of it.
class ChartFeeder : public QObject
{
    Q_OBJECT

public:
    // Redraws are at least this far apart (about 22 per second at most)...
    static constexpr int MinRedrawIntervalMs = 45;
    // ...and a slow redraw is followed by a pause this many times its own length, so that
    // drawing takes a bounded share of the CPU whatever happens.
    static constexpr int RedrawCostFactor = 5;

    // While following, the time axis ends this share of its span beyond the last record and
    // moves on only when records get there: between those steps the charts' pixels stay where
    // they are, and a redraw only redoes the columns the new records changed. At the start of a
    // run the curves are lines, and drawing them whole is dear, so the steps are long enough to
    // leave most redraws partial (docs/performance.md).
    static constexpr int FollowSteps = 16;

    static constexpr double InitialRangeLower = 0;
    static constexpr double InitialRangeUpper = 30;

    // series: the window's recorded series, read (never copied) for drawing.
    ChartFeeder(QCustomPlot *fluxChart, QCustomPlot *temperatureChart, const RecordedSeries &series,
                QObject *parent = nullptr);

    // Takes the record just appended to the series: values of sensors 1..sensorCount, shown or not.
    void append(int sensorCount, double time, const RecordValues &values);
    // Shows or hides a sensor's two curves (sensor is 1-based). A shown sensor's curves are
    // complete and the followed ranges are widened, never narrowed, to fit them.
    void applySensor(int sensor, bool shown);
    bool isSensorShown(int sensor) const;
    // Forgets the records (the series were emptied), puts the four axes back to their starting
    // range and follows the run again.
    void clear();
    // Takes summaries made beforehand over the same series (a recording read back on another
    // thread) in place of its own: the series are not summarised again here.
    void adoptSummaries(ChartData &&summaries);
    // No data is taken until the next record (a pause, the unit gone): the curves break there.
    void breakCurves();

    // Following: the axes show the whole run (from the starting range, widened by the shown
    // curves). Not following: they stay where the operator put them while records come in.
    bool isFollowing() const { return following; }
    void setFollowing(bool follow);

    // Something drawn with the axes rather than the curves changed (the marks): the next redraw
    // draws the whole charts, as when the axes move.
    void frameContentChanged();

    // Asks for a redraw of both charts at the paced rate; now=true redraws at once.
    void requestRedraw(bool now = false);
    // Whether anyone can see the charts (their window is shown, not minimised, exposed). While
    // not, requested redraws are not made and redrawDue is not emitted; records go on into the
    // summaries. When seen again, one redraw (with redrawDue) brings everything up to date.
    void setSeen(bool seen);
    bool isSeen() const { return seen; }
    // Draws both charts immediately. (The paced redraw draws one chart, then the other at the
    // event loop's next turn.) A redraw only draws again what records changed since the last
    // one; whole=true draws everything anew, as when the axes have moved.
    void redraw(bool whole = false);

    // How long the last redraw of both charts took, and how many there were.
    double lastRedrawMs() const { return lastDrawMs; }
    quint64 redrawCount() const { return redraws; }
    double totalRedrawMs() const { return totalDrawMs; }

    QCustomPlot *chart(int index) const { return charts[size_t(index)]; } // 0 heat flux, 1 temperature
    const ChartData &data() const { return chartData; }

signals:
    // At the paced rate, just before the charts are redrawn (also when only the readouts are
    // due): the moment to bring the readouts up to date.
    void redrawDue();
    // A sensor's curves were shown or hidden.
    void shownSensorsChanged();
    // The records were forgotten (clear()): what was made from the series must start over.
    void cleared();

private:
    EnvelopeGraph *graph(int chart, int sensor) const;
    void widenFollowed(int sensor);
    void showFollowedRanges();
    int pixelColumns() const;
    void pacedRedraw();
    // Draws one chart (prepare: bring the summaries up to date first); returns the milliseconds.
    // whole: axes, grid and labels too, even when they would look as they do.
    double drawChart(int index, bool prepare, bool whole = false);
    void finishRedraw(double ms);

    std::array<QCustomPlot *, 2> charts;
    // What each chart's axes, grid and labels were last drawn for. While it stays the same, a
    // redraw draws only the curves' layer, which has a buffer of its own.
    struct Frame
    {
        QCPRange keys, values;
        QRect area;
        double pixelRatio = 0;
        bool operator==(const Frame &o) const
        {
            return keys == o.keys && values == o.values && area == o.area && pixelRatio == o.pixelRatio;
        }
    };
    static Frame frameOf(const QCustomPlot *chart);
    std::array<Frame, 2> drawnFrames;
    ChartData chartData;
    std::array<bool, MaxSensors> shownSensors{};
    QCPRange followedKeys{InitialRangeLower, InitialRangeUpper};
    double shownUpper = InitialRangeUpper; // where the followed time axis ends
    std::array<QCPRange, 2> followedValues{QCPRange(InitialRangeLower, InitialRangeUpper),
                                           QCPRange(InitialRangeLower, InitialRangeUpper)};
    bool following = true;
    bool changed = false;
    bool seen = true;
    Pacer redrawPacer{MinRedrawIntervalMs, [this] { pacedRedraw(); }, Qt::PreciseTimer};
    double lastDrawMs = 0;
    double totalDrawMs = 0;
    quint64 redraws = 0;
};

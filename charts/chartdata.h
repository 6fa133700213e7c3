// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/chartenvelope.h"
#include "charts/curvebreaks.h"
#include "charts/curvecells.h"
#include "charts/measuringgaps.h"
#include "charts/seriespyramid.h"
#include "data/recordedseries.h"
#include "data/recordparser.h"

#include <array>

// What the charts draw from: read access to the window's recorded series (the recording itself,
// never a copy of it), and two summaries kept up to date record by record for every channel in
// use, shown or not: the time envelope for the whole run and the min/max pyramid for zoomed views.
class ChartData
{
public:
    explicit ChartData(const RecordedSeries &series);

    // Adds the record just appended to the series (channels 1..2 * sensorCount).
    void append(int sensorCount, double time, const RecordValues &values);
    // The next record appended starts a new line on every curve: no data was taken between the
    // last one and it (a pause, the unit away).
    void breakCurves() { breakCurvesBefore(recordCount()); }
    // The same for any record; for a record already summarised, the summaries are made afresh.
    void breakCurvesBefore(qint64 record);
    // Nothing was measured from time on until the next record (a pause, the unit gone): the
    // curves break there (MeasuringGaps, which also breaks them at steps in time far beyond the
    // run's usual spacing). Told before the records after it, it costs nothing.
    void noteQuietFrom(double time);
    const CurveBreaks &breaks() const { return curveBreaks; }
    // Forgets everything (the series were emptied), breaks included.
    void clear();
    // Summarises the series again from the start: for a recording that changed other than
    // through append().
    void rebuild();
    // Whether the summaries cover exactly the records the series hold.
    bool inStep() const;
    // Changes whenever the summaries are made afresh rather than added to (cleared, rebuilt): a
    // drawing of the first n records stays right as long as this stays the same.
    quint64 generation() const { return made; }

    // Channels in use (2 per sensor) and records summarised.
    int channelsInUse() const { return channels; }
    qint64 recordCount() const { return pyramid.size(); }
    const QVector<double> &times() const { return *series.time; }
    const QVector<double> &values(int channel) const { return *series.channels[size_t(channel)]; }
    // Lowest and highest finite value of a channel (0-based), and the first and last time.
    bool valueBounds(int channel, double *lowest, double *highest) const;
    bool timeBounds(double *first, double *last) const;
    // The record whose time is nearest to time, or -1 if there is none.
    qint64 nearestRecord(double time) const;
    // Lowest and highest finite value of a channel over records [begin, end), from the pyramid:
    // a few hundred steps however long the stretch. False if there is none.
    bool stretchBounds(int channel, qint64 begin, qint64 end, double *lowest, double *highest) const;

    // Keeps the envelope fitting a time range drawn over the given number of columns (the
    // recorded times are always included); rebuilds it when the chart got too wide for it.
    void fitEnvelope(double lower, double upper, int columns);
    const ChartEnvelope &envelope() const { return timeEnvelope; }
    // One channel's curve cut into cells for drawing: from the envelope when it is fine enough
    // for the view, else from the series through the pyramid. fromX: only the cells from there
    // on are needed (sampleEnvelope).
    void sample(int channel, const PixelMapping &mapping, CurveCells *out, double fromX = -1e300) const;

private:
    void rebuildEnvelope(double width);

    RecordedSeries series;
    ChartEnvelope timeEnvelope{MaxChannels};
    SeriesPyramid pyramid;
    CurveBreaks curveBreaks;
    MeasuringGaps gaps;
    int channels = 0;
    quint64 made = 0;
    struct Bounds
    {
        double lowest = 0, highest = 0;
        bool any = false;
    };
    std::array<Bounds, MaxChannels> bounds;
};

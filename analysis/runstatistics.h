// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cmath>
#include <limits>
#include <vector>

// One channel over a stretch of a run. Values that are not finite (inf, nan) are left out of
// every figure and counted apart.
struct ChannelStatistics
{
    int channel = 0;                                        // 1 to 8
    qint64 samples = 0;                                     // finite values in the stretch
    qint64 nonFinite = 0;                                   // inf and nan values in the stretch, left out
    double mean = std::numeric_limits<double>::quiet_NaN(); // nan without samples
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    double sd = std::numeric_limits<double>::quiet_NaN(); // sample sd (n - 1); nan below 2 samples
    // The sd is beyond the largest double (values near it far apart): sd is inf, and is shown
    // as "too large to compute".
    bool sdTooLarge() const { return std::isinf(sd); }
};

// What the texts show for a figure that can't be a double.
QString tooLargeToCompute();

// The figures of every channel over the rows [firstRow, endRow) of a run.
struct StretchStatistics
{
    int firstRow = 0;
    int endRow = 0;
    double firstTime = std::numeric_limits<double>::quiet_NaN(); // of the first and last row in it
    double lastTime = std::numeric_limits<double>::quiet_NaN();
    QVector<ChannelStatistics> channels; // channels 1..channelCount

    int rows() const { return endRow - firstRow; }
};

// Count, mean, minimum, maximum and standard deviation of each channel of a run over any stretch,
// exact to rounding and fast whatever the run's length. The run is cut into blocks of BlockRows
// rows, each summarised once (two passes over its values); a stretch merges the summaries of the
// whole blocks in it, pairwise (Chan et al.'s formula for the squared deviations), with its
// partial blocks at both ends computed directly. The time column must not decrease: a stretch of
// times is found by binary search.
//
// The series may keep growing (a live run): a query first summarises the blocks completed since
// the last, never recomputing old ones. Series that were emptied or replaced need reset(). Not
// thread-safe: use it on the thread that grows the series.
class RunStatistics
{
public:
    static constexpr int BlockRows = 4096;

    // The series to summarise: the time and channels 1..channelCount (at most 8). Rows count as
    // far as the shortest of them goes.
    void setSeries(const RecordedSeries &series, int channelCount);
    // Forgets every summary (the series were emptied or changed other than by growing).
    void reset();
    // Summarises the blocks completed since the last call; queries do it themselves.
    void update();
    // The same for at most maxBlocks blocks of each channel, so that a long run can be caught up
    // with in slices; returns whether every completed block is summarised.
    bool update(int maxBlocks);
    int rows() const;

    // The rows whose time lies in [from, to], both included (none when from > to or either is nan).
    StretchStatistics compute(double from, double to);
    // The rows [firstRow, endRow), clamped to the rows there are.
    StretchStatistics computeRows(int firstRow, int endRow);

    // Count, mean, squared deviations from it, extremes and the values left out. The mean is kept
    // to twice a double's precision (mean + meanLow): rounded to a double, the means of blocks far
    // from zero with little spread (3e5 give or take 1e-3) would differ by their rounding as much
    // as by their values, and merging would spoil the squared deviations. Mean and squared
    // deviations are kept scaled by 2^-exponent (the exponent of the largest magnitude), so that
    // neither a sum nor a square overflows for any finite values: the true mean is
    // (mean + meanLow) * 2^exponent, the true squared deviations m2 * 4^exponent.
    struct Moments
    {
        qint64 count = 0;
        int exponent = 0;
        double mean = 0;
        double meanLow = 0;
        double m2 = 0;
        double min = std::numeric_limits<double>::infinity();
        double max = -std::numeric_limits<double>::infinity();
        qint64 nonFinite = 0;
    };
    // Directly, in two passes: a compensated sum for the mean, then the squared deviations with
    // the usual correction for the rounding of the mean.
    static Moments momentsOf(const double *values, int count);
    static Moments merged(const Moments &a, const Moments &b);
    // The same moments scaled by 2^-exponent instead (exponent at least a.exponent).
    static Moments rescaled(const Moments &m, int exponent);

private:
    Moments mergedBlocks(int channel, int firstBlock, int endBlock) const;

    const QVector<double> *time = nullptr;
    std::vector<const QVector<double> *> channels;
    std::vector<std::vector<Moments>> blocks; // per channel, per whole block summarised
};

// The statistics as a tab-separated table: a header line
// "channel<TAB>samples<TAB>mean<TAB>min<TAB>max<TAB>sd", then a line per channel ("CH1" ...).
// Numbers in their shortest round-trip text; mean, min and max empty without samples, sd below 2;
// an sd beyond the largest double is "too large to compute".
QByteArray statisticsText(const StretchStatistics &statistics);
// The same over the rows of a run whose time lies in [from, to] (the whole run for -inf, inf).
QByteArray statisticsText(const RecordedSeries &series, int channelCount, double from, double to);

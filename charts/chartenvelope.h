// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <limits>
#include <vector>

// What a stretch of one channel's records looks like when drawn: the first, lowest, highest and
// last finite value, how many records (finite or not) fall in it, and whether the curve is broken
// (CurveBreaks) before its first finite value or after its last one. A stretch with no finite
// value but some records breaks the curve (breakBefore).
struct EnvelopeBucket
{
    double first = 0;
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    double last = 0;
    quint32 records = 0;
    bool breakBefore = false, breakAfter = false;

    bool hasValues() const { return lowest <= highest; }
    // Adds one record; a non-finite value is counted but not drawn, and breaks the curve, as does
    // a record that starts a new line.
    void add(double value, bool startsLine = false);
    // Adds the records of a bucket that follows this one in time.
    void merge(const EnvelopeBucket &later);
};

// The charts' summary of the recording: time buckets of a power-of-two width, aligned at whole
// multiples of that width, each holding an EnvelopeBucket per channel. Records are added as they
// arrive (a few nanoseconds each); when the time range to draw grows, neighbouring buckets are
// merged pairwise, so the number of buckets follows the width of the chart, not the length of the
// run. Drawing the whole run then costs the same after ten seconds as after ten hours.
class ChartEnvelope
{
public:
    // Fitting keeps between MinBucketsPerColumn and twice that many buckets per pixel column.
    static constexpr int MinBucketsPerColumn = 2;
    // The column count assumed until a chart tells its width.
    static constexpr int DefaultColumns = 1024;

    explicit ChartEnvelope(int channels);

    int channels() const { return int(perChannel.size()); }
    // Forgets every record; the next fit() chooses the width afresh.
    void clear();
    // Makes the buckets fit a time range drawn over the given number of pixel columns, merging
    // them while they are finer than needed. Returns false if they are too coarse for it (the
    // chart got wider): then the caller rebuilds them with restart() and put().
    bool fit(double lower, double upper, int columns);
    // The width fit() aims at: the largest power of two that gives MinBucketsPerColumn buckets
    // to each column.
    static double widthFor(double lower, double upper, int columns);

    // Adds one record (values of channels 0..count-1; later channels get nothing). Times are
    // expected in order; a time before the last bucket is put into the last bucket. A record far
    // beyond the last fitted range (after a long pause) first widens the buckets, so that a gap
    // never costs more buckets than the chart has columns. startsLine: no line joins it to the
    // record before.
    void append(double time, const double *values, int count, bool startsLine = false);

    // For rebuilding: empties the envelope and sets the bucket width, then put() sets whole
    // buckets in increasing index order (perChannel has channels() entries).
    void restart(double width);
    void put(qint64 index, double firstTime, double lastTime, const EnvelopeBucket *buckets);

    double bucketWidth() const { return width; }
    // Bucket i covers times from (firstIndex() + i) * bucketWidth() up to the next bucket.
    qint64 firstIndex() const { return origin; }
    int size() const { return int(times.size()); }
    bool isEmpty() const { return times.empty(); }
    const EnvelopeBucket &at(int channel, int i) const { return perChannel[size_t(channel)][size_t(i)]; }
    // Times of the first and last record in bucket i (equal to the bucket's start if empty).
    double firstTime(int i) const { return times[size_t(i)].first; }
    double lastTime(int i) const { return times[size_t(i)].last; }

private:
    struct TimeSpan
    {
        double first = 0, last = 0;
        bool used = false;
    };

    qint64 indexOf(double time) const;
    void grow(qint64 index);
    void halve();

    double width = 0; // 0 until the first fit() or restart()
    qint64 origin = 0;
    double fittedLower = 0; // the range and columns of the last fit()
    int fittedColumns = DefaultColumns;
    std::vector<TimeSpan> times;
    std::vector<std::vector<EnvelopeBucket>> perChannel;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QVector>

#include <optional>
#include <vector>

class ChartEnvelope;
class SeriesPyramid;
struct EnvelopeBucket;

// From chart coordinates to the device pixels a curve is drawn in (y grows downwards).
struct PixelMapping
{
    double keyOffset = 0, keyScale = 1;     // x = keyOffset + keyScale * key
    double valueOffset = 0, valueScale = 1; // y = valueOffset + valueScale * value
    double left = 0;                        // x of the plot area's left edge
    int columns = 0;                        // pixel columns of the plot area

    double x(double key) const { return keyOffset + keyScale * key; }
    double key(double x) const { return (x - keyOffset) / keyScale; }
    // Values far off the chart are kept at a distance the painter handles well.
    double y(double value) const;
};

// What a curve does within half a pixel column: where its first and last record are, and the
// pixel rows its lowest and highest value reach (top <= bottom).
struct CurveCell
{
    quint32 records = 0;
    double firstX = 0, lastX = 0;
    double first = 0, last = 0;
    double top = 0, bottom = 0;
    bool has() const { return records > 0; }
};

// One curve cut into half-pixel columns over the plot area and a margin on each side, with the
// nearest record beyond the margin on each side (for lines that leave the plot area).
struct CurveCells
{
    static constexpr int PerColumn = 2;
    static constexpr int MarginCells = 8;

    double left = 0; // x of cell 0's left edge
    std::vector<CurveCell> cells;
    std::optional<QPointF> before, after;

    // Index of the cell that holds x (may be outside the vector).
    long long indexAt(double x) const;
    double centre(size_t index) const { return left + (double(index) + 0.5) / PerColumn; }
    // Adds a stretch of records whose first and last record are at (firstX, first) and
    // (lastX, last) and whose values reach the rows from top to bottom.
    void add(double firstX, double first, double lastX, double last, double top, double bottom,
             quint32 records);
};

// The curve of one channel from the envelope's buckets: cheap, and exact as long as the buckets
// are at most half a pixel column wide.
CurveCells sampleEnvelope(const ChartEnvelope &envelope, int channel, const PixelMapping &mapping);
// The curve of one channel from the recorded series themselves (times in order), for views the
// envelope is too coarse for: each cell's stretch is found by a search in the times and its
// lowest and highest value through the pyramid.
CurveCells sampleSeries(const QVector<double> &times, const QVector<double> &values,
                        const SeriesPyramid &pyramid, int channel, const PixelMapping &mapping);

// The first, lowest, highest and last finite value of values[begin, end) of a channel summarised
// by the pyramid, with the indices of the first and last (-1 if none was found near the ends: a
// stretch that starts or ends with many non-finite values takes its lowest and highest instead).
EnvelopeBucket summariseStretch(const double *values, const SeriesPyramid &pyramid, int channel, qint64 begin,
                                qint64 end, qint64 *firstIndex, qint64 *lastIndex);

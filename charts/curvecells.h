// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QVector>

#include <optional>
#include <vector>

class ChartEnvelope;
class CurveBreaks;
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

// What a curve does within a quarter of a pixel column: where its first and last record are, and
// the pixel rows its lowest and highest value reach (top <= bottom). Pixel positions are floats:
// a hundredth of a pixel is plenty. brokenBefore: no line comes in from the record before.
struct CurveCell
{
    long long index = 0; // of the quarter column
    quint32 records = 0;
    float firstX = 0, lastX = 0;
    float first = 0, last = 0;
    float top = 0, bottom = 0;
    bool brokenBefore = false;
};

// One curve cut into quarter-pixel columns over the plot area and a margin on each side (only
// those the curve passes through, in order), with the nearest record beyond the margin on each
// side (for lines that leave the plot area).
struct CurveCells
{
    static constexpr int PerColumn = 4;
    static constexpr int MarginCells = 4 * PerColumn;

    double left = 0;     // x of quarter column 0's left edge
    long long count = 0; // quarter columns from there to the margin's end on the right
    std::vector<CurveCell> cells;
    std::optional<QPointF> before, after;
    bool afterBroken = false; // no line goes from the last cell to `after`

    // Index of the quarter column that holds x (may be outside 0..count - 1).
    long long indexAt(double x) const;
    // Adds a stretch of records whose first and last record are at (firstX, first) and
    // (lastX, last) and whose values reach the rows from top to bottom, broken before its first
    // or after its last value or not. Stretches come in order.
    void add(double firstX, double first, double lastX, double last, double top, double bottom,
             quint32 records, bool breakBefore = false, bool breakAfter = false);
    // The same, in the quarter column given.
    void addAt(long long index, double firstX, double first, double lastX, double last, double top,
               double bottom, quint32 records, bool breakBefore, bool breakAfter);
    // Records with nothing to draw came between the last stretch and the next: the curve breaks.
    void addBreak() { pendingBreak = true; }
    // Empties the cells for a plot area mapped so.
    void start(const PixelMapping &mapping);

private:
    bool pendingBreak = false;
};

// The curve of one channel from the envelope's buckets: cheap, and close to exact as long as the
// buckets are at most half a pixel column wide. With fromX above the left margin, the cells left
// of it are left out but for one stretch of records before it (a redraw that keeps the drawing
// left of fromX needs only the lines coming in from there).
void sampleEnvelope(const ChartEnvelope &envelope, int channel, const PixelMapping &mapping, CurveCells *out,
                    double fromX = -1e300);
// The curve of one channel from the recorded series themselves (times in order), for views the
// envelope is too coarse for: each cell's stretch is found by a search in the times and its
// lowest and highest value through the pyramid. fromX as above.
void sampleSeries(const QVector<double> &times, const QVector<double> &values, const SeriesPyramid &pyramid,
                  const CurveBreaks &breaks, int channel, const PixelMapping &mapping, CurveCells *out,
                  double fromX = -1e300);

// The first, lowest, highest and last finite value of values[begin, end) of a channel summarised
// by the pyramid, whether the curve breaks before the first or after the last within the stretch,
// and the indices of the first and last finite value (-1 if there is none).
EnvelopeBucket summariseStretch(const double *values, const SeriesPyramid &pyramid, const CurveBreaks &breaks,
                                int channel, qint64 begin, qint64 end, qint64 *firstIndex, qint64 *lastIndex);

// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/valuefit.h"

#include "charts/chartdata.h"

#include <algorithm>
#include <cmath>

namespace {

// The value of the line from record i - 1 to record i at time, if both are finite.
bool lineAt(const double *t, const double *v, qint64 i, double time, double *value)
{
    const double a = v[i - 1], b = v[i];
    if (!std::isfinite(a) || !std::isfinite(b))
        return false;
    const double span = t[i] - t[i - 1];
    const double share = span > 0 ? std::clamp((time - t[i - 1]) / span, 0.0, 1.0) : 0.0;
    *value = a + (b - a) * share;
    return std::isfinite(*value);
}

} // namespace

bool curveExtent(const ChartData &data, int channel, const QCPRange &keys, QCPRange *extent)
{
    if (channel < 0 || channel >= data.channelsInUse())
        return false;
    const qint64 n =
        std::min({data.recordCount(), qint64(data.times().size()), qint64(data.values(channel).size())});
    if (n == 0)
        return false;
    const double *t = data.times().constData();
    const double *v = data.values(channel).constData();
    const qint64 begin = std::lower_bound(t, t + n, keys.lower) - t;
    const qint64 end = std::upper_bound(t + begin, t + n, keys.upper) - t;

    double lowest = 0, highest = 0;
    bool found = data.stretchBounds(channel, begin, end, &lowest, &highest);
    auto take = [&](double value) {
        lowest = found ? std::min(lowest, value) : value;
        highest = found ? std::max(highest, value) : value;
        found = true;
    };
    double value = 0;
    // Lines entering at the left end and leaving at the right end.
    if (begin > 0 && begin < n && t[begin] > keys.lower && lineAt(t, v, begin, keys.lower, &value))
        take(value);
    if (end > 0 && end < n && t[end - 1] < keys.upper && lineAt(t, v, end, keys.upper, &value))
        take(value);
    if (found)
        *extent = QCPRange(lowest, highest);
    return found;
}

QCPRange fittedValueRange(const QCPRange &extent)
{
    const double middle = extent.lower / 2 + extent.upper / 2;
    const double height = extent.upper - extent.lower;
    // Heights at the level of rounding errors are no height worth a chart's space.
    if (!(height > std::abs(middle) * 1e-9)) {
        const double half = std::max(1.0, std::abs(middle) / 10);
        return QCPRange(middle - half, middle + half);
    }
    return QCPRange(extent.lower - height * ValueFitMargin, extent.upper + height * ValueFitMargin);
}

QCPRange followedValueRange(const QCPRange &start, double lowest, double highest)
{
    const double low = std::min(start.lower, lowest), high = std::max(start.upper, highest);
    // A 16th of the span, taken end by end: no overflow near the largest doubles.
    const double sixteenth = high / 16 - low / 16;
    if (!(sixteenth > 0) || !std::isfinite(sixteenth))
        return QCPRange(low, high);
    int exponent = 0;
    std::frexp(sixteenth, &exponent); // sixteenth < 2^exponent <= 2 * sixteenth
    const double grid = std::ldexp(1.0, exponent);
    // The ends move out by up to two grid steps in all: a 32nd of the values' span is at least a
    // 64th of the span shown.
    const double room = sixteenth / 2;
    return QCPRange(std::min(start.lower, std::floor((lowest - room) / grid) * grid),
                    std::max(start.upper, std::ceil((highest + room) / grid) * grid));
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Statistics over a stretch of a run, for any doubles at all, against a plain computation in long
// double (whose range no sum or square of doubles leaves).
//
// Input: byte 0 picks where the stretch starts (as a share of the rows); the rest are the
// channel's values, 8 bytes each as they lie in memory. Checks, over the whole run and the
// stretch:
// - counts of finite and left-out values, minimum and maximum exactly;
// - the mean within 1e-12 of the larger of |mean| and the sd (a spread of values around zero
//   leaves no digits of a mean near 0 to be sure of, in any sum);
// - the sd within 1e-12 of itself, or "too large to compute" exactly where it is beyond a double.

#include "analysis/runstatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

[[noreturn]] void fail(const char *what, double got, long double expected)
{
    std::fprintf(stderr, "fuzz_statistics: %s: %.17g, not %.20Lg\n", what, got, expected);
    std::abort();
}

void check(RunStatistics &statistics, const QVector<double> &values, int first)
{
    const int end = values.size();
    qint64 count = 0, nonFinite = 0;
    double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
    long double sum = 0;
    for (int i = first; i < end; ++i) {
        if (!std::isfinite(values[i])) {
            ++nonFinite;
            continue;
        }
        ++count;
        sum += values[i];
        lowest = std::min(lowest, values[i]);
        highest = std::max(highest, values[i]);
    }
    const ChannelStatistics c = statistics.computeRows(first, end).channels.value(0);
    if (c.samples != count || c.nonFinite != nonFinite)
        fail("counts", double(c.samples), count);
    if (count == 0)
        return;
    if (c.min != lowest || c.max != highest)
        fail("extremes", c.min, lowest);
    const long double mean = sum / count;
    // Less what the rounding of the mean leaves in the deviations' sum: a mean rounded even to long
    // double is off by more than values a few units in the last place apart differ.
    long double squares = 0, deviations = 0;
    for (int i = first; i < end; ++i) {
        if (std::isfinite(values[i])) {
            squares += (values[i] - mean) * (values[i] - mean);
            deviations += values[i] - mean;
        }
    }
    squares -= deviations * deviations / count;
    const long double sd = count > 1 ? std::sqrt(std::max(0.0L, squares) / (count - 1)) : 0;
    // Results rounded to the subnormals' grid may differ by their last place.
    const long double tiny = 4 * std::numeric_limits<double>::denorm_min();
    if (std::fabs(c.mean - mean) > 1e-12L * std::max(std::fabs(mean), sd) + tiny)
        fail("mean", c.mean, mean);
    if (count < 2)
        return;
    const long double most = std::numeric_limits<double>::max();
    if (c.sdTooLarge()) {
        if (sd < most * (1 - 1e-12L))
            fail("sd said too large", c.sd, sd);
    } else if (sd > most * (1 + 1e-12L) || std::fabs(c.sd - sd) > 1e-12L * sd + tiny) {
        fail("sd", c.sd, sd);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QVector<double> time, values;
    for (size_t at = 1; at + sizeof(double) <= size; at += sizeof(double)) {
        double v;
        std::memcpy(&v, data + at, sizeof v);
        time.append(double(time.size()));
        values.append(v);
    }
    if (values.isEmpty())
        return 0;
    RecordedSeries series;
    series.time = &time;
    series.channels[0] = &values;
    RunStatistics statistics;
    statistics.setSeries(series, 1);
    check(statistics, values, 0);
    check(statistics, values, int(data[0] * qint64(values.size()) / 256));
    return 0;
}

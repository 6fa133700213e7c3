// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/runstatistics.h"

#include "data/csvnumber.h"

#include <QCoreApplication>

#include <algorithm>

void RunStatistics::setSeries(const RecordedSeries &series, int channelCount)
{
    time = series.time;
    channels.clear();
    for (int k = 0; k < std::clamp(channelCount, 0, 8); ++k)
        channels.push_back(series.channels[size_t(k)]);
    reset();
}

void RunStatistics::reset()
{
    blocks.assign(channels.size(), {});
}

int RunStatistics::rows() const
{
    if (!time)
        return 0;
    int n = time->size();
    for (const QVector<double> *c : channels)
        n = std::min(n, c ? c->size() : 0);
    return n;
}

void RunStatistics::update()
{
    update(std::numeric_limits<int>::max());
}

bool RunStatistics::update(int maxBlocks)
{
    const int wholeBlocks = rows() / BlockRows;
    bool complete = true;
    for (size_t k = 0; k < channels.size(); ++k) {
        std::vector<Moments> &summaries = blocks[k];
        if (int(summaries.size()) > wholeBlocks)
            summaries.clear(); // the series became shorter: they were emptied and refilled
        summaries.reserve(size_t(wholeBlocks));
        const double *values = channels[k]->constData();
        const int end = int(std::min<qint64>(wholeBlocks, qint64(summaries.size()) + std::max(maxBlocks, 0)));
        for (int b = int(summaries.size()); b < end; ++b)
            summaries.push_back(momentsOf(values + qint64(b) * BlockRows, BlockRows));
        complete = complete && end == wholeBlocks;
    }
    return complete;
}

StretchStatistics RunStatistics::compute(double from, double to)
{
    const int n = rows();
    if (!(from <= to) || n == 0)
        return computeRows(0, 0);
    const double *t = time->constData();
    const int first = int(std::lower_bound(t, t + n, from) - t);
    const int end = int(std::upper_bound(t + first, t + n, to) - t);
    return computeRows(first, end);
}

StretchStatistics RunStatistics::computeRows(int firstRow, int endRow)
{
    update();
    const int n = rows();
    StretchStatistics s;
    s.firstRow = std::clamp(firstRow, 0, n);
    s.endRow = std::clamp(endRow, s.firstRow, n);
    if (s.endRow > s.firstRow) {
        s.firstTime = (*time)[s.firstRow];
        s.lastTime = (*time)[s.endRow - 1];
    }
    // Whole blocks inside the stretch, and the partial ones at its ends.
    const int firstBlock = (s.firstRow + BlockRows - 1) / BlockRows;
    const int endBlock = s.endRow / BlockRows;
    for (size_t k = 0; k < channels.size(); ++k) {
        const double *values = channels[k]->constData();
        Moments m;
        if (firstBlock >= endBlock) {
            m = momentsOf(values + s.firstRow, s.endRow - s.firstRow);
        } else {
            const int headEnd = firstBlock * BlockRows;
            const int tailStart = endBlock * BlockRows;
            m = merged(merged(momentsOf(values + s.firstRow, headEnd - s.firstRow),
                              mergedBlocks(int(k), firstBlock, endBlock)),
                       momentsOf(values + tailStart, s.endRow - tailStart));
        }
        ChannelStatistics c;
        c.channel = int(k) + 1;
        c.samples = m.count;
        c.nonFinite = m.nonFinite;
        if (m.count > 0) {
            // Within the values however the last bit rounds.
            c.mean = std::clamp(std::ldexp(m.mean + m.meanLow, m.exponent), m.min, m.max);
            c.min = m.min;
            c.max = m.max;
        }
        // inf when beyond the largest double.
        if (m.count > 1)
            c.sd = std::ldexp(std::sqrt(std::max(0.0, m.m2) / double(m.count - 1)), m.exponent);
        s.channels.append(c);
    }
    return s;
}

RunStatistics::Moments RunStatistics::mergedBlocks(int channel, int firstBlock, int endBlock) const
{
    // Pairwise, so that rounding grows with the logarithm of the block count.
    if (endBlock - firstBlock == 1)
        return blocks[size_t(channel)][size_t(firstBlock)];
    const int middle = firstBlock + (endBlock - firstBlock) / 2;
    return merged(mergedBlocks(channel, firstBlock, middle), mergedBlocks(channel, middle, endBlock));
}

RunStatistics::Moments RunStatistics::momentsOf(const double *values, int count)
{
    Moments m;
    // First pass: the finite values' count and extremes, and from them the scale.
    for (int i = 0; i < count; ++i) {
        const double x = values[i];
        if (!std::isfinite(x)) {
            ++m.nonFinite;
            continue;
        }
        ++m.count;
        m.min = std::min(m.min, x);
        m.max = std::max(m.max, x);
    }
    if (m.count == 0)
        return m;
    // Scaled by a power of two (exactly) into [-1, 1]: no sum of them nor square overflows.
    std::frexp(std::max(std::fabs(m.min), std::fabs(m.max)), &m.exponent);
    const int e = -m.exponent;
    // Second pass: a compensated sum (Neumaier) of the scaled values.
    double sum = 0;
    double compensation = 0;
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i]))
            continue;
        const double x = std::ldexp(values[i], e);
        const double t = sum + x;
        compensation += std::fabs(sum) >= std::fabs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
    }
    const double n = double(m.count);
    m.mean = (sum + compensation) / n;
    m.meanLow = (std::fma(-m.mean, n, sum) + compensation) / n;
    // Third pass: squared deviations, less the square of their sum that the rounding of the
    // mean leaves.
    double squares = 0;
    double deviations = 0;
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i]))
            continue;
        const double d = std::ldexp(values[i], e) - m.mean;
        squares += d * d;
        deviations += d;
    }
    m.m2 = std::max(0.0, squares - deviations * deviations / double(m.count));
    return m;
}

RunStatistics::Moments RunStatistics::rescaled(const Moments &m, int exponent)
{
    Moments r = m;
    const int shift = m.exponent - exponent; // <= 0: only ever scaled down
    r.exponent = exponent;
    r.mean = std::ldexp(m.mean, shift);
    r.meanLow = std::ldexp(m.meanLow, shift);
    r.m2 = std::ldexp(m.m2, 2 * shift);
    return r;
}

RunStatistics::Moments RunStatistics::merged(const Moments &x, const Moments &y)
{
    if (x.count == 0 || y.count == 0) {
        Moments m = x.count == 0 ? y : x;
        m.nonFinite = x.nonFinite + y.nonFinite;
        return m;
    }
    // On the larger of the two scales, where the means of both are within [-1, 1].
    const int exponent = std::max(x.exponent, y.exponent);
    const Moments a = rescaled(x, exponent);
    const Moments b = rescaled(y, exponent);
    Moments m;
    m.exponent = exponent;
    m.count = a.count + b.count;
    const double delta = (b.mean - a.mean) + (b.meanLow - a.meanLow);
    const double na = double(a.count);
    const double nb = double(b.count);
    const double n = double(m.count);
    // The new mean and what rounding it leaves out (Knuth's two-sum).
    const double step = delta * (nb / n);
    m.mean = a.mean + step;
    const double stepKept = m.mean - a.mean;
    m.meanLow = a.meanLow + ((a.mean - (m.mean - stepKept)) + (step - stepKept));
    m.m2 = a.m2 + b.m2 + delta * delta * (na * nb / n);
    m.min = std::min(a.min, b.min);
    m.max = std::max(a.max, b.max);
    m.nonFinite = a.nonFinite + b.nonFinite;
    return m;
}

QString tooLargeToCompute()
{
    return QCoreApplication::translate("RunStatistics", "too large to compute");
}

QByteArray statisticsText(const StretchStatistics &statistics)
{
    QByteArray text("channel\tsamples\tmean\tmin\tmax\tsd\n");
    for (const ChannelStatistics &c : statistics.channels) {
        text += "CH" + QByteArray::number(c.channel) + '\t' + QByteArray::number(c.samples) + '\t';
        if (c.samples > 0) {
            appendCsvNumber(&text, c.mean);
            text += '\t';
            appendCsvNumber(&text, c.min);
            text += '\t';
            appendCsvNumber(&text, c.max);
        } else {
            text += "\t\t";
        }
        text += '\t';
        if (c.samples > 1 && c.sdTooLarge())
            text += tooLargeToCompute().toUtf8();
        else if (c.samples > 1)
            appendCsvNumber(&text, c.sd);
        text += '\n';
    }
    return text;
}

QByteArray statisticsText(const RecordedSeries &series, int channelCount, double from, double to)
{
    RunStatistics statistics;
    statistics.setSeries(series, channelCount);
    return statisticsText(statistics.compute(from, to));
}

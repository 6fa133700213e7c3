// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/seriespyramid.h"

#include "data/recordparser.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

void SeriesPyramid::clear()
{
    for (auto &levels : blocks) {
        for (auto &level : levels)
            level = std::vector<Block>();
    }
    records = 0;
}

void SeriesPyramid::append(const double *values, int count)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    const int n = std::clamp(count, 0, MaxChannels);
    for (int c = 0; c < n; ++c) {
        const double v = values[c];
        const bool finite = std::isfinite(v);
        for (int level = 0; level < Levels; ++level) {
            std::vector<Block> &row = blocks[size_t(c)][size_t(level)];
            const size_t index = size_t(records >> (FanoutBits * (level + 1)));
            if (index == row.size()) {
                if (level == 0 && row.size() == row.capacity())
                    reserveForLongRun(c);
                row.push_back(Block{inf, -inf});
            }
            if (finite) {
                Block &b = row[index];
                b.lowest = std::min(b.lowest, v);
                b.highest = std::max(b.highest, v);
            }
        }
    }
    ++records;
}

void SeriesPyramid::reserveForLongRun(int channel)
{
    // Growing a level copies it whole; at millions of records that would hold up the reader.
    // Only address space is taken; if even that can't be had, the levels grow as they need.
    try {
        for (int level = 0; level < Levels; ++level) {
            std::vector<Block> &row = blocks[size_t(channel)][size_t(level)];
            row.reserve(std::max(row.capacity(), size_t(LongRunRecords >> (FanoutBits * (level + 1))) + 1));
        }
    } catch (const std::bad_alloc &) {
    }
}

bool SeriesPyramid::range(int channel, const double *series, qint64 begin, qint64 end, double *lowest,
                          double *highest) const
{
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    begin = std::max<qint64>(begin, 0);
    end = std::min(end, records);
    if (channel < 0 || channel >= MaxChannels || begin >= end)
        return false;
    const auto &levels = blocks[size_t(channel)];
    // Walk up: at each level take the loose ends up to whole blocks of the next level, then go on
    // with those blocks. Level -1 is the series itself.
    for (int level = -1; begin < end; ++level) {
        auto take = [&](qint64 from, qint64 to) {
            for (qint64 i = from; i < to; ++i) {
                if (level < 0) {
                    const double v = series[i];
                    if (std::isfinite(v)) {
                        lo = std::min(lo, v);
                        hi = std::max(hi, v);
                    }
                } else {
                    const Block &b = levels[size_t(level)][size_t(i)];
                    lo = std::min(lo, b.lowest);
                    hi = std::max(hi, b.highest);
                }
            }
        };
        const qint64 blockBegin = (begin + Fanout - 1) >> FanoutBits;
        const qint64 blockEnd = end >> FanoutBits;
        if (level + 1 >= Levels || blockBegin >= blockEnd) {
            take(begin, end);
            break;
        }
        take(begin, blockBegin << FanoutBits);
        take(blockEnd << FanoutBits, end);
        begin = blockBegin;
        end = blockEnd;
    }
    *lowest = lo;
    *highest = hi;
    return lo <= hi;
}

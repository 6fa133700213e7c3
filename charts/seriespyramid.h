// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"

#include <QtGlobal>

#include <array>
#include <vector>

// Lowest and highest finite value of blocks of 32, 32^2, ... records of each channel, kept as
// records arrive. With it the lowest and highest value of any stretch of a channel's series is
// found in a few hundred steps however long the stretch, which is what lets a zoomed chart draw
// from the full-resolution series at a bounded cost. It costs about half a byte per record and
// channel; the series themselves are not copied.
class SeriesPyramid
{
public:
    static constexpr int FanoutBits = 5;
    static constexpr int Fanout = 1 << FanoutBits;
    static constexpr int Levels = 5; // blocks of up to 32^5 records

    void clear();
    // Adds one record: values of channels 0..count-1.
    void append(const double *values, int count);
    qint64 size() const { return records; }

    // The lowest and highest finite value of series[begin, end), where series is the channel's
    // whole series as summarised here. Returns false if there is none.
    bool range(int channel, const double *series, qint64 begin, qint64 end, double *lowest,
               double *highest) const;

private:
    void reserveForLongRun(int channel);

    struct Block
    {
        double lowest, highest;
    };

    std::array<std::array<std::vector<Block>, Levels>, MaxChannels> blocks;
    qint64 records = 0;
};

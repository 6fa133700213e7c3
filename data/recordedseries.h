// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>

#include <array>

// The run's core types, shared by every library: the unit's sensors and channels, one record's
// values, and the recorded series a window keeps of a run.

// A unit has up to four sensors; sensor s gives channel 2s - 1 (heat flux, W/m2) and channel 2s
// (temperature, C).
constexpr int MaxSensors = 4;
constexpr int MaxChannels = 2 * MaxSensors;
// Records a run's stores make room for before their first (2^24: 48 hours at the most lines a
// second 9600 baud carries), so that they need not grow, and copy themselves, while it goes on.
constexpr int LongRunRecords = 1 << 24;

// One sample: channel k (1-based) is values[k - 1]; only the first 2N entries are meaningful.
using RecordValues = std::array<double, MaxChannels>;

// A run's recorded series, read where they lie (never copied): the elapsed time of each sample
// and the eight channel series (channel k is channels[k - 1]; those of absent sensors may be
// empty).
struct RecordedSeries
{
    const QVector<double> *time = nullptr;
    std::array<const QVector<double> *, MaxChannels> channels{};
};

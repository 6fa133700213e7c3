// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A wall test through a change of weather, on a simulated wall with a known thermal resistance:
// a solid masonry wall, plastered both sides, settled in mild weather, then a cold front. The
// tests check the dynamic method against it and the benchmark times it.

#include "support/simulatedwall.h"

#include <cmath>
#include <functional>

namespace wallweather {

constexpr double Hour = 3600, Day = 86400;

inline std::vector<WallLayer> masonry()
{
    return {{0.015, 0.7, 1.4e6, 3}, {0.365, 0.8, 1.5e6, 36}, {0.02, 0.9, 1.6e6, 4}};
}

inline double warmSide(double t)
{
    return 20 + 0.6 * std::sin(2 * M_PI * (t / Day - 0.3));
}

// Outside: a daily swing, the front at day 3 bringing the mean from 10 to -2 degC over about
// a day, and a milder spell from day 7.
inline double coldSide(double t)
{
    const double d = t / Day;
    const double front = 12 / (1 + std::exp(-(d - 3.0) / 0.2));
    const double thaw = 7 / (1 + std::exp(-(d - 7.0) / 0.3));
    return 10 - front + thaw + 3.5 * std::sin(2 * M_PI * (d - 0.4));
}

// Calls record(t, q, T_si, T_se) every step seconds for the given days, the wall settled at t = 0.
inline double run(double days, double step, const std::function<void(double, double, double, double)> &record)
{
    SimulatedWall wall(masonry());
    wall.settle(warmSide(0), coldSide(0));
    record(0, (warmSide(0) - coldSide(0)) / wall.resistance(), warmSide(0), coldSide(0));
    for (double t = step; t <= days * Day + step / 2; t += step) {
        const double q = wall.step(step, warmSide(t), coldSide(t));
        record(t, q, warmSide(t), coldSide(t));
    }
    return wall.resistance();
}

} // namespace wallweather

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltest.h"

#include <functional>

// What the operator chooses for a wall test: the sensor whose heat flux is measured (on the warm
// side), the sensors whose temperatures are the warm- and cold-side surface temperatures, and the
// method's settings. Remembered between runs.
struct WallTestSetup
{
    int heatFluxSensor = 1;
    int warmSensor = 1;
    int coldSensor = 2;
    WallTestSettings settings;

    WallTestChannels channels() const
    {
        return {WallTestChannels::heatFluxOf(heatFluxSensor), WallTestChannels::temperatureOf(warmSensor),
                WallTestChannels::temperatureOf(coldSensor)};
    }
    bool operator==(const WallTestSetup &o) const
    {
        return heatFluxSensor == o.heatFluxSensor && warmSensor == o.warmSensor &&
               coldSensor == o.coldSensor && settings.heavy == o.settings.heavy &&
               settings.rsi == o.settings.rsi && settings.rse == o.settings.rse &&
               settings.capacity == o.settings.capacity;
    }
    bool operator!=(const WallTestSetup &o) const { return !(*this == o); }
};

// Where a window keeps the setup between runs: read once when the panel is made, written with
// each change the operator makes.
struct WallTestMemory
{
    std::function<WallTestSetup()> load = [] { return WallTestSetup(); };
    std::function<void(const WallTestSetup &)> store = [](const WallTestSetup &) {};
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltest.h"

#include <array>
#include <functional>

// What the operator chooses for a wall test: the sensor whose heat flux is measured (on the warm
// side), the sensors whose temperatures are the warm- and cold-side surface temperatures, and the
// method's settings, and each sensor's temperature coefficient. Remembered between runs.
struct WallTestSetup
{
    int heatFluxSensor = 1;
    int warmSensor = 1;
    int coldSensor = 2;
    WallTestSettings settings; // its correction is the heat-flux sensor's, set by testSettings()
    std::array<FluxCorrection, 4> corrections{};
    // The element tested and where, as the operator types them, for the report.
    QString element, place;

    WallTestChannels channels() const
    {
        return {WallTestChannels::heatFluxOf(heatFluxSensor), WallTestChannels::temperatureOf(warmSensor),
                WallTestChannels::temperatureOf(coldSensor), WallTestChannels::temperatureOf(heatFluxSensor)};
    }
    // The settings with the heat-flux sensor's correction.
    WallTestSettings testSettings() const
    {
        WallTestSettings s = settings;
        if (heatFluxSensor >= 1 && heatFluxSensor <= int(corrections.size()))
            s.correction = corrections[size_t(heatFluxSensor - 1)];
        return s;
    }
    bool operator==(const WallTestSetup &o) const
    {
        return heatFluxSensor == o.heatFluxSensor && warmSensor == o.warmSensor &&
               coldSensor == o.coldSensor && settings.heavy == o.settings.heavy &&
               settings.rsi == o.settings.rsi && settings.rse == o.settings.rse &&
               settings.capacity == o.settings.capacity && settings.step == o.settings.step &&
               corrections == o.corrections && element == o.element && place == o.place;
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

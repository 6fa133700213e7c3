// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/dynamicmethod.h"
#include "analysis/walltest.h"

#include <QString>

#include <array>

// What the wall-test panel says about a state, as texts with their units: the numbers in the
// operator's terms (times in hours of the run, as its records have them; R in m²K/W, U in
// W/(m²K)) and each verdict in words, so that none of it is told by colour alone.
struct WallTestTexts
{
    struct Criterion
    {
        QString name;    // "A" .. "D"
        QString meaning; // what it asks, in plain words
        QString verdict; // "pass", "fail" or "not assessed"
        QString detail;  // the numbers it was judged on
        QString firstPassed, lastPassed;
    };

    QString resistance;    // "R = 2.513 m²K/W", or why there is none
    QString transmittance; // "U = 0.3745 W/(m²K)", or why there is none
    QString flowProblem;   // the reason heat flows the other way, or empty
    QString extent;        // the records' span and counts, and where a heavy element is judged
    std::array<Criterion, 4> criteria;
    QString mayStop; // "The test may stop: ... since 72.00 h", or what still fails
    bool stopAllowed = false;
};

WallTestTexts describeWallTest(const WallTestState &state, const WallTestSettings &settings);

// What the panel says about the dynamic method's result (none: being computed).
struct DynamicTexts
{
    QString resistance;    // "R = 2.513 m²K/W (95 %: 2.50 to 2.53)", or that there is none
    QString transmittance; // "U = ... W/(m²K) (95 %: ... to ...)"
    QString model;         // the candidate that won and what it was fitted to, or why there is no R
};
DynamicTexts describeDynamic(const DynamicResult *result);

// A record's time in seconds as hours of the run ("72.00 h").
QString hoursText(double seconds);

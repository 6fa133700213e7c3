// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/measuringgaps.h"

#include <algorithm>
#include <cmath>

void MeasuringGaps::quietFrom(double time)
{
    if (std::isnan(time))
        return;
    const auto at = std::upper_bound(quiet.begin(), quiet.end(), time);
    // A moment before records already asked about changes nothing for them.
    if (size_t(at - quiet.begin()) < nextQuiet)
        ++nextQuiet;
    quiet.insert(at, time);
}

bool MeasuringGaps::startsLine(double time)
{
    if (!std::isfinite(time))
        return false;
    bool gap = false;
    // A moment told between the last record and this one.
    while (nextQuiet < quiet.size() && quiet[nextQuiet] < time) {
        gap = gap || (any && quiet[nextQuiet] >= last);
        ++nextQuiet;
    }
    if (any) {
        const double step = time - last;
        if (!gap && stepCount > 0 && step > MinGapSeconds && step > SpacingFactor * usualSpacing())
            gap = true;
        if (!gap && step >= 0) {
            steps[size_t(nextStep)] = step;
            nextStep = (nextStep + 1) % SpacingSteps;
            stepCount = std::min(stepCount + 1, SpacingSteps);
        }
    }
    any = true;
    last = time;
    return gap;
}

double MeasuringGaps::usualSpacing() const
{
    if (stepCount == 0)
        return 0;
    // Summed afresh each time: the same steps give the same spacing whatever came before them.
    double sum = 0;
    for (int i = 0; i < stepCount; ++i)
        sum += steps[size_t(i)];
    return sum / stepCount;
}

void MeasuringGaps::restart()
{
    nextQuiet = 0;
    any = false;
    last = 0;
    stepCount = 0;
    nextStep = 0;
}

void MeasuringGaps::clear()
{
    restart();
    quiet.clear();
}

bool endsMeasuring(RunEventKind kind)
{
    return kind == RunEventKind::Pause || kind == RunEventKind::UnitLost;
}

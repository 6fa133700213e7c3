// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/rundescription.h"

#include <array>
#include <vector>

// Where the unit measured nothing between two records of a run, so that no line may join them:
// a moment after one record and before the next from which nothing was measured (a pause, the
// unit gone: endsMeasuring), or a step in time larger than the run's usual spacing allows (the
// unit silent, a gap in a file). ChartData asks it record by record, in the order of the run, for
// a run recorded now and a run read back alike: the live window tells it the run's moments as
// they happen, a review window those of the recording's description before its records, so a run
// read back breaks where it broke live.
class MeasuringGaps
{
public:
    // A step is a gap when it is more than this many times the usual spacing...
    static constexpr double SpacingFactor = 5;
    // ...and longer than this (seconds): records stamped late by a window held up for a moment
    // were measured all the same.
    static constexpr double MinGapSeconds = 2;
    // The usual spacing is the mean of the last this many steps that were not gaps (a mean, so
    // that records read together and stamped alike count as evenly spaced).
    static constexpr int SpacingSteps = 16;

    // Nothing was measured from time on until the first record after it.
    void quietFrom(double time);
    // Whether the record at time, following the records asked about so far, starts a new line.
    bool startsLine(double time);
    // Goes back to before the run's first record; the moments told stay.
    void restart();
    // Forgets the moments too (a new run).
    void clear();

    // The usual spacing now (seconds), 0 before the second record.
    double usualSpacing() const;
    // The last record's time, and whether there is one.
    bool hasRecords() const { return any; }
    double lastTime() const { return last; }

private:
    std::vector<double> quiet; // in order
    size_t nextQuiet = 0;      // the first not yet passed by a record
    bool any = false;
    double last = 0;
    std::array<double, SpacingSteps> steps{};
    int stepCount = 0;
    int nextStep = 0;
};

// Whether a moment of the run means that nothing was measured after it until the next record.
bool endsMeasuring(RunEventKind kind);

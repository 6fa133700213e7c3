// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The benchmark's scenarios. Each prints its figures as it goes and adds the ones that have a
// goal to the summary printed at the end.

#include "bench/benchrig.h"
#include "bench/support/eventcounts.h"

#include <QString>

#include <functional>
#include <vector>

namespace bench {

struct Options
{
    bool quick = false;
    bool longRun = false;
    bool events = false;        // count the programs' events by type, and print them
    QString perfFolder;         // when set: perf records each program in each phase of the shipped scenario
    const XServer *x = nullptr; // null: the offscreen platform
};

// A figure against its goal, for the summary.
struct Goal
{
    QString figure, measured, goal;
};
std::vector<Goal> &goals();

// The recording grown to sizes (5,000 to 1e6, 1e7 with --long): at each, the unit at 96 lines/s,
// the cost of a redraw against the empty charts, CPU per record; atSize runs other scenarios on
// the run as it is at a size. Then memory per record, CSV save speed and a save during the run.
struct GrowthRow
{
    int records;
    double perRecordUs, redrawMs, wholeRedrawMs;
    LineRateFigures live;
};
void growthScenario(Bench &bench, const Options &options, const std::function<void(int size)> &atSize);

// A run from its first record: the unit at a line rate for a while, charts following.
void startOfRunScenario(const Options &options, int sensors, double linesPerSecond, double seconds);

// A 10-second window of the run zoomed in, kept on the newest records as they come (moved on
// when they reach its end, as an operator following them would).
void zoomedScenario(Bench &bench, const Options &options, double linesPerSecond, double seconds);

// The acquisition window unmapped (as a window manager does when it is minimised), then covered
// by another window, while the unit sends.
void hiddenScenario(Bench &bench, const Options &options, double linesPerSecond, double seconds);

// The live recording's cost: the same short run with it and without it.
void recordingScenario(const Options &options);

// The shipped programs (`quellspan-demo` and `quellspan`) run as a user runs them, in processes
// of their own on the X server, beside the rig in the same run: the start of a run, 96 lines/s
// after 1e5 records, the window unmapped.
void shippedScenario(const Options &options);
// Publishing's cost at the unit's full line rate, against the same run not published, and how fast
// a backlog of 1e6 records reaches a local broker (a mosquitto of its own).
void publishingScenario(const Options &options);

// Watching a rig: a remote window following the rig at the full line rate beside the rig's own
// program, the rig's time stamps while it answers history requests, and a history of 1e6 records
// to a viewer on a local broker.
void remoteScenario(const Options &options);

// Writes a recording of count records of 4 sensors, as the live recording writes them.
bool writeRecording(const QString &path, int count);

} // namespace bench

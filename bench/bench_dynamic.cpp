// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic method's cost: the whole grid search over 14 days (and 60 days) of hourly means from
// the simulated wall through a change of weather, and summing a day of 1-s records into intervals.

#include "analysis/dynamicmethod.h"
#include "analysis/walltest.h"
#include "support/wallweather.h"

#include <QElapsedTimer>

#include <cstdio>

int main()
{
    for (double days : {14.0, 60.0}) {
        WallTest test;
        wallweather::run(days, 60,
                         [&](double t, double q, double tsi, double tse) { test.append(t, q, tsi, tse); });
        const std::vector<DynamicInterval> means = test.intervalMeans().whole();
        DynamicResult result;
        QElapsedTimer timer;
        timer.start();
        int runs = 0;
        do {
            result = DynamicMethod::analyse(means, DynamicMethod::DefaultStep);
            ++runs;
        } while (timer.elapsed() < 2000 && runs < 20);
        const double ms = double(timer.nsecsElapsed()) / 1e6 / runs;
        std::printf(
            "dynamic method, %g days of hourly means (%zu intervals, %d candidates): %.1f ms per analysis "
            "(mean of %d); R %.4f [%.4f, %.4f], m %d\n",
            days, means.size(), result.candidates, ms, runs, *result.r, *result.rLow, *result.rHigh,
            result.fit.candidate.m);
    }
    IntervalMeans means;
    QElapsedTimer timer;
    timer.start();
    for (int t = 0; t < 86400; ++t)
        means.add(t, 10, 20, 5);
    std::printf("summing a day of 1-s records into intervals: %.2f ms\n", double(timer.nsecsElapsed()) / 1e6);
}

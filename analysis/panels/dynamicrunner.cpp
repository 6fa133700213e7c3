// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/panels/dynamicrunner.h"

#include <QtConcurrent>

DynamicRunner::DynamicRunner(QObject *parent) : QObject(parent)
{
    connect(&watcher, &QFutureWatcher<DynamicResult>::finished, this, &DynamicRunner::done);
}

DynamicRunner::~DynamicRunner()
{
    watcher.waitForFinished();
}

void DynamicRunner::request(std::vector<DynamicInterval> intervals, double step, double rsi, double rse)
{
    Request r{std::move(intervals), step, rsi, rse};
    if (watcher.isRunning())
        waiting = std::move(r);
    else
        start(std::move(r));
}

void DynamicRunner::forget()
{
    ++generation;
    waiting.reset();
    result.reset();
}

void DynamicRunner::start(Request r)
{
    runningOf = generation;
    ++runs;
    watcher.setFuture(QtConcurrent::run(
        [r = std::move(r)] { return DynamicMethod::analyse(r.intervals, r.step, r.rsi, r.rse); }));
}

void DynamicRunner::done()
{
    const bool current = runningOf == generation;
    if (current)
        result = watcher.result();
    if (waiting) {
        Request next = std::move(*waiting);
        waiting.reset();
        start(std::move(next));
    }
    if (current)
        emit finished();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/dynamicmethod.h"

#include <QFutureWatcher>
#include <QObject>

#include <optional>
#include <vector>

// Runs the dynamic method on a worker thread (the global thread pool) for a window that must not
// wait for it: one analysis at a time, and of the requests made meanwhile only the latest runs
// when it ends. A request after forget() makes results of earlier ones count for nothing.
class DynamicRunner : public QObject
{
    Q_OBJECT

public:
    explicit DynamicRunner(QObject *parent = nullptr);
    ~DynamicRunner() override; // waits for an analysis still running

    void request(std::vector<DynamicInterval> intervals, double step, double rsi, double rse);
    void forget();
    bool isBusy() const { return watcher.isRunning() || waiting.has_value(); }
    // The result of the latest request that finished since forget(), if any.
    const std::optional<DynamicResult> &latest() const { return result; }
    int analysesRun() const { return runs; }

signals:
    void finished();

private:
    struct Request
    {
        std::vector<DynamicInterval> intervals;
        double step, rsi, rse;
    };
    void start(Request request);
    void done();

    QFutureWatcher<DynamicResult> watcher;
    std::optional<Request> waiting;
    std::optional<DynamicResult> result;
    quint64 generation = 0; // of the requests
    quint64 runningOf = 0;  // the generation the running analysis belongs to
    int runs = 0;
};

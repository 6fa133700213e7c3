// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// Does something at most every interval ms, however often it is asked for: a request while the
// interval since it was last done runs makes it happen once, when the interval is up. The owner
// says when the work was really done (done()), so that work it skipped (nothing to show, a hidden
// window) does not hold up the next.
class Pacer
{
public:
    Pacer(int intervalMs, std::function<void()> work, Qt::TimerType timerType = Qt::CoarseTimer);
    Pacer(const Pacer &) = delete;
    Pacer &operator=(const Pacer &) = delete;

    // The interval may change (a dear redraw asks for a longer pause after it); it counts from the
    // next request on.
    void setInterval(qint64 ms) { intervalMs = ms; }
    qint64 interval() const { return intervalMs; }

    // Whether the interval since the work was last done is up (always, before it was first done).
    bool isDue() const;
    // Has the work done once the interval is up, and not before the event loop's next turn;
    // nothing more while a request waits.
    void request();
    // A request waits.
    bool isPending() const { return timer.isActive(); }
    // Drops a waiting request.
    void cancel() { timer.stop(); }
    // The work was done now: the interval starts again.
    void done() { sinceDone.start(); }

private:
    qint64 sinceDoneMs() const;

    qint64 intervalMs;
    std::function<void()> work;
    QTimer timer;
    QElapsedTimer sinceDone;
};

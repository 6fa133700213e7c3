// SPDX-License-Identifier: GPL-3.0-or-later
#include "pacing/pacer.h"

#include <algorithm>

Pacer::Pacer(int intervalMs, std::function<void()> work, Qt::TimerType timerType)
    : intervalMs(intervalMs), work(std::move(work))
{
    timer.setSingleShot(true);
    timer.setTimerType(timerType);
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { this->work(); });
}

qint64 Pacer::sinceDoneMs() const
{
    return sinceDone.isValid() ? sinceDone.elapsed() : intervalMs;
}

bool Pacer::isDue() const
{
    return sinceDoneMs() >= intervalMs;
}

void Pacer::request()
{
    if (timer.isActive())
        return;
    timer.start(int(std::max<qint64>(0, intervalMs - sinceDoneMs())));
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "pacing/slicedwork.h"

#include <QElapsedTimer>

SlicedWork::SlicedWork(std::function<void()> nextSlice, int sliceMs) : sliceMs(sliceMs)
{
    timer.setSingleShot(true);
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, &timer, std::move(nextSlice));
}

bool SlicedWork::runSlice(const std::function<bool()> &step)
{
    QElapsedTimer slice;
    slice.start();
    bool complete = false;
    while (!(complete = step()) && slice.elapsed() < sliceMs) {
    }
    if (complete)
        timer.stop();
    else
        timer.start();
    return complete;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>

#include <functional>

// Work too long for one turn of the event loop (catching up with a long run), done in slices:
// each slice takes steps for at most about sliceMs, and when work is left the next slice is asked
// for at the event loop's next turn, so that the window keeps answering meanwhile.
class SlicedWork
{
public:
    // nextSlice: what runs at the next turn when work is left (typically whatever ran this slice).
    explicit SlicedWork(std::function<void()> nextSlice, int sliceMs);
    SlicedWork(const SlicedWork &) = delete;
    SlicedWork &operator=(const SlicedWork &) = delete;

    // How long a slice may take; 0 takes one step per slice.
    void setSliceMs(int ms) { sliceMs = ms; }

    // Calls step (which returns whether the work is complete) until the work is complete or the
    // slice's time is up, once at least. Returns whether it is complete; when not, the next slice
    // is asked for.
    bool runSlice(const std::function<bool()> &step);
    // A next slice is asked for.
    bool isPending() const { return timer.isActive(); }
    // Asks for no next slice (the work was started over, or is no longer wanted).
    void cancel() { timer.stop(); }

private:
    int sliceMs;
    QTimer timer;
};

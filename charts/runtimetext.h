// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

// How the times of a run are shown to people: as elapsed seconds (the recording's own unit), as
// hours and minutes of the run, as days, hours and minutes, or as the clock time at which the
// record was taken (the run's start plus its elapsed time).
enum class TimeStyle
{
    Seconds,
    Hours,
    DaysHours,
    ClockTime,
};

// The style's name as the settings keep it ("seconds", "hours", "days", "clock"), and back (an
// unknown name reads as Seconds).
QString timeStyleName(TimeStyle style);
TimeStyle timeStyleFromName(const QString &name);

// A style with the run's start, for writing the run's times.
struct RunTimeFormat
{
    TimeStyle style = TimeStyle::Seconds;
    QDateTime start; // the wall-clock time of the run's time 0; invalid when unknown

    // Clock time needs the run's start: without one, the run's hours stand in for it.
    TimeStyle effective() const;
    // A time to the millisecond: "61412.700 s", "17:03:32.700", "0 d 17:03:32.700",
    // "2026-12-08 14:05:09.250" (local time).
    QString text(double seconds) const;
    // What a column of such times is headed: "Time (s)", "Time (h:mm:ss)", "Time (d hh:mm:ss)",
    // "Clock time".
    QString heading() const;
};

// The style every window shows, chosen in the charts' context menu and remembered between runs.
class TimeStyleChoice : public QObject
{
    Q_OBJECT

public:
    static TimeStyleChoice *instance();

    TimeStyle style() const { return chosen; }
    // Shows every window's times in style from now on, and remembers it.
    void setStyle(TimeStyle style);
    // Where the choice is kept between runs (by default nowhere): read now, written on change.
    void setMemory(const std::function<TimeStyle()> &load, std::function<void(TimeStyle)> store);

signals:
    void changed(TimeStyle style);

private:
    TimeStyle chosen = TimeStyle::Seconds;
    std::function<void(TimeStyle)> keep;
};

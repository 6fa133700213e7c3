// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/runtimetext.h"

#include "charts/timeparts.h"
#include "data/csvnumber.h"

#include <QCoreApplication>

#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("RunTimeFormat", text);
}

const char *const Names[] = {"seconds", "hours", "days", "clock"};

} // namespace

QString timeStyleName(TimeStyle style)
{
    return QLatin1String(Names[int(style)]);
}

TimeStyle timeStyleFromName(const QString &name)
{
    for (int i = 0; i < 4; ++i) {
        if (name == QLatin1String(Names[i]))
            return TimeStyle(i);
    }
    return TimeStyle::Seconds;
}

TimeStyle RunTimeFormat::effective() const
{
    return style == TimeStyle::ClockTime && !start.isValid() ? TimeStyle::Hours : style;
}

QString RunTimeFormat::text(double seconds) const
{
    const TimeStyle shown = effective();
    if (shown == TimeStyle::Seconds || !TimeParts::fits(seconds))
        return translated("%1 s").arg(shownNumber(seconds, 3));
    const TimeParts parts(seconds, 3);
    switch (shown) {
    case TimeStyle::Hours:
        return parts.hoursText(true, 3);
    case TimeStyle::DaysHours:
        return parts.daysText(true, 3);
    default:
        break;
    }
    return start.addMSecs(parts.totalMs()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString RunTimeFormat::heading() const
{
    switch (effective()) {
    case TimeStyle::Seconds:
        break;
    case TimeStyle::Hours:
        return translated("Time (h:mm:ss)");
    case TimeStyle::DaysHours:
        return translated("Time (d hh:mm:ss)");
    case TimeStyle::ClockTime:
        return translated("Clock time");
    }
    return translated("Time (s)");
}

TimeStyleChoice *TimeStyleChoice::instance()
{
    static TimeStyleChoice choice;
    return &choice;
}

void TimeStyleChoice::setStyle(TimeStyle style)
{
    if (style == chosen)
        return;
    chosen = style;
    if (keep)
        keep(style);
    emit changed(style);
}

void TimeStyleChoice::setMemory(const std::function<TimeStyle()> &load, std::function<void(TimeStyle)> store)
{
    keep = std::move(store);
    const TimeStyle kept = load ? load() : TimeStyle::Seconds;
    if (kept != chosen) {
        chosen = kept;
        emit changed(kept);
    }
}

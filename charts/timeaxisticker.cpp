// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/timeaxisticker.h"

#include "charts/timeparts.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Minute = 60, Hour = 3600, Day = 86400;

// Steps people count a run's time in, up to a few days; longer ones are 1, 2 or 5 times a power
// of ten of days.
const double NiceSteps[] = {0.001,       0.002,       0.005,       0.01,    0.02,       0.05,
                            0.1,         0.2,         0.5,         1,       2,          5,
                            10,          15,          30,          Minute,  2 * Minute, 5 * Minute,
                            10 * Minute, 15 * Minute, 30 * Minute, Hour,    2 * Hour,   3 * Hour,
                            6 * Hour,    12 * Hour,   Day,         2 * Day, 5 * Day,    7 * Day};

// The digits after the second a step needs.
int decimalsFor(double step)
{
    int decimals = 0;
    while (decimals < 3 &&
           std::abs(step * std::pow(10.0, decimals) - std::round(step * std::pow(10.0, decimals))) > 1e-9)
        ++decimals;
    return decimals;
}

// Where the ticks start: the run's time 0, or for clock times the local midnight before the start.
double originFor(const RunTimeFormat &format)
{
    if (format.effective() != TimeStyle::ClockTime)
        return 0;
    return -format.start.time().msecsSinceStartOfDay() / 1000.0;
}

} // namespace

TimeAxisTicker::TimeAxisTicker(std::function<RunTimeFormat()> format) : format(std::move(format)) {}

double TimeAxisTicker::stepFor(const QCPRange &range) const
{
    const double wanted = range.size() / std::max(1, tickCount());
    for (double step : NiceSteps) {
        if (step >= wanted)
            return step;
    }
    double days = 10;
    while (true) {
        for (double mantissa : {1.0, 2.0, 5.0}) {
            if (mantissa * days * Day >= wanted)
                return mantissa * days * Day;
        }
        days *= 10;
    }
}

QVector<QString> TimeAxisTicker::labels(const QVector<double> &ticks, double step,
                                        const RunTimeFormat &format)
{
    QVector<QString> texts;
    texts.reserve(ticks.size());
    const TimeStyle style = format.effective();
    const int decimals = decimalsFor(step);
    const bool seconds = step < Minute || std::fmod(step, Minute) != 0;
    QDate shownDate;
    for (double tick : ticks) {
        const TimeParts parts(tick, decimals);
        if (style == TimeStyle::Hours) {
            texts << parts.hoursText(seconds, decimals);
        } else if (style == TimeStyle::DaysHours) {
            texts << (step >= Day && std::fmod(step, Day) == 0
                          ? QStringLiteral("%1 d").arg(std::llround(tick / Day))
                          : parts.daysText(seconds, decimals));
        } else {
            const QDateTime at = format.start.addMSecs(parts.totalMs());
            if (step >= Day) {
                texts << at.toString(QStringLiteral("yyyy-MM-dd"));
                continue;
            }
            QString text = at.toString(seconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
            if (decimals > 0)
                text += at.toString(QStringLiteral(".zzz")).left(decimals + 1);
            // The date under the first time and under each time of a new day.
            if (at.date() != shownDate)
                text += QLatin1Char('\n') + at.toString(QStringLiteral("yyyy-MM-dd"));
            shownDate = at.date();
            texts << text;
        }
    }
    return texts;
}

void TimeAxisTicker::generate(const QCPRange &range, const QLocale &locale, QChar formatChar, int precision,
                              QVector<double> &ticks, QVector<double> *subTicks, QVector<QString> *tickLabels)
{
    const RunTimeFormat now = format ? format() : RunTimeFormat();
    if (now.effective() == TimeStyle::Seconds || !TimeParts::fits(range.lower) ||
        !TimeParts::fits(range.upper)) {
        QCPAxisTicker::generate(range, locale, formatChar, precision, ticks, subTicks, tickLabels);
        return;
    }
    const double step = stepFor(range);
    const double origin = originFor(now);
    ticks.clear();
    const double first = std::ceil((range.lower - origin) / step - 1e-9);
    const double last = std::floor((range.upper - origin) / step + 1e-9);
    for (double i = first; i <= last && ticks.size() < 1000; ++i)
        ticks << origin + i * step;
    if (subTicks) {
        // Quarters of an hour or of a day, halves of 30 s, fifths of 5 min ...
        const double unit = step >= Day ? Day : step >= Hour ? Hour : step >= Minute ? Minute : 1;
        const double count = step / unit;
        int parts = count == 1                                 ? 4
                    : count == 2 || count == 6 || count == 10  ? 2
                    : count == 3 || count == 15 || count == 30 ? 3
                    : count == 5                               ? 5
                    : count == 12                              ? 4
                    : count == 7                               ? 7
                                                               : 2;
        if (step < 1)
            parts = 2;
        subTicks->clear();
        for (double i = first - 1; i <= last; ++i) {
            for (int p = 1; p < parts; ++p) {
                const double t = origin + (i + double(p) / parts) * step;
                if (t >= range.lower && t <= range.upper)
                    *subTicks << t;
            }
        }
    }
    if (tickLabels)
        *tickLabels = labels(ticks, step, now);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <cmath>

// A time in seconds cut into days, hours, minutes, seconds and a fraction of a second rounded to
// a number of decimals, written as "61:30", "61:30:05.250" or "2 d 13:30:05.250".
class TimeParts
{
public:
    // Whether a time can be cut so (about 30,000 years either way); others are written in seconds.
    static bool fits(double seconds) { return std::abs(seconds) < 1e12; }

    TimeParts(double seconds, int decimals) : decimals(qBound(0, decimals, 3))
    {
        int scale = 1;
        for (int i = 0; i < this->decimals; ++i)
            scale *= 10;
        const double rounded = std::round(std::abs(seconds) * scale);
        negative = seconds < 0 && rounded > 0;
        units = qint64(rounded);
        perSecond = scale;
    }

    qint64 totalMs() const { return (negative ? -1 : 1) * units * 1000 / perSecond; }
    qint64 wholeSeconds() const { return units / perSecond; }

    // "h:mm", "h:mm:ss" or "h:mm:ss.f..." (hours of any number).
    QString hoursText(bool withSeconds, int shownDecimals) const
    {
        const qint64 s = wholeSeconds();
        return sign() + QStringLiteral("%1:%2").arg(s / 3600).arg(two(s / 60 % 60)) +
               secondsPart(withSeconds, shownDecimals);
    }
    // "d d hh:mm", with seconds as hoursText.
    QString daysText(bool withSeconds, int shownDecimals) const
    {
        const qint64 s = wholeSeconds();
        return sign() +
               QStringLiteral("%1 d %2:%3").arg(s / 86400).arg(two(s / 3600 % 24)).arg(two(s / 60 % 60)) +
               secondsPart(withSeconds, shownDecimals);
    }

private:
    static QString two(qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }
    QString sign() const { return negative ? QStringLiteral("-") : QString(); }
    QString secondsPart(bool withSeconds, int shownDecimals) const
    {
        if (!withSeconds)
            return QString();
        QString text = QLatin1Char(':') + two(wholeSeconds() % 60);
        const int shown = qBound(0, shownDecimals, decimals);
        if (shown > 0) {
            qint64 fraction = units % perSecond;
            for (int i = shown; i < decimals; ++i)
                fraction /= 10;
            text += QStringLiteral(".%1").arg(fraction, shown, 10, QLatin1Char('0'));
        }
        return text;
    }

    int decimals;
    qint64 units = 0;
    qint64 perSecond = 1;
    bool negative = false;
};

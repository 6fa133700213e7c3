// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/runtimetext.h"

#include <qcustomplot.h>

#include <functional>

// The ticks of a run's time axis in a TimeStyle: seconds as QCustomPlot writes them; hours and
// minutes ("1:30"), days, hours and minutes ("2 d 06:00") or clock times ("14:05", the date on a
// second line where it changes) at steps people count in (10 s, 15 min, 6 h, a day ...), clock
// times at whole minutes and hours of the clock. Seconds show where the step is below a minute.
class TimeAxisTicker : public QCPAxisTicker
{
public:
    // format: the style and the run's start, asked at every drawing of the axis.
    explicit TimeAxisTicker(std::function<RunTimeFormat()> format);

    void generate(const QCPRange &range, const QLocale &locale, QChar formatChar, int precision,
                  QVector<double> &ticks, QVector<double> *subTicks, QVector<QString> *tickLabels) override;

    // The step (seconds) between ticks over a range in a style other than seconds.
    double stepFor(const QCPRange &range) const;
    // The ticks' labels for a style other than seconds, at a step.
    static QVector<QString> labels(const QVector<double> &ticks, double step, const RunTimeFormat &format);

private:
    std::function<RunTimeFormat()> format;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltest.h"
#include "analysis/walltestreport.h"
#include "data/csvwriter.h"

#include <QByteArray>
#include <QVector>

#include <array>
#include <initializer_list>

// A run held as a window holds it, for what reads a window's series: the time and eight channel
// series (heat flux and temperature of sensors 1..4), handed out as RecordedSeries.
struct RecordedRun
{
    QVector<double> time;
    std::array<QVector<double>, 8> channels;

    RecordedSeries view() const
    {
        RecordedSeries series;
        series.time = &time;
        for (size_t k = 0; k < channels.size(); ++k)
            series.channels[k] = &channels[k];
        return series;
    }
    // One record: its time, then channels 1, 2, ... as many as given.
    void append(double t, std::initializer_list<double> values)
    {
        time.append(t);
        size_t k = 0;
        for (double v : values)
            channels[k++].append(v);
    }
    void clear()
    {
        time.clear();
        for (QVector<double> &channel : channels)
            channel.clear();
    }
};

// Everything a wall test's state and history say, to compare two of them exactly.
inline QByteArray wallTestEverything(const WallTest &test)
{
    const WallTestState &s = test.state();
    QByteArray out = wallTestReport(s);
    auto add = [&out](const std::optional<double> &v) { out += v ? QByteArray::number(*v, 'g', 17) : "-"; };
    out += QByteArray::number(s.records) + ' ' + QByteArray::number(s.skipped) + ' ';
    for (const auto &v : {s.startTime, s.judgedAt, s.runningR, s.rDayBefore, s.rFirst, s.rLast, s.storedHeat,
                          s.passedHeat, s.u})
        add(v), out += ' ';
    for (const CriterionState &c : s.criteria)
        add(c.firstPassed), add(c.lastPassed), out += ' ';
    for (const WallTestPoint &p : test.history())
        out += QByteArray::number(p.t, 'g', 17) + ':' + QByteArray::number(p.r, 'g', 17) + ':' +
               QByteArray::number(p.rDayBefore, 'g', 17) + ' ';
    return out;
}

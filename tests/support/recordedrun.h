// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltest.h"
#include "analysis/walltestreport.h"
#include "support/runfiles.h"

#include <QByteArray>

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

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>
#include <QtGlobal>
#include <qcustomplot.h>

#include <cmath>
#include <initializer_list>

// Whether a value axis that follows the run shows what it must, worked out plainly from the
// values: the starting range 0..30, and every finite value of the curves it follows inside it
// with room to spare (at least a 64th of its span from either end, so no curve runs along the
// frame). Says what is wrong if not.
inline bool showsWithRoom(const QCPRange &axis, std::initializer_list<const QVector<double> *> curves)
{
    const double room = axis.size() / 64 * (1 - 1e-12);
    if (!(axis.lower <= 0 && axis.upper >= 30)) {
        qWarning("the axis %.12g .. %.12g leaves out the starting range", axis.lower, axis.upper);
        return false;
    }
    for (const QVector<double> *values : curves) {
        for (double v : *values) {
            if (std::isfinite(v) && !(v >= axis.lower + room && v <= axis.upper - room)) {
                qWarning("%.12g is not well inside the axis %.12g .. %.12g", v, axis.lower, axis.upper);
                return false;
            }
        }
    }
    return true;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fluxcorrection.h"

#include <QCoreApplication>

QString FluxCorrection::problem() const
{
    if (!std::isfinite(coefficient) || std::fabs(coefficient) > MaxCoefficient)
        return QCoreApplication::translate(
                   "FluxCorrection", "The temperature coefficient TD must be a number from -%1 to %1 %/K.")
            .arg(MaxCoefficient);
    if (!std::isfinite(calibration) || std::fabs(calibration) > 1000)
        return QCoreApplication::translate("FluxCorrection",
                                           "The calibration temperature T_cal must be a number of degC.");
    return QString();
}

QString FluxCorrection::text() const
{
    return QStringLiteral("TD %1 %/K, T_cal %2 \u00b0C")
        .arg(QString::number(coefficient, 'g', 6), QString::number(calibration, 'g', 6));
}

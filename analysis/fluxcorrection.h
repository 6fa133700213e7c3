// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cmath>

// A heat-flux sensor's sensitivity depends on its temperature: E(T) = E_cal (1 + TD/100 (T - T_cal)),
// E_cal being the sensitivity sent to the unit, which converts every reading with it. The flux
// the sensor really saw is then q / (1 + TD/100 (T - T_cal)), T being that sensor's own
// temperature in the same record. TD is in % per kelvin, T_cal in degC; TD = 0 changes nothing.
struct FluxCorrection
{
    static constexpr double MaxCoefficient = 5; // %/K either way; datasheets give 0.1 to 0.35
    static constexpr double DefaultCalibration = 25;

    double coefficient = 0;                  // TD, %/K
    double calibration = DefaultCalibration; // T_cal, degC

    bool isIdentity() const { return coefficient == 0; }
    // The flux of a record as the sensor saw it; NaN where the sensitivity at T is not positive.
    double corrected(double q, double temperature) const
    {
        if (isIdentity())
            return q;
        const double factor = 1 + coefficient / 100 * (temperature - calibration);
        return factor > 0 ? q / factor : NAN;
    }
    // Why it can't be used (TD or T_cal not a number, TD outside +-MaxCoefficient), or empty.
    QString problem() const;
    // "TD 0.2 %/K, T_cal 25 degC", for descriptions and reports.
    QString text() const;
    bool operator==(const FluxCorrection &o) const
    {
        return coefficient == o.coefficient && calibration == o.calibration;
    }
    bool operator!=(const FluxCorrection &o) const { return !(*this == o); }
};

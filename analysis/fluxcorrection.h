// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"

#include <QString>
#include <QVector>

#include <array>
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

// Each sensor's correction, sensor s at [s - 1].
using FluxCorrections = std::array<FluxCorrection, MaxSensors>;

// "S:TD:TCAL" as typed after --td (the sensor 1 to 4, TD in %/K, T_cal in degC) into corrections,
// or the reason it can't be.
QString readFluxCorrection(const QString &text, FluxCorrections *corrections);

// A run's series with each sensor's heat flux as the sensor saw it: the flux of a sensor with a
// correction is kept corrected beside the run and extended as the run grows; the time, the
// temperatures and the flux of sensors without one are the run's own, read where they lie.
// A record whose sensitivity at its temperature is not positive gets NaN (left out and counted
// by the statistics).
class CorrectedFluxSeries
{
public:
    // Starts afresh over run's first sensorCount sensors.
    void setRun(const RecordedSeries &run, int sensorCount, const FluxCorrections &corrections);
    // Corrects the records added since the last call (all of them again if the run was emptied).
    void update();
    // The series to read; valid until the next setRun().
    RecordedSeries series() const;
    const FluxCorrections &corrections() const { return applied; }
    bool corrects(int sensor) const;

private:
    RecordedSeries run;
    int sensors = 0;
    FluxCorrections applied{};
    std::array<QVector<double>, MaxSensors> flux;
};

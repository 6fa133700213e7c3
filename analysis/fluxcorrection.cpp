// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fluxcorrection.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <optional>

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

namespace {

// A number as typed, in the C locale, or nothing.
std::optional<double> numberOf(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

} // namespace

QString readFluxCorrection(const QString &text, FluxCorrections *corrections)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    const QString wrong =
        QCoreApplication::translate(
            "FluxCorrection", "--td must be S:TD:TCAL, the sensor (1 to 4), its temperature coefficient in "
                              "%/K (-5 to 5) and its calibration temperature in degC, not \"%1\".")
            .arg(text);
    if (parts.size() != 3)
        return wrong;
    bool ok = false;
    const int sensor = parts[0].toInt(&ok);
    const std::optional<double> td = numberOf(parts[1]);
    const std::optional<double> tcal = numberOf(parts[2]);
    if (!ok || sensor < 1 || sensor > MaxSensors || !td || !tcal)
        return wrong;
    const FluxCorrection correction{*td, *tcal};
    const QString problem = correction.problem();
    if (!problem.isEmpty())
        return QStringLiteral("--td %1: %2").arg(text, problem);
    (*corrections)[size_t(sensor - 1)] = correction;
    return QString();
}

void CorrectedFluxSeries::setRun(const RecordedSeries &series, int sensorCount,
                                 const FluxCorrections &corrections)
{
    run = series;
    sensors = std::clamp(sensorCount, 0, MaxSensors);
    applied = corrections;
    for (QVector<double> &f : flux)
        f.clear();
    update();
}

bool CorrectedFluxSeries::corrects(int sensor) const
{
    return sensor >= 1 && sensor <= sensors && !applied[size_t(sensor - 1)].isIdentity() &&
           run.channels[size_t(2 * sensor - 2)] && run.channels[size_t(2 * sensor - 1)];
}

void CorrectedFluxSeries::update()
{
    for (int sensor = 1; sensor <= sensors; ++sensor) {
        if (!corrects(sensor))
            continue;
        const QVector<double> &q = *run.channels[size_t(2 * sensor - 2)];
        const QVector<double> &t = *run.channels[size_t(2 * sensor - 1)];
        QVector<double> &out = flux[size_t(sensor - 1)];
        const int rows = int(std::min(q.size(), t.size()));
        if (rows < out.size())
            out.clear(); // the run was emptied and began again
        const FluxCorrection &c = applied[size_t(sensor - 1)];
        if (out.isEmpty())
            out.reserve(rows); // appended to later, it grows by itself as a live run does
        for (int i = int(out.size()); i < rows; ++i)
            out.append(c.corrected(q[i], t[i]));
    }
}

RecordedSeries CorrectedFluxSeries::series() const
{
    RecordedSeries s = run;
    for (int sensor = 1; sensor <= sensors; ++sensor) {
        if (corrects(sensor))
            s.channels[size_t(2 * sensor - 2)] = &flux[size_t(sensor - 1)];
    }
    return s;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/walltestreport.h"

#include "analysis/runstatistics.h"
#include "data/csvnumber.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("WallTest", text);
}

void appendLine(QByteArray *out, const char *name, const QByteArray &value)
{
    out->append(name);
    out->append('\t');
    out->append(value);
    out->append('\n');
}

QByteArray number(const std::optional<double> &value, double scale = 1)
{
    if (value && std::isinf(*value))
        return tooLargeToCompute().toUtf8();
    return value ? formatCsvNumber(*value / scale) : QByteArray();
}

} // namespace

const char *verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "fail";
    case Verdict::NotAssessed:
        break;
    }
    return "not-assessed";
}

QByteArray wallTestReport(const WallTestState &state)
{
    QByteArray out;
    appendLine(&out, "R", number(state.r));
    appendLine(&out, "U", number(state.u));
    appendLine(&out, "hours", number(state.lastTime, 3600));
    const char *names[] = {"A", "B", "C", "D"};
    for (size_t i = 0; i < state.criteria.size(); ++i)
        appendLine(&out, names[i], verdictName(state.criteria[i].verdict));
    appendLine(&out, "may_stop_since_h", number(state.mayStopSince, 3600));
    return out;
}

QByteArray dynamicReport(const DynamicResult &result)
{
    QByteArray out;
    const bool fitted = result.fit.ok && result.r;
    const DynamicCandidate &c = result.fit.candidate;
    appendLine(&out, "R", number(result.r));
    appendLine(&out, "U", number(result.u));
    appendLine(&out, "R_low", number(result.rLow));
    appendLine(&out, "R_high", number(result.rHigh));
    appendLine(&out, "hours", formatCsvNumber(result.hours()));
    appendLine(&out, "m", fitted ? QByteArray::number(c.m) : QByteArray());
    appendLine(&out, "r", fitted && c.m > 1 ? formatCsvNumber(c.r) : QByteArray());
    appendLine(&out, "tau1_h", fitted && c.m > 0 ? formatCsvNumber(c.tau1 / 3600) : QByteArray());
    return out;
}

QString flowProblemText(const WallTestState &state)
{
    if (!state.flowProblem())
        return QString();
    QStringList sums;
    if (state.heatFluxSum <= 0)
        sums << translated("the heat flux sums to %1 W/m^2").arg(state.heatFluxSum, 0, 'g', 4);
    if (state.temperatureDifferenceSum < 0)
        sums << translated("T_si - T_se sums to %1 K").arg(state.temperatureDifferenceSum, 0, 'g', 4);
    const bool reversed = state.heatFluxSum < 0 || state.temperatureDifferenceSum < 0;
    return translated("%1: %2 over %3 records, so there is no thermal resistance. Heat flux counts as "
                      "positive from the warm side to the cold side: check which sensor is on which side.")
        .arg(reversed ? translated("Heat flows the other way") : translated("No heat flows"),
             sums.join(translated(" and ")), QString::number(state.judgedRecords));
}

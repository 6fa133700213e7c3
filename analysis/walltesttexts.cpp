// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/walltesttexts.h"

#include "analysis/runstatistics.h"
#include "analysis/walltestreport.h"
#include "data/csvnumber.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("WallTestTexts", text);
}

const QString ResistanceUnit = QStringLiteral("m\u00b2K/W");

QString resistanceText(double r)
{
    if (std::isinf(r))
        return tooLargeToCompute();
    return QStringLiteral("%1 %2").arg(QString::number(r, 'g', 4), ResistanceUnit);
}

QString optionalResistance(const std::optional<double> &r)
{
    return r ? resistanceText(*r) : translated("none");
}

QString optionalNumber(const std::optional<double> &r)
{
    return r ? QString::number(*r, 'g', 4) : translated("none");
}

// The relative difference of value from reference, in percent, signed.
QString percentOff(const std::optional<double> &value, const std::optional<double> &reference)
{
    if (!value || !reference || *reference == 0 || !std::isfinite(*value) || !std::isfinite(*reference))
        return QString();
    return QStringLiteral(" (%1%2 %)")
        .arg(*value >= *reference ? QStringLiteral("+") : QString())
        .arg(QString::number(100 * (*value - *reference) / std::fabs(*reference), 'f', 1));
}

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return translated("pass");
    case Verdict::Fail:
        return translated("fail");
    case Verdict::NotAssessed:
        break;
    }
    return translated("not assessed");
}

QString criterionDetail(int index, const WallTestState &s, const WallTestSettings &settings)
{
    switch (index) {
    case 0:
        return s.judgedAt ? translated("judged at %1").arg(hoursText(*s.judgedAt)) : QString();
    case 1:
        if (!s.judgedAt || *s.judgedAt - *s.startTime < WallTest::Day)
            return translated("from 24 h on");
        return translated("R a day before: %1%2")
            .arg(optionalResistance(s.rDayBefore), percentOff(s.r, s.rDayBefore));
    case 2:
        if (s.periodDays < 1)
            return translated("from 36 h on");
        return translated("first %1 d: %2, last: %3%4")
            .arg(s.periodDays)
            .arg(optionalNumber(s.rFirst), optionalResistance(s.rLast), percentOff(s.rFirst, s.rLast));
    default:
        if (!settings.capacity)
            return translated("enter the areal heat capacity to assess it");
        if (!s.storedHeat || !s.passedHeat)
            return translated("from 48 h on");
        return translated("stored %1 of %2 J/m\u00b2 passed")
            .arg(QString::number(*s.storedHeat, 'g', 3), QString::number(*s.passedHeat, 'g', 3));
    }
}

} // namespace

DynamicTexts describeDynamic(const DynamicResult *r)
{
    DynamicTexts t;
    if (!r) {
        t.resistance = translated("R: being computed...");
        t.transmittance = translated("U: being computed...");
        return t;
    }
    auto interval = [](const std::optional<double> &low, const std::optional<double> &high) {
        return translated(" (95 %: %1 to %2)")
            .arg(low ? QString::number(*low, 'g', 4) : translated("none"),
                 high ? QString::number(*high, 'g', 4) : translated("no upper bound"));
    };
    const QString extent =
        translated("%1 whole interval(s) of %2 h (%3 without records), %4 equation(s) fitted")
            .arg(r->intervals)
            .arg(QString::number(r->step / 3600, 'g', 4))
            .arg(r->gaps)
            .arg(r->equations);
    if (!r->r) {
        t.resistance = translated("R: none");
        t.transmittance = translated("U: none");
        t.model = r->problem();
        return t;
    }
    t.resistance = QStringLiteral("R = %1%2").arg(resistanceText(*r->r), interval(r->rLow, r->rHigh));
    t.transmittance = r->u ? QStringLiteral("U = %1 W/(m\u00b2K)%2")
                                 .arg(QString::number(*r->u, 'g', 4), interval(r->uLow, r->uHigh))
                           : translated("U: none");
    const DynamicCandidate &c = r->fit.candidate;
    const QString model =
        c.m == 0   ? translated("steady model (neither temperature moved)")
        : c.m == 1 ? translated("m = 1, \u03c4\u2081 = %1 h").arg(QString::number(c.tau1 / 3600, 'g', 3))
                   : translated("m = %1, r = %2, \u03c4\u2081 = %3 h")
                         .arg(c.m)
                         .arg(QString::number(c.r, 'g', 3))
                         .arg(QString::number(c.tau1 / 3600, 'g', 3));
    t.model = QStringLiteral("%1; %2").arg(model, extent);
    return t;
}

QString hoursText(double seconds)
{
    return QStringLiteral("%1 h").arg(shownNumber(seconds / 3600, 2));
}

WallTestTexts describeWallTest(const WallTestState &s, const WallTestSettings &settings)
{
    WallTestTexts t;
    if (s.r) {
        t.resistance = QStringLiteral("R = %1").arg(resistanceText(*s.r));
    } else if (s.flowProblem()) {
        t.resistance = translated("R: none (see below)");
        t.flowProblem = flowProblemText(s);
    } else if (s.records == 0) {
        t.resistance = translated("R: no records yet");
    } else if (!s.judgedAt) {
        t.resistance = translated("R: a heavy element is judged at whole days, the first at 24 h");
    } else {
        t.resistance = translated("R: none");
    }
    t.transmittance = s.u ? QStringLiteral("U = %1 W/(m\u00b2K)").arg(QString::number(*s.u, 'g', 4))
                          : translated("U: none");

    if (s.lastTime) {
        t.extent = translated("Records up to %1: %2 used, %3 skipped (not finite or out of order)")
                       .arg(hoursText(*s.lastTime))
                       .arg(s.records)
                       .arg(s.skipped);
        if (settings.heavy) {
            t.extent += translated("; heavy element: judged at %1, the last whole day; R over all records %2")
                            .arg(s.judgedAt ? hoursText(*s.judgedAt) : translated("none yet"),
                                 optionalResistance(s.runningR));
        }
    } else {
        t.extent = s.skipped > 0 ? translated("No usable records: %1 skipped").arg(s.skipped)
                                 : translated("No records yet");
    }

    const char *const meanings[] = {
        QT_TRANSLATE_NOOP("WallTestTexts", "Duration: at least 72 h"),
        QT_TRANSLATE_NOOP("WallTestTexts", "Stable: within 5 % of R a day before"),
        QT_TRANSLATE_NOOP("WallTestTexts", "First and last two thirds: within 5 %"),
        QT_TRANSLATE_NOOP("WallTestTexts", "Stored heat: 5 % of heat passed at most")};
    QStringList failing;
    for (int c = 0; c < 4; ++c) {
        const CriterionState &criterion = s.criteria[size_t(c)];
        WallTestTexts::Criterion &text = t.criteria[size_t(c)];
        text.name = QString(QChar('A' + c));
        text.meaning = translated(meanings[c]);
        text.verdict = verdictText(criterion.verdict);
        text.detail = criterionDetail(c, s, settings);
        text.firstPassed = criterion.firstPassed ? hoursText(*criterion.firstPassed) : translated("never");
        text.lastPassed = criterion.lastPassed ? hoursText(*criterion.lastPassed) : translated("never");
        if (criterion.verdict == Verdict::Fail)
            failing << text.name;
    }
    t.stopAllowed = s.mayStopSince.has_value();
    if (s.mayStopSince) {
        t.mayStop = translated("The test may stop: all assessed criteria have held at every record since %1.")
                        .arg(hoursText(*s.mayStopSince));
    } else {
        t.mayStop = translated("The test may not stop yet: %1 %2.")
                        .arg(failing.join(QStringLiteral(", ")),
                             failing.size() == 1 ? translated("fails") : translated("fail"));
    }
    return t;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/walltestcommand.h"

#include "analysis/walltestreport.h"
#include "analysis/walltestreportdata.h"
#include "analysis/walltestsetup.h"
#include "analysis/walltesttexts.h"
#include "data/recordingreader.h"
#include "data/version.h"

#include <QDateTime>
#include <QFileInfo>

#include <QCoreApplication>
#include <QLocale>
#include <QTextStream>

#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("WallTestCommand", text);
}

// A sensor number 1..4 as typed, or 0 with *problem set.
int sensorNumber(const char *option, const QString &text, QString *problem)
{
    bool ok = false;
    const int sensor = text.toInt(&ok);
    if (text.isNull())
        *problem =
            translated("--%1 is needed: the number of the sensor (1 to 4).").arg(QLatin1String(option));
    else if (!ok || sensor < 1 || sensor > 4)
        *problem = translated("--%1 must be a sensor number from 1 to 4, not \"%2\".")
                       .arg(QLatin1String(option), text);
    return problem->isEmpty() ? sensor : 0;
}

// A number as typed, in the C locale, or nothing.
std::optional<double> numberOf(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

// "S:TD:TCAL" into setup's corrections, or a reason.
QString readCorrection(const QString &text, WallTestSetup *setup)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    const QString wrong =
        translated("--td must be S:TD:TCAL, the sensor (1 to 4), its temperature coefficient in "
                   "%/K (-5 to 5) and its calibration temperature in degC, not \"%1\".")
            .arg(text);
    if (parts.size() != 3)
        return wrong;
    bool ok = false;
    const int sensor = parts[0].toInt(&ok);
    const std::optional<double> td = numberOf(parts[1]);
    const std::optional<double> tcal = numberOf(parts[2]);
    if (!ok || sensor < 1 || sensor > 4 || !td || !tcal)
        return wrong;
    const FluxCorrection correction{*td, *tcal};
    const QString problem = correction.problem();
    if (!problem.isEmpty())
        return QStringLiteral("--td %1: %2").arg(text, problem);
    setup->corrections[size_t(sensor - 1)] = correction;
    return QString();
}

} // namespace

WallTestOptions::WallTestOptions()
    : wallTest(QStringLiteral("wall-test"),
               QStringLiteral("Print the wall test of the recording <file> for scripts and exit (no display "
                              "needed): the thermal resistance by the average method and its criteria."),
               QStringLiteral("file")),
      q(QStringLiteral("q"), QStringLiteral("With --wall-test: the sensor (1 to 4) whose heat flux is q."),
        QStringLiteral("S")),
      warm(QStringLiteral("warm"),
           QStringLiteral("With --wall-test: the sensor whose temperature is the warm side's T_si."),
           QStringLiteral("S")),
      cold(QStringLiteral("cold"),
           QStringLiteral("With --wall-test: the sensor whose temperature is the cold side's T_se."),
           QStringLiteral("S")),
      heavy(QStringLiteral("heavy"), QStringLiteral("With --wall-test: the element's areal heat capacity is "
                                                    "above 20 kJ/(m^2 K); it is judged at whole days.")),
      capacity(QStringLiteral("capacity"),
               QStringLiteral("With --wall-test: the element's areal heat capacity in kJ/(m^2 K), for "
                              "criterion D."),
               QStringLiteral("C")),
      method(QStringLiteral("method"),
             QStringLiteral("With --wall-test: average (the default) or dynamic, the method whose lines are "
                            "printed."),
             QStringLiteral("name")),
      step(QStringLiteral("step-h"),
           QStringLiteral("With --wall-test: the dynamic method's interval in hours (default 1)."),
           QStringLiteral("H")),
      td(QStringLiteral("td"),
         QStringLiteral("With --wall-test: sensor S's temperature coefficient TD in %/K and calibration "
                        "temperature TCAL in degC; its heat flux is corrected to q / (1 + TD/100 (T - TCAL)) "
                        "with its own temperature T. Once per sensor."),
         QStringLiteral("S:TD:TCAL")),
      report(QStringLiteral("report"),
             QStringLiteral("With --wall-test: also write the test's report as a PDF to <file>."),
             QStringLiteral("file")),
      element(QStringLiteral("element"),
              QStringLiteral("With --report: the element tested, as the report states it."),
              QStringLiteral("text")),
      place(QStringLiteral("place"),
            QStringLiteral("With --report: where the element was measured, as the report states it."),
            QStringLiteral("text"))
{
}

QList<QCommandLineOption> WallTestOptions::all() const
{
    return {wallTest, q, warm, cold, heavy, capacity, method, step, td, report, element, place};
}

WallTestArguments
WallTestOptions::read(const std::function<bool(const QCommandLineOption &)> &isSet,
                      const std::function<QStringList(const QCommandLineOption &)> &values) const
{
    auto given = [&](const QCommandLineOption &option) {
        return isSet(option) ? values(option).value(values(option).size() - 1) : QString();
    };
    WallTestArguments a{given(wallTest), given(q), given(warm), given(cold), isSet(heavy), given(capacity)};
    a.method = given(method);
    a.step = given(step);
    a.corrections = isSet(td) ? values(td) : QStringList();
    a.report = given(report);
    a.element = given(element);
    a.place = given(place);
    return a;
}

int runWallTestCommand(const WallTestArguments &options, QTextStream &out, QTextStream &err,
                       const WallTestReportWriter &writeReport)
{
    const QString program = QCoreApplication::applicationName();
    auto fail = [&](const QString &message) {
        err << program << ": " << message << "\n";
        err.flush();
        return WallTestBadInput;
    };
    if (options.file.isEmpty())
        return fail(translated("--wall-test needs the recording's file name."));

    WallTestSetup setup;
    QString problem;
    setup.heatFluxSensor = sensorNumber("q", options.q, &problem);
    if (problem.isEmpty())
        setup.warmSensor = sensorNumber("warm", options.warm, &problem);
    if (problem.isEmpty())
        setup.coldSensor = sensorNumber("cold", options.cold, &problem);
    if (!problem.isEmpty())
        return fail(problem);
    setup.settings.heavy = options.heavy;
    if (!options.capacity.isNull()) {
        bool ok = false;
        const double capacity = QLocale::c().toDouble(options.capacity, &ok);
        if (!ok || !std::isfinite(capacity) || capacity < 0)
            return fail(translated("--capacity must be the areal heat capacity in kJ/(m^2 K), a number of at "
                                   "least 0, not \"%1\".")
                            .arg(options.capacity));
        setup.settings.capacity = capacity;
    }
    const bool dynamic = options.method == QLatin1String("dynamic");
    if (!options.method.isNull() && !dynamic && options.method != QLatin1String("average"))
        return fail(translated("--method must be average or dynamic, not \"%1\".").arg(options.method));
    if (!options.step.isNull()) {
        const std::optional<double> hours = numberOf(options.step);
        setup.settings.step = hours ? *hours * 3600 : NAN;
        if (!hours || !setup.settings.problem().isEmpty())
            return fail(
                translated("--step-h must be the dynamic method's interval in hours, from %1 to %2, not "
                           "\"%3\".")
                    .arg(DynamicMethod::MinStep / 3600, 0, 'g', 3)
                    .arg(DynamicMethod::MaxStep / 3600, 0, 'g', 3)
                    .arg(options.step));
    }
    for (const QString &correction : options.corrections) {
        const QString problem = readCorrection(correction, &setup);
        if (!problem.isEmpty())
            return fail(problem);
    }
    if (!options.report.isNull() && (options.report.isEmpty() || !writeReport))
        return fail(translated("--report needs the name of the PDF file to write."));
    setup.element = options.element;
    setup.place = options.place;

    RecordingData data;
    const RecordingReadReport report = RecordingReader().read(options.file, &data);
    if (!report.ok())
        return fail(QStringLiteral("%1: %2").arg(options.file, report.errorMessage()));
    for (int sensor : {setup.heatFluxSensor, setup.warmSensor, setup.coldSensor}) {
        if (sensor > data.sensorCount)
            return fail(translated("%1 holds %2 sensor(s): there is no sensor %3.")
                            .arg(options.file)
                            .arg(data.sensorCount)
                            .arg(sensor));
    }
    for (const QString &note : report.notes())
        err << program << ": " << options.file << ": " << note << "\n";

    // Read where the reader put the records, as the panel reads a window's.
    WallTest test(data.series(), setup.channels(), setup.testSettings());
    test.takeFromSeries(data.rows());
    if (test.state().skipped > 0)
        err << program << ": "
            << translated("%1 samples have a value that is not finite and were left out of the wall test.")
                   .arg(test.state().skipped)
            << "\n";
    const QString flow = flowProblemText(test.state());
    if (!flow.isEmpty())
        err << program << ": " << flow << "\n";
    else if (!dynamic && (!test.state().r || std::isinf(*test.state().r)))
        // Why R (and U) are empty or not a number: as the panel says it.
        err << program << ": " << describeWallTest(test.state(), setup.settings).resistance << "\n";
    // The dynamic method only when its lines or a report want it.
    DynamicResult result;
    if (dynamic || !options.report.isNull()) {
        result = DynamicMethod::analyse(test.intervalMeans().whole(), setup.settings.step, setup.settings.rsi,
                                        setup.settings.rse);
        if (dynamic && !result.problem().isEmpty())
            err << program << ": " << result.problem() << "\n";
    }
    out << QString::fromLatin1(dynamic ? dynamicReport(result) : wallTestReport(test.state()));
    out.flush();
    err.flush();
    if (!options.report.isNull()) {
        WallTestReportData report;
        report.source = QFileInfo(options.file).fileName();
        RunDescription description;
        QString ignored;
        if (readRunDescription(descriptionFileName(options.file), &description, &ignored)) {
            report.start = description.start;
            report.events = description.events;
            report.sensitivities = description.sensitivities;
        }
        report.setup = setup;
        report.test = &test;
        report.dynamic = result;
        report.series = data.series();
        report.sensorCount = data.sensorCount;
        report.program = QStringLiteral("%1 %2").arg(program, QStringLiteral(QUELLSPAN_VERSION));
        report.made = QDateTime::currentDateTime();
        QString error;
        if (!writeReport(options.report, report, &error))
            return fail(translated("the report %1 could not be written: %2").arg(options.report, error));
    }
    return 0;
}

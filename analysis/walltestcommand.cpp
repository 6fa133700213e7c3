// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/walltestcommand.h"

#include "analysis/walltestreport.h"
#include "analysis/walltestsetup.h"
#include "analysis/walltesttexts.h"
#include "data/recordingreader.h"

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
               QStringLiteral("C"))
{
}

QList<QCommandLineOption> WallTestOptions::all() const
{
    return {wallTest, q, warm, cold, heavy, capacity};
}

WallTestArguments WallTestOptions::read(const std::function<bool(const QCommandLineOption &)> &isSet,
                                        const std::function<QString(const QCommandLineOption &)> &value) const
{
    auto given = [&](const QCommandLineOption &option) { return isSet(option) ? value(option) : QString(); };
    return {given(wallTest), given(q), given(warm), given(cold), isSet(heavy), given(capacity)};
}

int runWallTestCommand(const WallTestArguments &options, QTextStream &out, QTextStream &err)
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
    WallTest test(data.series(), setup.channels(), setup.settings);
    test.takeFromSeries(data.rows());
    if (test.state().skipped > 0)
        err << program << ": "
            << translated("%1 samples have a value that is not finite and were left out of the wall test.")
                   .arg(test.state().skipped)
            << "\n";
    const QString flow = flowProblemText(test.state());
    if (!flow.isEmpty())
        err << program << ": " << flow << "\n";
    else if (!test.state().r || std::isinf(*test.state().r))
        // Why R (and U) are empty or not a number: as the panel says it.
        err << program << ": " << describeWallTest(test.state(), setup.settings).resistance << "\n";
    out << QString::fromLatin1(wallTestReport(test.state()));
    out.flush();
    err.flush();
    return 0;
}

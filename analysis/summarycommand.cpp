// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/summarycommand.h"

#include "analysis/fluxcorrection.h"
#include "analysis/runstatistics.h"
#include "data/csvnumber.h"
#include "data/recordingreader.h"

#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

const QString Command = QStringLiteral("--summary");

QString translated(const char *text)
{
    return QCoreApplication::translate("SummaryCommand", text);
}

// A time in seconds as typed: what the CSV holds (C locale, "1e3" too), finite.
bool readSeconds(const QString &text, double *value)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    const char *end = bytes.constData() + bytes.size();
    const std::from_chars_result r = std::from_chars(bytes.constData(), end, *value);
    return !bytes.isEmpty() && r.ec == std::errc() && r.ptr == end && std::isfinite(*value);
}

struct Options
{
    QString file, from, to;
    bool hasFrom = false, hasTo = false;
    QStringList corrections; // each "S:TD:TCAL" after --td
    QString problem;
};

Options parse(const QStringList &arguments)
{
    Options o;
    struct Named
    {
        QString name;
        QString *value;
        bool *given;
    };
    bool fileGiven = false;
    const Named names[] = {{Command, &o.file, &fileGiven},
                           {QStringLiteral("--from"), &o.from, &o.hasFrom},
                           {QStringLiteral("--to"), &o.to, &o.hasTo}};
    for (int i = 0; i < arguments.size() && o.problem.isEmpty(); ++i) {
        const QString &argument = arguments[i];
        bool known = false;
        // --td may be given once per sensor.
        const QString td = QStringLiteral("--td");
        if (argument == td || argument.startsWith(td + QLatin1Char('='))) {
            if (argument == td && i + 1 >= arguments.size())
                o.problem = translated("%1 needs a value.").arg(td);
            else
                o.corrections.append(argument == td ? arguments[++i] : argument.mid(td.size() + 1));
            continue;
        }
        for (const Named &n : names) {
            if (argument == n.name) {
                if (i + 1 >= arguments.size()) {
                    o.problem = translated("%1 needs a value.").arg(n.name);
                    break;
                }
                *n.value = arguments[++i];
            } else if (argument.startsWith(n.name + QLatin1Char('='))) {
                *n.value = argument.mid(n.name.size() + 1);
            } else {
                continue;
            }
            if (*n.given)
                o.problem = translated("%1 is given twice.").arg(n.name);
            *n.given = known = true;
            break;
        }
        if (!known && o.problem.isEmpty())
            o.problem = translated("Unexpected argument \"%1\".").arg(argument);
    }
    if (o.problem.isEmpty() && o.file.isEmpty())
        o.problem = translated("%1 needs the recording's file name.").arg(Command);
    return o;
}

// When the stretch asked for holds no sample: why, with the file's times (times never decrease).
QString stretchNote(const QVector<double> &times, const Options &o, double from, double to)
{
    if (times.isEmpty() || (!o.hasFrom && !o.hasTo))
        return QString();
    const auto first = std::lower_bound(times.cbegin(), times.cend(), from);
    if (first != times.cend() && *first <= to)
        return QString();
    const QString span = translated("the file's samples are from %1 s to %2 s")
                             .arg(shownNumber(times.first(), 3), shownNumber(times.last(), 3));
    if (from > times.last())
        return translated("--from (%1 s) is after the last sample: no samples; %2.").arg(o.from, span);
    if (to < times.first())
        return translated("--to (%1 s) is before the first sample: no samples; %2.").arg(o.to, span);
    return translated("no sample lies from --from to --to; %1.").arg(span);
}

} // namespace

int runSummaryCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QString program = QCoreApplication::applicationName();
    const auto fail = [&](const QString &message) {
        err << program << ": " << message << "\n";
        err.flush();
        return SummaryBadInput;
    };
    const Options o = parse(arguments);
    if (!o.problem.isEmpty())
        return fail(o.problem);
    double from = -std::numeric_limits<double>::infinity();
    double to = std::numeric_limits<double>::infinity();
    if (o.hasFrom && !readSeconds(o.from, &from))
        return fail(translated("--from must be a time in seconds, not \"%1\".").arg(o.from));
    if (o.hasTo && !readSeconds(o.to, &to))
        return fail(translated("--to must be a time in seconds, not \"%1\".").arg(o.to));
    if (from > to)
        return fail(translated("--from (%1 s) is after --to (%2 s).").arg(o.from, o.to));
    FluxCorrections corrections{};
    for (const QString &text : o.corrections) {
        const QString problem = readFluxCorrection(text, &corrections);
        if (!problem.isEmpty())
            return fail(problem);
    }

    RecordingData data;
    RecordingReader reader;
    const RecordingReadReport report = reader.read(o.file, &data);
    if (report.status != RecordingReadReport::Read)
        return fail(QStringLiteral("%1: %2").arg(o.file, report.errorMessage()));
    for (const QString &note : report.notes())
        err << program << ": " << o.file << ": " << note << "\n";
    if (const QString note = stretchNote(data.time, o, from, to); !note.isEmpty())
        err << program << ": " << o.file << ": " << note << "\n";
    err.flush();
    // With --td, each sensor's heat flux as it saw it at its own temperature; the file is as the
    // unit sent it.
    CorrectedFluxSeries corrected;
    corrected.setRun(data.series(), data.sensorCount, corrections);
    const QByteArray table = statisticsText(corrected.series(), 2 * data.sensorCount, from, to);
    out << QString::fromUtf8(table);
    out.flush();
    return 0;
}

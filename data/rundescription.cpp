// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/rundescription.h"

#include "data/csvnumber.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace {

const std::array<const char *, 11> KindNames = {
    "mark",        "start",        "pause",
    "reset",       "unit-lost",    "unit-back",
    "unit-silent", "unit-sending", "recording-stopped",
    "mark-edit",   "mark-delete",
};

QString translated(const char *text)
{
    return QCoreApplication::translate("RunDescription", text);
}

bool readNumber(const QByteArray &text, double *value)
{
    const char *end = text.constData() + text.size();
    const std::from_chars_result r = std::from_chars(text.constData(), end, *value);
    return r.ec == std::errc() && r.ptr == end && !text.isEmpty();
}

bool readCount(const QByteArray &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && !text.startsWith('+') && !text.startsWith('-');
}

QDateTime readTime(const QByteArray &text)
{
    return QDateTime::fromString(QString::fromUtf8(text.trimmed()), Qt::ISODateWithMs);
}

// "Event: <t> <kind>[ <n>]: <note>" after its keyword.
bool readEvent(const QByteArray &rest, RunEvent *event)
{
    const int space = rest.indexOf(' ');
    const int colon = rest.indexOf(':', space + 1);
    if (space <= 0 || colon < 0 || !readNumber(rest.left(space), &event->time) || !std::isfinite(event->time))
        return false;
    const QList<QByteArray> kindWords = rest.mid(space + 1, colon - space - 1).split(' ');
    if (!runEventKindFromName(kindWords[0], &event->kind))
        return false;
    const bool aboutMark = event->kind == RunEventKind::MarkEdit || event->kind == RunEventKind::MarkDelete;
    if (kindWords.size() != (aboutMark ? 2 : 1))
        return false;
    if (aboutMark && (!readCount(kindWords[1], &event->markNumber) || event->markNumber < 1))
        return false;
    QByteArray note = rest.mid(colon + 1);
    if (note.startsWith(' '))
        note.remove(0, 1);
    event->note = event->kind == RunEventKind::MarkDelete ? QString() : QString::fromUtf8(note);
    return true;
}

} // namespace

QByteArray runEventKindName(RunEventKind kind)
{
    return QByteArray(KindNames[size_t(kind)]);
}

bool runEventKindFromName(const QByteArray &name, RunEventKind *kind)
{
    for (size_t i = 0; i < KindNames.size(); ++i) {
        if (name == KindNames[i]) {
            *kind = RunEventKind(i);
            return true;
        }
    }
    return false;
}

RunDescription parseRunDescription(const QByteArray &text)
{
    RunDescription d;
    QVector<RunEvent> events;
    QVector<int> markIndex;    // mark number - 1 -> its entry in events
    QVector<bool> markDeleted; // mark number - 1 -> whether its last word was a deletion
    // Line by line where they lie: a description of a million marks makes no list of lines.
    for (int from = 0; from < text.size();) {
        int end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size();
        int length = end - from;
        if (length > 0 && text.at(from + length - 1) == '\r')
            --length;
        const QByteArray line = QByteArray::fromRawData(text.constData() + from, length);
        from = end + 1;
        const int colon = line.indexOf(": ");
        if (colon <= 0)
            continue;
        const QByteArray key = line.left(colon);
        const QByteArray value = line.mid(colon + 2);
        if (key == "Event") {
            RunEvent e;
            if (!readEvent(value, &e))
                continue;
            if (e.kind == RunEventKind::Mark) {
                e.markNumber = markIndex.size() + 1;
                markIndex.append(events.size());
                markDeleted.append(false);
                events.append(e);
            } else if (e.kind == RunEventKind::MarkEdit || e.kind == RunEventKind::MarkDelete) {
                if (e.markNumber > markIndex.size())
                    continue; // about a mark that does not exist
                markDeleted[e.markNumber - 1] = e.kind == RunEventKind::MarkDelete;
                if (e.kind == RunEventKind::MarkEdit)
                    events[markIndex[e.markNumber - 1]].note = e.note;
            } else {
                events.append(e);
            }
        } else if (key == "Started") {
            d.start = readTime(value);
        } else if (key == "Sensors") {
            readCount(value.trimmed(), &d.sensorCount);
        } else if (key.startsWith("Sensitivity of sensor ")) {
            int sensor = 0;
            if (!readCount(key.mid(22).split(' ').value(0), &sensor) || sensor < 1 || sensor > 4)
                continue;
            while (d.sensitivities.size() < sensor)
                d.sensitivities.append(QByteArray());
            d.sensitivities[sensor - 1] = value == "(not sent)" ? QByteArray()
                                          : value.isEmpty()     ? QByteArray("")
                                                                : value;
        } else if (key.startsWith("Temperature coefficient of sensor ")) {
            int sensor = 0;
            if (!readCount(key.mid(34).split(' ').value(0), &sensor) || sensor < 1 || sensor > 4)
                continue;
            while (d.temperatureCoefficients.size() < sensor)
                d.temperatureCoefficients.append(QByteArray());
            d.temperatureCoefficients[sensor - 1] = value.trimmed();
        } else if (key == "Program") {
            d.program = QString::fromUtf8(value);
        } else if (key == "Columns") {
            d.columns = QString::fromUtf8(value.trimmed()).split(QLatin1Char(','));
        } else if (key == "Samples") {
            const int paren = value.indexOf(" (");
            d.samplesFile = QString::fromUtf8(paren < 0 ? value : value.left(paren));
        } else if (key == "Closed") {
            // "Closed: <date and time>, <n> samples"
            const int comma = value.lastIndexOf(", ");
            if (comma < 0)
                continue;
            d.closed = readTime(value.left(comma));
            const QList<QByteArray> words = value.mid(comma + 2).split(' ');
            bool ok = false;
            const qint64 samples = words.value(0).toLongLong(&ok);
            d.closedSamples = ok && d.closed.isValid() ? samples : -1;
        } else if (key == "Stopped" || key == "Recovered") {
            d.problems.append(QString::fromUtf8(line));
        }
    }
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const RunEvent &e) {
                                    return e.kind == RunEventKind::Mark && markDeleted[e.markNumber - 1];
                                }),
                 events.end());
    events.squeeze();
    d.events = std::move(events);
    return d;
}

bool readRunDescription(const QString &fileName, RunDescription *description, QString *error)
{
    const QFileInfo info(fileName);
    QFile file(fileName);
    if (info.exists() && !info.isFile()) {
        *error = translated("%1 is not a regular file").arg(info.fileName());
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray text = file.read(RunDescription::MaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    *description = parseRunDescription(text.left(int(RunDescription::MaxBytes)));
    description->truncated = text.size() > RunDescription::MaxBytes;
    return true;
}

QString descriptionFileName(const QString &csvFileName)
{
    const QFileInfo info(csvFileName);
    const QString suffix = info.suffix();
    const QString base =
        suffix.isEmpty() ? csvFileName : csvFileName.left(csvFileName.size() - suffix.size() - 1);
    return base + QStringLiteral(".txt");
}

QString plainEventNote(const QString &note)
{
    QString plain = note;
    for (QChar &c : plain) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0x85 || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return plain;
}

QByteArray formatEventLine(double time, RunEventKind kind, const QString &note, int markNumber)
{
    QByteArray line("Event: ");
    appendCsvNumber(&line, time);
    line += ' ' + runEventKindName(kind);
    if (kind == RunEventKind::MarkEdit || kind == RunEventKind::MarkDelete)
        line += ' ' + QByteArray::number(markNumber);
    line += ':';
    if (kind != RunEventKind::MarkDelete && !note.isEmpty())
        line += ' ' + plainEventNote(note).toUtf8();
    line += '\n';
    return line;
}

QStringList columnNames(int sensorCount)
{
    QStringList names{QStringLiteral("time_s")};
    for (int s = 1; s <= sensorCount; ++s)
        names << QStringLiteral("q%1_W/m2").arg(s) << QStringLiteral("T%1_C").arg(s);
    return names;
}

QByteArray columnsLine(int sensorCount)
{
    return "Columns: " + columnNames(sensorCount).join(QLatin1Char(',')).toUtf8() + '\n';
}

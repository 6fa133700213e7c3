// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/descriptionfile.h"

#include "data/csvwriter.h"
#include "data/fileentry.h"
#include "data/rundescription.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const char *const LiveTitle = "Quellspan live recording";
const char *const SavedTitle = "Quellspan saved run";

QString translated(const char *text)
{
    return QCoreApplication::translate("DescriptionFile", text);
}

} // namespace

QString isoTime(const QDateTime &t)
{
    // Local time with its offset from UTC, to the millisecond.
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray descriptionHead(DescriptionOf kind, const QString &samplesFileName, const RecordingInfo &info)
{
    QString text = QString::fromLatin1(kind == DescriptionOf::LiveRecording ? LiveTitle : SavedTitle) + '\n';
    text += QStringLiteral("Samples: %1 (one line per sample: time in s, then heat flux in W/m2 and "
                           "temperature in C of sensors 1 to %2)\n")
                .arg(samplesFileName)
                .arg(info.sensorCount);
    text += QString::fromUtf8(columnsLine(info.sensorCount));
    text += QStringLiteral("Started: %1\n").arg(isoTime(info.start));
    text += QStringLiteral("Sensors: %1\n").arg(info.sensorCount);
    for (int s = 0; s < info.sensitivities.size(); ++s) {
        const QByteArray &sent = info.sensitivities[s];
        QString shown = sent.isNull() ? QStringLiteral("(not sent)") : QString::fromUtf8(sent);
        shown.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        text += QStringLiteral("Sensitivity of sensor %1 (uV/(W/m2)): %2\n").arg(s + 1).arg(shown);
    }
    for (int s = 0; s < info.temperatureCoefficients.size(); ++s) {
        if (!info.temperatureCoefficients[s].isEmpty())
            text += QString::fromUtf8(temperatureCoefficientLine(s + 1, info.temperatureCoefficients[s]));
    }
    text += QStringLiteral("Program: %1\n").arg(info.program);
    return text.toUtf8();
}

QByteArray temperatureCoefficientLine(int sensor, const QByteArray &value)
{
    return "Temperature coefficient of sensor " + QByteArray::number(sensor) +
           " (%/K, T_cal in C): " + value.simplified() + '\n';
}

bool startsAsOwnDescription(const QByteArray &text)
{
    QByteArray first = text.left(text.indexOf('\n'));
    if (first.endsWith('\r'))
        first.chop(1);
    return first == LiveTitle || first == SavedTitle;
}

DescriptionSaved saveDescription(const QString &fileName, const QByteArray &text, QString *error)
{
    QString reason = notReplaceableReason(fileName);
    if (!reason.isEmpty()) {
        *error = reason;
        return DescriptionSaved::Failed;
    }
    if (QFileInfo(fileName).isSymLink()) {
        *error = translated("it is a symbolic link");
        return DescriptionSaved::Foreign;
    }
    if (QFileInfo::exists(fileName)) {
        QFile existing(fileName);
        if (!existing.open(QIODevice::ReadOnly)) {
            *error = translated("the file there could not be read: %1").arg(existing.errorString());
            return DescriptionSaved::Failed;
        }
        if (!startsAsOwnDescription(existing.read(256))) {
            *error = translated("it exists and was not written by Quellspan");
            return DescriptionSaved::Foreign;
        }
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = file.errorString();
        file.cancelWriting();
        return DescriptionSaved::Failed;
    }
    return DescriptionSaved::Written;
}

bool appendDescriptionLines(const QString &path, const QByteArray &lines, bool sync, QString *why)
{
    QString reason;
    if (!why)
        why = &reason;
    // Only into a plain file (or a new one where it was removed), never through a link put in its place.
    if (entryAt(path) == EntryKind::Other) {
        *why = translated("the description is not a plain file");
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *why = f.errorString();
        return false;
    }
    // A last line torn by a crash is never joined to the next: it gets its line end first.
    const qint64 before = f.size();
    char last = '\n';
    const bool torn = before > 0 && f.seek(before - 1) && f.getChar(&last) && last != '\n';
    const QByteArray bytes = torn ? '\n' + lines : lines;
    const bool wrote = f.write(bytes) == bytes.size();
    QString notSynced;
    if (wrote && (!sync || syncToDisk(f, &notSynced)))
        return true;
    *why = wrote ? notSynced : f.errorString();
    // Whatever part of it was written goes again: each line is there whole or not at all.
    f.resize(before);
    QString ignored;
    syncToDisk(f, &ignored);
    return false;
}

void noteInDescription(const QString &path, const QString &text)
{
    if (entryAt(path) != EntryKind::RegularFile)
        return;
    appendDescriptionLines(path, text.toUtf8() + '\n', false);
}

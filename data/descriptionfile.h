// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Writing a run's description file (<base>.txt beside its CSV), which says what the CSV can't:
// when the run started, its sensors and their sensitivities, the program, the columns and what
// happened during the run. Everything that writes one goes through here; rundescription.h holds
// the format (it reads a description back and spells its Event and Columns lines).

// What a recording's description file holds besides the samples.
struct RecordingInfo
{
    QDateTime start; // the local date and time of the samples' time 0
    int sensorCount = 0;
    QList<QByteArray> sensitivities; // as sent to the unit, sensor 1 first; a null entry was not sent
    QString program;                 // name and version
    // Per sensor, sensor 1 first: "TD, T_cal" (%/K and degC) where the analyses correct its heat
    // flux for its temperature; empty where they don't.
    QList<QByteArray> temperatureCoefficients;
};

// A date and time as descriptions write it: local time with its offset from UTC, to the millisecond.
QString isoTime(const QDateTime &t);

enum class DescriptionOf
{
    LiveRecording, // written beside a live recording as it happens
    SavedRun,      // written beside a CSV saved with "Save as..."
};

// The lines a description starts with: a title (the first line, by which the program knows a
// description as its own), the samples' file and its columns, the start with its UTC offset,
// the sensor count, each sensitivity as it was sent and the program's name and version.
QByteArray descriptionHead(DescriptionOf kind, const QString &samplesFileName, const RecordingInfo &info);

// "Temperature coefficient of sensor <sensor> (%/K, T_cal in C): <value>" and a line end, value
// being "TD, T_cal": which sensor's heat flux the wall test corrects for its temperature. In the
// head, and appended when the operator changes it during a run (the last line of a sensor holds).
QByteArray temperatureCoefficientLine(int sensor, const QByteArray &value);

// Whether text (the start of a file) begins with a title the program writes.
bool startsAsOwnDescription(const QByteArray &text);

enum class DescriptionSaved
{
    Written,
    Foreign, // a file of that name exists that the program did not write, or a link: left alone
    Failed,
};

// Saves text as fileName through QSaveFile (replaced only by a complete new file), unless a file
// of that name exists that does not start as the program's own description, or the name is a
// symbolic link (dangling or not): the user named the CSV, not this file, so nothing is written
// where a link leads. *error gets the
// reason for Foreign and Failed, without the file name.
DescriptionSaved saveDescription(const QString &fileName, const QByteArray &text, QString *error);

// Appends a line to a recording's description; best effort, as the disk may be what failed.
void noteInDescription(const QString &path, const QString &text);
// Appends whole lines (with their line ends) to a description, synced if asked. All or nothing: a
// write that fails part way (a full disk) is cut back, so that no line is ever torn; false, with
// *why set when given, on failure.
bool appendDescriptionLines(const QString &path, const QByteArray &lines, bool sync, QString *why = nullptr);

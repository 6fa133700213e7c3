// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordingfile.h"

#include <QByteArray>
#include <QString>

// Writing a run's description file (<base>.txt beside its CSV), which says what the CSV can't:
// when the run started, its sensors and their sensitivities, the program, the columns and what
// happened during the run (rundescription.h reads it back).

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
    Foreign, // a file of that name exists that the program did not write: left alone
    Failed,
};

// Saves text as fileName through QSaveFile (replaced only by a complete new file), unless a file
// of that name exists that does not start as the program's own description. *error gets the
// reason for Foreign and Failed, without the file name.
DescriptionSaved saveDescription(const QString &fileName, const QByteArray &text, QString *error);

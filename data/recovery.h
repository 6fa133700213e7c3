// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// A recording whose program died while it was open, made whole again.
struct RecoveredRecording
{
    QString fileName; // the CSV
    QDateTime start;  // from its description, or its name
    quint64 samples = 0;
    qint64 cutBytes = 0; // bytes of a torn last line that were cut off
    bool lost = false;   // the CSV is gone (removed while recording): its samples went with it
    // Its files that are not plain files of their own (a link, a folder): not mended, not noted in.
    QStringList leftAlone;
};

// Finds the recordings in folder that were left open by a program that is no longer running,
// cuts each back to its last complete line, notes that in its description and releases its lock.
// One whose CSV is missing is reported as lost (and no CSV is made for it); a CSV or description
// that is not a plain file of its own (a link, a folder) is not touched, and reported so in
// leftAlone. Recordings of a running program are left alone.
QList<RecoveredRecording> recoverAbandonedRecordings(const QString &folder);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordparser.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QLockFile;

// The folder live recordings go to: the one set (the --recordings option), else "recordings" in
// the user's data folder.
QString recordingsFolder();
void setRecordingsFolder(const QString &folder);

// How a recording is named: its start as 2026-12-07_14-05-09 (QDateTime format).
const QString &recordingNameFormat();
// A date and time as descriptions write it: local time with its offset from UTC, to the millisecond.
QString isoTime(const QDateTime &t);
// Appends a line to a recording's description; best effort, as the disk may be what failed.
void noteInDescription(const QString &path, const QString &text);
// Appends whole lines (with their line ends) to a description, synced if asked; false on failure.
bool appendDescriptionLines(const QString &path, const QByteArray &lines, bool sync);

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

// A live recording of one run: every record taken is appended to a CSV file exactly as
// "Save as..." writes it, so the file is a valid export at every moment. The bytes go to disk
// from a thread of their own, batched and synced about once a second (and on request), so a
// slow or failing disk never holds up the run. Beside the CSV, a description file (.txt) and,
// while the recording is open, a lock file (.lock) that tells a later start whether the
// program that wrote it died (see recoverAbandonedRecordings).
class RecordingFile : public QObject
{
    Q_OBJECT

public:
    // Pending records are written and synced at most this far apart.
    static constexpr int SyncIntervalMs = 1000;

    explicit RecordingFile(QObject *parent = nullptr);
    ~RecordingFile() override; // closes

    // Starts a new recording in folder (made if missing), named after the start date and time
    // (2026-12-07_14-05-09.csv, with _2, _3 ... added rather than replacing anything). Returns
    // false, with errorString() set, when the folder or the files can't be made.
    bool open(const QString &folder, const RecordingInfo &info);
    // Open and still writing (false once writing failed).
    bool isRecording() const;
    QString fileName() const { return csvPath; } // also after close or a failure
    QString errorString() const { return error; }

    // Adds one record: its time and channels 1..channelCount.
    void append(double time, const RecordValues &values, int channelCount);
    // Appends a line (with its line end) to the description, written and synced at once by the
    // writing thread; nothing once closed.
    void appendToDescription(const QByteArray &line);
    // Asks for what is pending to be written and synced now, without waiting for it.
    void syncSoon();
    // Writes and syncs everything, closes the file, notes in the description that it was
    // closed (and why, when given) and releases the lock; waits for the disk. A recording still
    // open when the program ends through exit() is closed so, too.
    void close(const QString &why = QString());

    // Records appended since open, and those known to be safely on disk.
    quint64 appendedRecords() const { return appended; }
    quint64 syncedRecords() const;
    quint64 syncCount() const;

signals:
    // Writing stopped for good: the file keeps every complete line written before.
    void failed(const QString &reason);

private:
    class Writer;
    void writerFailed(const QString &reason);

    std::unique_ptr<Writer> writer;
    std::unique_ptr<QLockFile> heldLock;
    QString csvPath;
    QString infoPath;
    QString error;
    QByteArray line;
    quint64 appended = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/descriptionfile.h"
#include "data/recordparser.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QFile;
class QLockFile;

// A live recording of one run: every record taken is appended to a CSV file exactly as
// "Save as..." writes it, so the file is a valid export at every moment. It is named after its
// start in the recordings folder (recordingsfolder.h). The bytes go to disk
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
    // A copy of a live recording made elsewhere (the mirror), named name (without ".csv") in
    // folder, with the description info makes and headNote (whole lines) after its head. When a
    // copy of the same run is there already (the program's own description of it, with its start
    // and sensors, beside a CSV of whole lines) it goes on at its end: *heldLines gets the run's
    // records it accounts for (its lines, and those its "Gap:" lines say it lacks), *heldEvents
    // the Event lines of its description. A name that is another
    // run's or not this program's is left alone: _2, _3 ... is added to it. Returns false, with
    // errorString() set, when the files can't be made or another program is writing them.
    bool openCopy(const QString &folder, const QString &name, const RecordingInfo &info,
                  const QByteArray &headNote, quint64 *heldLines, quint64 *heldEvents);
    // Adds count whole lines (each with its line end), as they are, to a copy.
    void appendLines(const QByteArray &lines, quint64 count);
    // Open and still writing (false once writing failed).
    bool isRecording() const;
    QString fileName() const { return csvPath; } // also after close or a failure
    QString errorString() const { return error; }

    // Adds one record: its time and channels 1..channelCount.
    void append(double time, const RecordValues &values, int channelCount);
    // Appends a line (with its line end) to the description, written and synced at once by the
    // writing thread; nothing once closed. Each line is on disk whole or not at all: lines that
    // can't be written (a full disk) are kept back, in order, and tried again about once a
    // second until they are written (descriptionBehind, descriptionCaughtUp).
    void appendToDescription(const QByteArray &line);
    // Asks for what is pending to be written and synced now, without waiting for it.
    void syncSoon();
    // Writes and syncs everything, closes the file, notes in the description that it was
    // closed (and why, when given) and releases the lock; waits for the disk. A recording still
    // open when the program ends through exit() is closed so, too.
    void close(const QString &why = QString());

    // Records appended since open, and those known to be safely on disk: after a failure, and
    // after close, exactly the lines the file holds.
    quint64 appendedRecords() const { return appended; }
    quint64 syncedRecords() const;
    quint64 syncCount() const;
    // Description lines the last close could not write (the disk stayed full): lost from the
    // file, as the window still holds what they said.
    int descriptionLinesLeftOut() const { return leftOut; }

signals:
    // Writing stopped for good: the file keeps every complete line written before.
    void failed(const QString &reason);
    // A description line could not be written (firstLine, the first of those kept back, and
    // why): said once, until the description has caught up again.
    void descriptionBehind(const QByteArray &firstLine, const QString &reason);
    // The lines kept back are all written now.
    void descriptionCaughtUp(int lines);

private:
    class Writer;
    // Closes what is open and forgets its name, error and counts: a new recording or copy begins.
    void startAfresh();
    bool makeFolder(const QString &folder);
    void startWriting(std::unique_ptr<QFile> file, const QString &csv, const QString &description,
                      std::unique_ptr<QLockFile> lock);
    void writerFailed(const QString &reason);

    std::unique_ptr<Writer> writer;
    std::unique_ptr<QLockFile> heldLock;
    QString csvPath;
    QString infoPath;
    QString error;
    QByteArray line;
    quint64 appended = 0;
    quint64 syncedAtClose = 0;
    int leftOut = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordingfile.h"

#include <QObject>
#include <QString>

#include <functional>

class QLabel;
class QStatusBar;

// Keeps a live recording of the acquisition window's run on disk (see RecordingFile) and tells
// the operator about it in the window's status bar: a permanent item with the file being
// recorded to, and a message when recording can't start or stops, or a run's file is closed.
class LiveRecorder : public QObject
{
    Q_OBJECT

public:
    // describeRun gives the run's description when a recording opens.
    LiveRecorder(QStatusBar *statusBar, std::function<RecordingInfo()> describeRun,
                 QObject *parent = nullptr);

    // Makes whole the recordings in the recordings folder that a program left open when it died,
    // once per process; the next acquisition window tells the operator about them.
    static void recoverAbandoned();

    // Adds one record of channels 1..channelCount; the first record of a run opens its recording.
    void record(double time, const RecordValues &values, int channelCount);
    // Has what was recorded so far written and synced now (the run pauses).
    void syncSoon();
    // Closes the run's recording, complete; the next record opens a new one.
    void finish();
    // Closes the run's recording, complete, because the program was asked to quit (why), and
    // opens none after it. unsaved: samples of the run no "Save as..." has written.
    void closeForQuit(const QString &why, quint64 unsaved);
    // Appends a line (with its line end) to the run's description: at once while its recording
    // is open; before it opens, kept and written when it does. The lines of a run that gets no
    // recording go with finish().
    void addToDescription(const QByteArray &line);

    // Whether the run's records so far are all in its recording (it opened and has not failed).
    bool holdsWholeRun() const { return started && file.isRecording(); }
    bool hasStarted() const { return started; }
    // The run's recording (empty when it could not be opened), its records and why it stopped.
    // Once it stopped, its records are exactly the lines the file holds.
    QString fileName() const { return file.fileName(); }
    quint64 recordedSamples() const
    {
        return file.isRecording() ? file.appendedRecords() : file.syncedRecords();
    }
    quint64 syncCount() const { return file.syncCount(); }
    QString problem() const { return file.errorString(); }
    // What the run's recording was opened with (its start, sensors, program).
    const RecordingInfo &openedInfo() const { return info; }

    // The object name of the permanent status item.
    static QString labelName() { return QStringLiteral("recordingStatus"); }

signals:
    // Live recording could not start, or stopped, for reason: the run goes on in memory only.
    void stopped(const QString &reason);

private:
    void open();
    void failed(const QString &reason);
    void descriptionBehind(const QByteArray &firstLine, const QString &reason);
    QString closedText(const QString &why) const;
    void showLabel(const QString &text, const QString &path);

    QStatusBar *statusBar;
    QLabel *label;
    std::function<RecordingInfo()> describeRun;
    RecordingFile file;
    RecordingInfo info;
    bool started = false; // this run's recording was tried (opened, or failed to)
    bool closedForGood = false;
    QByteArray descriptionLines; // for a recording not opened yet
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/runstatistics.h"
#include "charts/chartdata.h"
#include "data/recordingreader.h"
#include "data/rundescription.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// A recording read back with what its window needs besides the series, made where it was read:
// the charts' summaries and the statistics' block summaries, and the description beside the file.
// The summaries point at this object's series: it is made once and never moved.
struct LoadedRecording
{
    QString fileName;
    RecordingData data;
    ChartData charts{data.series()};
    RunStatistics statistics;
    RecordingReadReport report;
    bool hasDescription = false; // a description file was there and could be read
    RunDescription description;
    QString descriptionProblem; // why a description that is there could not be read

    LoadedRecording() = default;
    LoadedRecording(const LoadedRecording &) = delete;
    LoadedRecording &operator=(const LoadedRecording &) = delete;

    // Whether there are samples to show (all of the file, or what was read before a cancel or an
    // error).
    bool hasSamples() const { return data.rows() > 0; }
    // The wall-clock time of the samples' time 0: from the description, else from a name such as
    // the live recording's (2026-12-07_14-05-09.csv); invalid when neither tells.
    QDateTime start() const;
};

// The start a recording's name tells (yyyy-MM-dd_HH-mm-ss, local time, optionally followed by
// "_2", "_3" ... as the live recording adds them), or an invalid date-time.
QDateTime startFromFileName(const QString &fileName);

// Reads fileName into *into, summarising the rows for the charts and the statistics as they are
// read (chunk by chunk, while they are in the cache), and reads the description beside it. Stops
// early when *cancel becomes true; what was read until then is kept and summarised. progress gets
// the bytes read so far and the bytes to read. Runs on any thread.
void loadRecording(const QString &fileName, LoadedRecording *into, const std::atomic<bool> *cancel,
                   const std::function<void(qint64 done, qint64 total)> &progress);

// Runs loadRecording on a thread of its own, so that a window stays responsive while a long run
// is read, and hands the result to the GUI thread.
class RecordingLoader : public QObject
{
    Q_OBJECT

public:
    explicit RecordingLoader(QObject *parent = nullptr);
    // Cancels a load in progress and waits for its thread (at most a chunk's reading).
    ~RecordingLoader() override;

    void start(const QString &fileName);
    // The reading stops at its next chunk; finished() follows with what was read.
    void cancel();
    bool isLoading() const { return thread != nullptr; }
    // After finished(): the recording, handed over once.
    std::unique_ptr<LoadedRecording> take() { return std::move(result); }

signals:
    // Bytes read of the file, at most about every 1 MiB.
    void progressed(qint64 done, qint64 total);
    void finished();

private:
    void threadDone();

    QThread *thread = nullptr;
    std::atomic<bool> cancelled{false};
    std::unique_ptr<LoadedRecording> loading;
    std::unique_ptr<LoadedRecording> result;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/recordingloader.h"

#include "charts/measuringgaps.h"
#include "data/recordingsfolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <malloc.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Rows on their way from the thread that reads them to the one that summarises them for the
// charts: copies (the time column, then each channel's), so that the summarising never reads
// series that the reading may move in memory as they grow.
struct RowBatch
{
    int sensorCount = 0;
    int rows = 0;
    std::vector<double> columns;
};

// At most a few batches wait (a few MiB), so that a slow summariser holds the reading back
// rather than piling up copies; batches done with come back to be filled again, so that their
// memory is not asked for anew each time.
class BatchQueue
{
public:
    static constexpr size_t MaxWaiting = 8;

    void push(RowBatch batch)
    {
        std::unique_lock<std::mutex> lock(mutex);
        room.wait(lock, [this] { return waiting.size() < MaxWaiting; });
        waiting.push_back(std::move(batch));
        ready.notify_one();
    }
    // Waits for a batch; false once closed and empty.
    bool pop(RowBatch *batch)
    {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [this] { return !waiting.empty() || closed; });
        if (waiting.empty())
            return false;
        *batch = std::move(waiting.front());
        waiting.pop_front();
        room.notify_one();
        return true;
    }
    void close()
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        ready.notify_one();
    }
    void giveBack(RowBatch batch)
    {
        std::lock_guard<std::mutex> lock(mutex);
        spare.push_back(std::move(batch));
    }
    RowBatch takeSpare()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (spare.empty())
            return RowBatch();
        RowBatch batch = std::move(spare.back());
        spare.pop_back();
        return batch;
    }

private:
    std::mutex mutex;
    std::condition_variable ready, room;
    std::deque<RowBatch> waiting;
    std::vector<RowBatch> spare;
    bool closed = false;
};

// The charts' summaries are made on a thread of their own while the file is read: on two cores
// the summarising then costs next to nothing of the time the run takes to show.
class ChartSummariser
{
public:
    explicit ChartSummariser(ChartData *charts)
        : thread([this, charts] {
              RowBatch batch;
              RecordValues values{};
              while (queue.pop(&batch)) {
                  const int channels = 2 * batch.sensorCount;
                  const double *time = batch.columns.data();
                  for (int row = 0; row < batch.rows; ++row) {
                      for (int k = 0; k < channels; ++k)
                          values[size_t(k)] = time[size_t(k + 1) * size_t(batch.rows) + size_t(row)];
                      charts->append(batch.sensorCount, time[row], values);
                  }
                  queue.giveBack(std::move(batch));
              }
          })
    {
    }
    ~ChartSummariser() { finish(); }

    // Hands over the rows the series hold beyond those handed over before.
    void handOver(const RecordingData &data)
    {
        if (data.sensorCount == 0 || handed >= data.rows())
            return;
        RowBatch batch = queue.takeSpare();
        batch.sensorCount = data.sensorCount;
        batch.rows = data.rows() - handed;
        batch.columns.resize(size_t(batch.rows) * size_t(1 + 2 * data.sensorCount));
        double *to = batch.columns.data();
        for (int k = -1; k < 2 * data.sensorCount; ++k) {
            const QVector<double> &from = k < 0 ? data.time : data.channels[size_t(k)];
            std::copy_n(from.constData() + handed, batch.rows, to);
            to += batch.rows;
        }
        handed = data.rows();
        queue.push(std::move(batch));
    }
    // Waits until every row handed over is summarised.
    void finish()
    {
        if (!thread.joinable())
            return;
        queue.close();
        thread.join();
    }

private:
    BatchQueue queue;
    int handed = 0;
    std::thread thread;
};

} // namespace

QDateTime LoadedRecording::start() const
{
    if (hasDescription && description.start.isValid())
        return description.start;
    return startFromFileName(fileName);
}

QDateTime startFromFileName(const QString &fileName)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)(_\\d+)?$"));
    const QRegularExpressionMatch match = pattern.match(QFileInfo(fileName).completeBaseName());
    if (!match.hasMatch())
        return QDateTime();
    return QDateTime::fromString(match.captured(1), recordingNameFormat());
}

void loadRecording(const QString &fileName, LoadedRecording *into, const std::atomic<bool> *cancel,
                   const std::function<void(qint64, qint64)> &progress)
{
    into->fileName = fileName;
    // The description beside it (unless that is the very file read) first: the moments it notes
    // after which nothing was measured (a pause, the unit gone) break the curves as the records
    // are summarised, as they broke live.
    const QString description = descriptionFileName(fileName);
    if (QFileInfo(description) != QFileInfo(fileName) && QFileInfo::exists(description)) {
        into->hasDescription = readRunDescription(description, &into->description, &into->descriptionProblem);
        if (!into->hasDescription)
            into->description = RunDescription();
    }
    for (const RunEvent &e : qAsConst(into->description.events)) {
        if (endsMeasuring(e.kind))
            into->charts.noteQuietFrom(e.time);
    }
    {
        ChartSummariser summariser(&into->charts);
        RecordingReader reader;
        reader.setCancelFlag(cancel);
        reader.setProgress([&](qint64 done, qint64 total) {
            summariser.handOver(into->data);
            if (progress)
                progress(done, total);
        });
        into->report = reader.read(fileName, &into->data);
        summariser.handOver(into->data);
        // The series stay as they are now: the statistics' summaries read them meanwhile.
        if (into->data.rows() > 0) {
            into->statistics.setSeries(into->data.series(), 2 * into->data.sensorCount);
            into->statistics.update();
        }
        summariser.finish();
    }
#ifdef __GLIBC__
    // The copies handed to the summariser and the series' first room are freed now; give what
    // the allocator keeps of them back to the system.
    malloc_trim(0);
#endif
}

RecordingLoader::RecordingLoader(QObject *parent) : QObject(parent) {}

RecordingLoader::~RecordingLoader()
{
    if (thread) {
        cancelled = true;
        thread->wait();
        delete thread;
    }
}

void RecordingLoader::start(const QString &fileName)
{
    if (thread)
        return;
    cancelled = false;
    result.reset();
    loading = std::make_unique<LoadedRecording>();
    LoadedRecording *into = loading.get();
    thread = QThread::create([this, fileName, into] {
        loadRecording(fileName, into, &cancelled, [this](qint64 done, qint64 total) {
            // Queued to the loader's thread; the loader outlives the reading thread.
            QMetaObject::invokeMethod(
                this, [this, done, total] { emit progressed(done, total); }, Qt::QueuedConnection);
        });
    });
    connect(thread, &QThread::finished, this, &RecordingLoader::threadDone);
    thread->start();
}

void RecordingLoader::cancel()
{
    cancelled = true;
}

void RecordingLoader::threadDone()
{
    // The thread has ended: everything it wrote is visible here.
    thread->wait();
    delete thread;
    thread = nullptr;
    result = std::move(loading);
    emit finished();
}

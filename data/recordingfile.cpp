// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recordingfile.h"

#include "data/csvwriter.h"
#include "data/fileentry.h"
#include "data/recordingsfolder.h"
#include "data/rundescription.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QPointer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("RecordingFile", text);
}

QString stoppedNote(const QString &when, const QString &reason)
{
    return QStringLiteral("Stopped: %1: %2; the samples before are complete\n").arg(when, reason);
}

// The recordings open in this process. A program that ends through exit() while one is open (Qt
// does so when the display connection breaks) closes them on the way out, so that they end
// complete, as on a normal close, and not as after a crash.
class OpenRecordings
{
public:
    void keep(RecordingFile *recording)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        open.insert(recording);
        // Once the first recording opens: whatever the closing uses was set up before, so it
        // is still there when this runs.
        if (!registered) {
            registered = true;
            std::atexit([] { closeAllAtExit(); });
        }
    }
    void forget(RecordingFile *recording)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        open.erase(recording);
    }

private:
    static void closeAllAtExit();

    std::mutex mutex;
    std::set<RecordingFile *> open;
    bool registered = false;
};

OpenRecordings &openRecordings()
{
    static OpenRecordings recordings;
    return recordings;
}

} // namespace

void OpenRecordings::closeAllAtExit()
{
    for (;;) {
        RecordingFile *recording = nullptr;
        {
            OpenRecordings &all = openRecordings();
            const std::lock_guard<std::mutex> lock(all.mutex);
            if (all.open.empty())
                return;
            recording = *all.open.begin();
        }
        recording->close(translated("the program was ended while recording (its display went away, for "
                                    "instance) and closed the recording on the way out"));
    }
}

// What the writer thread tells its owner; called on the writer thread.
struct WriterReports
{
    std::function<void(const QString &)> failed;
    std::function<void(const QByteArray &, const QString &)> descriptionBehind;
    std::function<void(int)> descriptionCaughtUp;
};

// Owns the open CSV file from open to close and does all the writing on a thread of its own.
class RecordingFile::Writer
{
public:
    Writer(std::unique_ptr<QFile> csv, const QString &descriptionPath, WriterReports reports)
        : file(std::move(csv)), descriptionPath(descriptionPath), reports(std::move(reports))
    {
        goodSize = file->size(); // a copy that goes on keeps what it holds
        thread = std::thread([this] { run(); });
    }

    ~Writer() { finish(); }

    void add(const QByteArray &bytes, quint64 records = 1)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        pending.append(bytes);
        pendingRecords += records;
    }

    // A line for the description: written and synced at once, apart from the samples' batches.
    void addNote(const QByteArray &line)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            notes.append(line);
        }
        wake.notify_one();
    }

    void requestSync()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            syncRequested = true;
        }
        wake.notify_one();
    }

    // Writes what is left, syncs, closes the file; waits for all of it.
    void finish()
    {
        if (!thread.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        thread.join();
    }

    // Once finished: why the samples stopped (empty if they did not), and the description lines
    // still kept back.
    QString failure() const { return failedBecause; }
    QByteArray keptBack() const { return backlog; }

    std::atomic<quint64> syncedRecords{0};
    std::atomic<quint64> syncs{0};

private:
    void run()
    {
        using Clock = std::chrono::steady_clock;
        auto lastSync = Clock::now();
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait_until(lock, lastSync + std::chrono::milliseconds(SyncIntervalMs),
                            [this] { return stopping || syncRequested || !notes.isEmpty(); });
            const bool last = stopping;
            const bool due =
                last || syncRequested || Clock::now() >= lastSync + std::chrono::milliseconds(SyncIntervalMs);
            QByteArray newNotes;
            newNotes.swap(notes);
            QByteArray batch;
            quint64 records = 0;
            if (due) {
                syncRequested = false;
                batch.swap(pending);
                records = pendingRecords;
                pendingRecords = 0;
            }
            lock.unlock();

            // Lines kept back are tried again at every turn, about once a second at least.
            if (!newNotes.isEmpty() || !backlog.isEmpty())
                writeNotes(newNotes);
            if (due) {
                if (!batch.isEmpty() && !broken)
                    writeBatch(batch, records);
                lastSync = Clock::now();
            }

            lock.lock();
            if (last && pending.isEmpty() && notes.isEmpty())
                break;
        }
        lock.unlock();
        file->close();
    }

    // The description gets whole lines, in order: what can't be written now waits in the backlog.
    void writeNotes(const QByteArray &newNotes)
    {
        const bool wasBehind = !backlog.isEmpty();
        backlog += newNotes;
        QString why;
        int written = 0;
        if (appendDescriptionLines(descriptionPath, backlog, true, &why)) {
            written = int(backlog.count('\n'));
            backlog.clear();
        } else {
            // Maybe there is room for some of them: one line at a time, up to the first that fails.
            qsizetype from = 0;
            while (from < backlog.size()) {
                const qsizetype end = backlog.indexOf('\n', from) + 1;
                if (!appendDescriptionLines(descriptionPath, backlog.mid(from, end - from), true, &why))
                    break;
                ++written;
                from = end;
            }
            backlog.remove(0, int(from));
        }
        if (!wasBehind && !backlog.isEmpty())
            reports.descriptionBehind(backlog.left(backlog.indexOf('\n') + 1), why);
        else if (wasBehind && backlog.isEmpty())
            reports.descriptionCaughtUp(behindWritten + written);
        // Counted from the first line kept back.
        behindWritten = backlog.isEmpty() || !wasBehind ? 0 : behindWritten + written;
    }

    void writeBatch(const QByteArray &batch, quint64 records)
    {
        QString why;
        const char *data = batch.constData();
        qint64 left = batch.size();
        while (left > 0) {
            const qint64 written = file->write(data, left);
            if (written <= 0) {
                why = file->errorString();
                break;
            }
            data += written;
            left -= written;
        }
        if (left == 0 && syncToDisk(*file, &why)) {
            goodSize += batch.size();
            syncedRecords += records;
            ++syncs;
            return;
        }
        // Cut a partly written batch back to the last complete line, so that the file stays a
        // valid export, and write nothing more: the file holds syncedRecords lines.
        broken = true;
        failedBecause = why;
        if (file->size() != goodSize)
            file->resize(goodSize);
        QString ignored;
        syncToDisk(*file, &ignored);
        reports.failed(why);
    }

    std::unique_ptr<QFile> file;
    QString descriptionPath;
    WriterReports reports;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    QByteArray pending;
    quint64 pendingRecords = 0;
    QByteArray notes;
    bool syncRequested = false;
    bool stopping = false;
    // Only the writer thread touches these (and the owner once it has finished).
    qint64 goodSize = 0;
    bool broken = false;
    QString failedBecause;
    QByteArray backlog;    // description lines not written yet, whole lines in order
    int behindWritten = 0; // of them, written since the description fell behind
};

RecordingFile::RecordingFile(QObject *parent) : QObject(parent) {}

RecordingFile::~RecordingFile()
{
    close();
}

void RecordingFile::startAfresh()
{
    close();
    error.clear();
    csvPath.clear();
    appended = 0;
    syncedAtClose = 0;
    leftOut = 0;
}

bool RecordingFile::open(const QString &folder, const RecordingInfo &info)
{
    startAfresh();

    if (!makeFolder(folder))
        return false;
    const QDir dir(folder);
    const QString base = info.start.toString(recordingNameFormat());
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QString name = attempt == 1 ? base : QStringLiteral("%1_%2").arg(base).arg(attempt);
        const QString csv = dir.absoluteFilePath(name + QStringLiteral(".csv"));
        const QString description = dir.absoluteFilePath(name + QStringLiteral(".txt"));
        const QString lockPath = dir.absoluteFilePath(name + QStringLiteral(".lock"));
        // Anything at one of the names, even a dangling link, makes it taken.
        if (entryAt(csv) != EntryKind::None || entryAt(description) != EntryKind::None ||
            entryAt(lockPath) != EntryKind::None)
            continue;
        auto lock = std::make_unique<QLockFile>(lockPath);
        lock->setStaleLockTime(0); // stale only when its program is gone, however long a run lasts
        if (!lock->tryLock(0)) {
            if (lock->error() == QLockFile::LockFailedError)
                continue; // someone else took the name just now
            error = translated("the lock file %1 could not be made").arg(QDir::toNativeSeparators(lockPath));
            return false;
        }
        auto file = std::make_unique<QFile>(csv);
        if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (entryAt(csv) != EntryKind::None)
                continue; // someone took the name just now
            error = file->errorString();
            return false;
        }

        const QByteArray text =
            descriptionHead(DescriptionOf::LiveRecording, name + QStringLiteral(".csv"), info);
        QFile descriptionFile(description);
        if (!descriptionFile.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            descriptionFile.write(text) < 0 || !descriptionFile.flush()) {
            error = descriptionFile.errorString();
            descriptionFile.remove();
            file->remove();
            return false;
        }
        descriptionFile.close();

        startWriting(std::move(file), csv, description, std::move(lock));
        return true;
    }
    error = translated("no free file name for %1").arg(base);
    return false;
}

bool RecordingFile::makeFolder(const QString &folder)
{
    errno = 0;
    if (QDir().mkpath(folder))
        return true;
    const int code = errno;
    error = translated("the folder %1 could not be made").arg(QDir::toNativeSeparators(folder));
    if (code != 0)
        error += QStringLiteral(" (%1)").arg(qt_error_string(code));
    return false;
}

void RecordingFile::startWriting(std::unique_ptr<QFile> file, const QString &csv, const QString &description,
                                 std::unique_ptr<QLockFile> lock)
{
    csvPath = csv;
    infoPath = description;
    heldLock = std::move(lock);
    QPointer<RecordingFile> self(this);
    openRecordings().keep(this);
    // From the writer thread: over to the owner's thread.
    const auto toOwner = [self](std::function<void(RecordingFile *)> call) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, call] {
                if (self)
                    call(self.data());
            },
            Qt::QueuedConnection);
    };
    WriterReports reports;
    reports.failed = [toOwner](const QString &reason) {
        toOwner([reason](RecordingFile *f) { f->writerFailed(reason); });
    };
    reports.descriptionBehind = [toOwner](const QByteArray &line, const QString &reason) {
        toOwner([line, reason](RecordingFile *f) {
            if (f->writer)
                emit f->descriptionBehind(line, reason);
        });
    };
    reports.descriptionCaughtUp = [toOwner](int lines) {
        toOwner([lines](RecordingFile *f) {
            if (f->writer)
                emit f->descriptionCaughtUp(lines);
        });
    };
    writer = std::make_unique<Writer>(std::move(file), description, std::move(reports));
}

namespace {

// Whether the files at csv and description are a copy of the run info describes, as openCopy
// makes them: the program's own description of it, naming csv, and a CSV of whole lines only.
// *lines: the CSV's lines; *missing: the records its "Gap:" lines say it lacks; *events: the
// description's Event lines.
bool isCopyOf(const QString &csv, const QString &description, const RecordingInfo &info, quint64 *lines,
              quint64 *missing, quint64 *events)
{
    if (entryAt(csv) != EntryKind::RegularFile || entryAt(description) != EntryKind::RegularFile)
        return false;
    QFile text(description);
    if (!text.open(QIODevice::ReadOnly) || text.size() > RunDescription::MaxBytes)
        return false;
    const QByteArray bytes = text.readAll();
    const RunDescription said = parseRunDescription(bytes);
    if (!startsAsOwnDescription(bytes) || said.samplesFile != QFileInfo(csv).fileName() ||
        isoTime(said.start) != isoTime(info.start) || said.sensorCount != info.sensorCount)
        return false;
    *events = quint64(bytes.startsWith("Event: ")) + quint64(bytes.count("\nEvent: "));
    // Records the copy accounts for without holding them: "Gap: <n> records from seq <s> ...".
    *missing = 0;
    for (int at = bytes.indexOf("\nGap: "); at >= 0; at = bytes.indexOf("\nGap: ", at + 1)) {
        const int end = bytes.indexOf(' ', at + 6);
        bool ok = false;
        const quint64 n = bytes.mid(at + 6, end - at - 6).toULongLong(&ok);
        if (ok)
            *missing += n;
    }
    QFile samples(csv);
    if (!samples.open(QIODevice::ReadOnly))
        return false;
    *lines = 0;
    char last = '\n';
    while (!samples.atEnd()) {
        const QByteArray block = samples.read(1 << 20);
        if (block.isEmpty())
            return false;
        *lines += quint64(block.count('\n'));
        last = block.at(block.size() - 1);
    }
    return last == '\n'; // a torn last line: not this program's (recovery cuts its own)
}

} // namespace

bool RecordingFile::openCopy(const QString &folder, const QString &name, const RecordingInfo &info,
                             const QByteArray &headNote, quint64 *heldLines, quint64 *heldEvents)
{
    startAfresh();
    *heldLines = 0;
    *heldEvents = 0;
    if (!makeFolder(folder))
        return false;
    const QDir dir(folder);
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QString base = attempt == 1 ? name : QStringLiteral("%1_%2").arg(name).arg(attempt);
        const QString csv = dir.absoluteFilePath(base + QStringLiteral(".csv"));
        const QString description = dir.absoluteFilePath(base + QStringLiteral(".txt"));
        const QString lockPath = dir.absoluteFilePath(base + QStringLiteral(".lock"));
        const bool fresh = entryAt(csv) == EntryKind::None && entryAt(description) == EntryKind::None &&
                           entryAt(lockPath) == EntryKind::None;
        quint64 lines = 0, missing = 0, events = 0;
        if (!fresh && !isCopyOf(csv, description, info, &lines, &missing, &events))
            continue; // another run's, or not this program's
        auto lock = std::make_unique<QLockFile>(lockPath);
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (fresh && lock->error() == QLockFile::LockFailedError)
                continue;
            qint64 pid = 0;
            QString host, program;
            lock->getLockInfo(&pid, &host, &program);
            error = translated("the copy %1 is being written by another program (%2, process %3)")
                        .arg(QDir::toNativeSeparators(csv), program)
                        .arg(pid);
            return false;
        }
        auto file = std::make_unique<QFile>(csv);
        const QIODevice::OpenMode mode =
            fresh ? QIODevice::WriteOnly | QIODevice::NewOnly : QIODevice::WriteOnly | QIODevice::Append;
        if (!file->open(mode | QIODevice::Unbuffered)) {
            error = file->errorString();
            return false;
        }
        QByteArray head;
        if (fresh)
            head =
                descriptionHead(DescriptionOf::LiveRecording, base + QStringLiteral(".csv"), info) + headNote;
        else
            head = QStringLiteral("Continued: %1: the copy goes on from sample %2\n")
                       .arg(isoTime(QDateTime::currentDateTime()))
                       .arg(lines)
                       .toUtf8();
        if (!appendDescriptionLines(description, head, true)) {
            error = translated("the description %1 could not be written")
                        .arg(QDir::toNativeSeparators(description));
            if (fresh)
                file->remove();
            return false;
        }
        startWriting(std::move(file), csv, description, std::move(lock));
        writer->syncedRecords = lines; // "Closed:" counts the copy's lines
        *heldLines = lines + missing;
        *heldEvents = events;
        return true;
    }
    error = translated("no free file name for %1").arg(name);
    return false;
}

void RecordingFile::appendLines(const QByteArray &lines, quint64 count)
{
    if (!isRecording())
        return;
    writer->add(lines, count);
    appended += count;
}

bool RecordingFile::isRecording() const
{
    return writer && error.isEmpty();
}

void RecordingFile::append(double time, const RecordValues &values, int channelCount)
{
    if (!isRecording())
        return;
    line.clear();
    appendCsvLine(&line, time, values.data(), channelCount);
    writer->add(line);
    ++appended;
}

void RecordingFile::appendToDescription(const QByteArray &line)
{
    if (writer)
        writer->addNote(line);
}

void RecordingFile::syncSoon()
{
    if (writer)
        writer->requestSync();
}

void RecordingFile::close(const QString &why)
{
    if (!writer)
        return;
    openRecordings().forget(this);
    writer->finish();
    syncedAtClose = writer->syncedRecords;
    const QString failure = writer->failure();
    QByteArray lines = writer->keptBack();
    writer.reset();
    const QString now = isoTime(QDateTime::currentDateTime());
    if (error.isEmpty() && !failure.isEmpty()) {
        // The last batch failed on the way out: said as a failure, with what the file holds.
        error = failure;
        lines += stoppedNote(now, failure).toUtf8();
    } else if (error.isEmpty()) {
        QString note = QStringLiteral("Closed: %1, %2 samples").arg(now).arg(syncedAtClose);
        if (!why.isEmpty())
            note += QStringLiteral("; ") + why;
        lines += note.toUtf8() + '\n';
    }
    leftOut = 0;
    if (!lines.isEmpty() && entryAt(infoPath) != EntryKind::Other &&
        !appendDescriptionLines(infoPath, lines, true))
        leftOut = int(lines.count('\n'));
    heldLock.reset(); // releases the lock: the recording is complete
}

quint64 RecordingFile::syncedRecords() const
{
    return writer ? quint64(writer->syncedRecords) : syncedAtClose;
}

quint64 RecordingFile::syncCount() const
{
    return writer ? quint64(writer->syncs) : 0;
}

void RecordingFile::writerFailed(const QString &reason)
{
    if (!error.isEmpty())
        return;
    error = reason;
    // In order with the description's other lines, kept back with them if the disk is full.
    if (writer)
        writer->addNote(stoppedNote(isoTime(QDateTime::currentDateTime()), reason).toUtf8());
    emit failed(reason);
}

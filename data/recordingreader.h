// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"
#include "data/recordparser.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <atomic>
#include <functional>

class QIODevice;

// A recording read back: the same series the acquisition window records into, so that they can
// be drawn, saved and summarised exactly like live data.
struct RecordingData
{
    int sensorCount = 0; // 1 to 4 once the file's shape is known
    QVector<double> time;
    // Channel k is channels[k - 1]; those of absent sensors stay empty.
    std::array<QVector<double>, MaxChannels> channels;

    int rows() const { return time.size(); }
    RecordedSeries series() const;
};

// What a read found. Counts and line numbers are over the whole file as read so far (all calls).
struct RecordingReadReport
{
    enum Status
    {
        Read,      // samples read (possibly none new)
        NoSamples, // no complete line of samples yet (a header alone, a torn line alone)
        Empty,     // 0 bytes
        NotText,   // binary bytes and no line of samples
        WrongShape,
        Cancelled, // the data holds the rows read until then
        OpenFailed,
        ReadFailed, // the data holds the rows read until then
        Shrunk,     // the file is now shorter than what was read of it
    };

    Status status = NoSamples;
    int sensorCount = 0;
    qint64 rows = 0;    // rows held
    qint64 newRows = 0; // rows added by this read
    // Complete lines that were not samples (wrong field count, a field that is not a number, a
    // time that is not finite, a line longer than MaxLineLength), and the first one's number
    // (1-based, 0 when none).
    qint64 badLines = 0;
    qint64 firstBadLine = 0;
    // Lines whose time is before the previous sample's: left out, so that times never decrease.
    qint64 backwardLines = 0;
    qint64 firstBackwardLine = 0;
    bool headerSkipped = false;
    // The series hold MaxRows rows, as many as they can: the rest of the file was not read.
    bool full = false;
    // Bytes after the last line end: a line still being written or cut off. Not read; the next
    // read of the same file starts with it.
    qint64 tornBytes = 0;
    qint64 bytesRead = 0; // up to and including the last complete line
    // For WrongShape: the field count most lines of the file's start have (0 if unknown).
    int typicalFieldCount = 0;
    QString systemError; // for OpenFailed and ReadFailed

    bool ok() const { return status == Read; }
    // A sentence for the user: why nothing was read, or empty when samples were read.
    QString errorMessage() const;
    // Sentences on what was left out (torn last line, bad lines, times going back), or none.
    QStringList notes() const;
};

// Reads a CSV file of the shape "Save as..." and the live recording write: one line per sample,
// the time, then heat flux and temperature of sensors 1..N (3, 5, 7 or 9 fields), LF or CR LF.
//
// - Numbers: what std::from_chars reads in the C locale (so exactly the values the writer wrote,
//   bit for bit, "inf", "-inf", "nan" included), with an optional leading "+" and spaces, tabs or
//   CRs around each field. Numbers beyond the range of a double (1e999) are not numbers here.
// - N: from the lines starting in the first 64 KiB (ShapeWindow). Of the first 16 lines there
//   that are all numbers with 3, 5, 7 or 9 fields and a finite time, the field count most of
//   them have; a tie goes to the count seen first. Until such a line has been read, nothing is
//   decided.
// - A first line that holds a letter and no number is a header of names: skipped. A UTF-8 byte
//   order mark at the start is skipped.
// - Lines of another field count, with a field that is not a number, a time that is not finite
//   or longer than MaxLineLength (64 KiB) are bad: counted, not stored.
// - A line whose time is before the previous sample's is left out and counted apart: the series
//   are kept in time order (a file of two runs joined shows up as such lines).
// - Bytes after the last line end are left for the next read: a file still being written is read
//   up to its last complete line, and calling read again appends what was added since.
// - A file with no line of samples gives Empty, NotText (a NUL or another control byte than tab,
//   CR or LF in its first 64 KiB), WrongShape or NoSamples, and no data.
//
// The file is read in chunks (nothing like its whole size is held besides the series), with the
// series reserved from its size and squeezed at the end, one at a time. Usable from any thread;
// one reader reads one file into one RecordingData.
class RecordingReader
{
public:
    static constexpr int ChunkSize = 1 << 20;
    static constexpr int MaxLineLength = 64 * 1024;
    static constexpr int ShapeWindow = 64 * 1024;
    static constexpr int ShapeLines = 16;
    // The most rows a QVector<double> can hold, less some room.
    static constexpr int MaxRows = 250000000;

    // Called after each chunk with the bytes read by this call so far and the bytes it will read.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    RecordingReader() = default;
    // Other sizes than the defaults, so that tests can reach their edges with little data.
    RecordingReader(int chunkSize, int maxLineLength, int shapeWindow);

    void setProgress(Progress progress) { progressCallback = std::move(progress); }
    // When set, checked before each chunk (about every 1 MiB); the read stops as Cancelled.
    void setCancelFlag(const std::atomic<bool> *cancel) { cancelFlag = cancel; }

    // Reads what the file holds beyond what earlier calls read, appending to *data (pass the same
    // data each time; what it held before this reader's first rows is dropped). Refuses what is
    // not a regular file (a FIFO would block).
    RecordingReadReport read(const QString &fileName, RecordingData *data);
    // The same from an open, seekable device (up to its size when called).
    RecordingReadReport read(QIODevice *device, RecordingData *data);

private:
    bool decideShape(const char *begin, const char *end, bool atFileStart);

    int chunkSize = ChunkSize;
    int maxLineLength = MaxLineLength;
    int shapeWindow = ShapeWindow;
    Progress progressCallback;
    const std::atomic<bool> *cancelFlag = nullptr;

    // What earlier calls found, so that a later call goes on where they stopped.
    qint64 offset = 0;
    qint64 lineNumber = 0;
    int fieldCount = 0; // 0 until decided
    double lastTime = 0;
    bool hasLastTime = false;
    bool refused = false;       // NotText or WrongShape: for good
    RecordingReadReport totals; // what the file held so far; tornBytes, newRows, systemError unused
};

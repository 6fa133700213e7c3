// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recordingreader.h"

#include "data/counted.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int MaxFields = 1 + MaxChannels;

QString translated(const char *text)
{
    return QCoreApplication::translate("RecordingReader", text);
}

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// A byte that text never holds: NUL and the control characters other than tab, LF and CR.
inline bool isBinaryByte(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f;
}

// The common case, a plain decimal of at most 15 digits such as the writer's times and the unit's
// readings, without the general search: its digits as an integer and a power of ten are both
// exact doubles, so their quotient is the correctly rounded value, as from_chars gives it.
// Returns the end of the number, or null when the text is not such a number.
const char *readPlainDecimal(const char *p, const char *end, double *value)
{
    static const double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = p < end && *p == '-';
    p += negative;
    std::uint64_t digits = 0;
    int count = 0;
    int decimals = 0;
    for (; p < end && unsigned(*p - '0') < 10; ++p, ++count)
        digits = digits * 10 + unsigned(*p - '0');
    if (p < end && *p == '.') {
        for (++p; p < end && unsigned(*p - '0') < 10; ++p, ++count, ++decimals)
            digits = digits * 10 + unsigned(*p - '0');
    }
    if (count == 0 || count > 15 || (p < end && (*p == 'e' || *p == 'E')))
        return nullptr;
    const double v = double(digits) / powers[decimals];
    *value = negative ? -v : v;
    return p;
}

// Splits [p, end) at its commas. Returns the number of fields; the values of the first `room`
// are stored, and *numbers counts the fields that are numbers (blanks around them allowed).
int parseFields(const char *p, const char *end, double *values, int room, int *numbers)
{
    int count = 0;
    *numbers = 0;
    for (;;) {
        while (p < end && isBlank(*p))
            ++p;
        const char *q = p;
        if (q + 1 < end && *q == '+' && q[1] != '-')
            ++q; // from_chars takes no "+"; "+-1" stays refused
        double v;
        std::from_chars_result r{readPlainDecimal(q, end, &v), std::errc()};
        if (!r.ptr)
            r = std::from_chars(q, end, v);
        bool ok = false;
        if (r.ec == std::errc()) {
            q = r.ptr;
            while (q < end && isBlank(*q))
                ++q;
            ok = q == end || *q == ',';
        }
        if (!ok) {
            q = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
            if (!q)
                q = end;
        } else {
            ++*numbers;
            if (count < room)
                values[count] = v;
        }
        ++count;
        if (q == end)
            return count;
        p = q + 1;
    }
}

bool hasLetter(const char *p, const char *end)
{
    for (; p < end; ++p) {
        if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))
            return true;
    }
    return false;
}

// A first line of names: a letter somewhere and no field that is a number.
bool isHeader(const char *p, const char *end, int maxLineLength)
{
    if (end - p > maxLineLength || !hasLetter(p, end))
        return false;
    double values[MaxFields];
    int numbers = 0;
    parseFields(p, end, values, MaxFields, &numbers);
    return numbers == 0;
}

bool startsWithByteOrderMark(const char *p, const char *end)
{
    return end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0;
}

// Reads up to size bytes, fewer only at the end of the device; -1 on an error.
qint64 readFully(QIODevice *device, char *to, qint64 size)
{
    qint64 got = 0;
    while (got < size) {
        const qint64 n = device->read(to + got, size - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

// Makes room for `rows` in each series, growing by at least an eighth so that many small reads of a
// growing file do not copy the series each time. One series at a time: only one is ever copied.
void reserveRows(RecordingData *data, qint64 rows, int channelCount)
{
    const int capacity = data->time.capacity();
    if (rows <= capacity)
        return;
    const qint64 wanted = std::max<qint64>(rows, qint64(capacity) + capacity / 8);
    const int target = int(std::min<qint64>(wanted, RecordingReader::MaxRows));
    data->time.reserve(target);
    for (int k = 0; k < channelCount; ++k)
        data->channels[size_t(k)].reserve(target);
}

void squeezeRows(RecordingData *data, int channelCount)
{
    data->time.squeeze();
    for (int k = 0; k < channelCount; ++k)
        data->channels[size_t(k)].squeeze();
}

} // namespace

RecordingReader::RecordingReader(int chunkSize, int maxLineLength, int shapeWindow)
    : chunkSize(std::max(chunkSize, 1)), maxLineLength(std::max(maxLineLength, 1)),
      shapeWindow(std::max(shapeWindow, 1))
{
}

RecordedSeries RecordingData::series() const
{
    RecordedSeries s;
    s.time = &time;
    for (int k = 0; k < MaxChannels; ++k)
        s.channels[size_t(k)] = &channels[size_t(k)];
    return s;
}

QString RecordingReadReport::errorMessage() const
{
    switch (status) {
    case Read:
        return QString();
    case NoSamples:
        return translated("The file holds no complete line of samples.");
    case Empty:
        return translated("The file is empty.");
    case NotText:
        return translated("The file is not a text file: it holds binary bytes and no line of samples.");
    case WrongShape:
        if (typicalFieldCount > 0 && typicalFieldCount != 3 && typicalFieldCount != 5 &&
            typicalFieldCount != 7 && typicalFieldCount != 9) {
            return translated("The file is not a recording: its lines have %1 fields, where a recording has "
                              "3, 5, 7 or 9 (the time, then heat flux and temperature of each of 1 to 4 "
                              "sensors).")
                .arg(typicalFieldCount);
        }
        return translated(
            "The file is not a recording: its first lines are not lines of 3, 5, 7 or 9 numbers "
            "(the time, then heat flux and temperature of each of 1 to 4 sensors).");
    case Cancelled:
        return translated("Reading the file was cancelled.");
    case OpenFailed:
        return translated("The file could not be opened: %1").arg(systemError);
    case ReadFailed:
        return translated("Reading the file failed: %1").arg(systemError);
    case Shrunk:
        return translated("The file is now shorter than what was read of it: it was replaced or cut.");
    }
    return QString();
}

QStringList RecordingReadReport::notes() const
{
    QStringList notes;
    if (tornBytes > 0) {
        notes << translated("The last line has no line end (%1): it may be cut off or still being written, "
                            "and was left out.")
                     .arg(counted(tornBytes, translated("byte"), translated("bytes")));
    }
    if (badLines == 1) {
        notes << translated("1 line is not a line of samples and was left out (line %1).").arg(firstBadLine);
    } else if (badLines > 0) {
        notes << translated("%1 lines are not lines of samples and were left out (the first is line %2).")
                     .arg(badLines)
                     .arg(firstBadLine);
    }
    if (backwardLines == 1) {
        notes << translated("1 line has a time before the sample above it and was left out (line %1); the "
                            "file may hold more than one run.")
                     .arg(firstBackwardLine);
    } else if (backwardLines > 0) {
        notes << translated("%1 lines have a time before the sample above them and were left out (the first "
                            "is line %2); the file may hold more than one run.")
                     .arg(backwardLines)
                     .arg(firstBackwardLine);
    }
    if (full)
        notes
            << translated("The file holds more samples than can be held: the first %1 were read.").arg(rows);
    return notes;
}

RecordingReadReport RecordingReader::read(const QString &fileName, RecordingData *data)
{
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        RecordingReadReport report = totals;
        report.status = RecordingReadReport::OpenFailed;
        report.systemError = translated("it is not a regular file");
        return report;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        RecordingReadReport report = totals;
        report.status = RecordingReadReport::OpenFailed;
        report.systemError = file.errorString();
        return report;
    }
    return read(&file, data);
}

bool RecordingReader::decideShape(const char *begin, const char *end, bool atFileStart)
{
    // Only called before anything was stored, so begin is at file position `offset`.
    const char *const windowEnd =
        begin + std::max<qint64>(0, std::min<qint64>(end - begin, shapeWindow - offset));
    const char *p = begin;
    if (atFileStart && startsWithByteOrderMark(p, end))
        p += 3;

    int candidates = 0;
    int perCount[MaxFields + 1] = {};
    int firstSeen[MaxFields + 1] = {};
    constexpr int ManyFields = 65;
    int histogram[ManyFields + 1] = {}; // field counts of all lines; the last entry for more
    bool anyLine = false;
    qint64 line = lineNumber;
    while (p < windowEnd && candidates < ShapeLines) {
        const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!lf) {
            // An unfinished line counts once it is too long to be a line of samples.
            anyLine = anyLine || end - p > maxLineLength;
            break;
        }
        ++line;
        if (line == 1 && isHeader(p, lf, maxLineLength)) {
            p = lf + 1;
            continue;
        }
        anyLine = true;
        if (lf - p <= maxLineLength) {
            double values[MaxFields];
            int numbers = 0;
            const int count = parseFields(p, lf, values, MaxFields, &numbers);
            ++histogram[std::min(count, ManyFields)];
            if (count == numbers && count <= MaxFields && count % 2 == 1 && count >= 3 &&
                std::isfinite(values[0])) {
                if (perCount[count]++ == 0)
                    firstSeen[count] = candidates;
                ++candidates;
            }
        }
        p = lf + 1;
    }

    if (candidates > 0) {
        int best = 0;
        for (int count = 3; count <= MaxFields; count += 2) {
            if (perCount[count] > 0 &&
                (best == 0 || perCount[count] > perCount[best] ||
                 (perCount[count] == perCount[best] && firstSeen[count] < firstSeen[best])))
                best = count;
        }
        fieldCount = best;
        return true;
    }

    bool binary = false;
    for (const char *b = begin; b < windowEnd && !binary; ++b)
        binary = isBinaryByte(static_cast<unsigned char>(*b));
    if (binary || anyLine) {
        refused = true;
        totals.status = binary ? RecordingReadReport::NotText : RecordingReadReport::WrongShape;
        int typical = 0;
        for (int count = 1; count <= ManyFields; ++count) {
            if (histogram[count] > histogram[typical])
                typical = count;
        }
        totals.typicalFieldCount = typical < ManyFields ? typical : 0;
    }
    return false;
}

RecordingReadReport RecordingReader::read(QIODevice *device, RecordingData *data)
{
    RecordingReadReport refusal = totals;
    if (refused)
        return refusal;
    const qint64 size = device->size();
    if (size < offset) {
        refusal.status = RecordingReadReport::Shrunk;
        return refusal;
    }
    if (!device->seek(offset)) {
        refusal.status = RecordingReadReport::ReadFailed;
        refusal.systemError = device->errorString();
        return refusal;
    }

    const qint64 total = size - offset;
    // The first read holds every line that starts in the shape window, and enough of the last
    // one to tell whether it is too long.
    const qint64 firstRead = std::max<qint64>(chunkSize, qint64(shapeWindow) + maxLineLength + 1);
    const std::unique_ptr<char[]> buffer(new char[size_t(firstRead + maxLineLength)]);
    char *const buf = buffer.get();
    qint64 done = 0;              // bytes of this call read into the buffer
    qint64 carry = 0;             // bytes of an unfinished line at the buffer's start
    qint64 bufferPos = offset;    // file position of buf[0]
    qint64 lineStartPos = offset; // file position of the line being read
    bool skipping = false;        // inside a line longer than MaxLineLength: dropped up to its end
    const int rowsBefore = data->rows();
    enum
    {
        Reading,
        Cancelled,
        Failed,
        Full,
        Undecided
    } outcome = Reading;

    while (done < total && outcome == Reading) {
        if (cancelFlag && cancelFlag->load(std::memory_order_relaxed)) {
            outcome = Cancelled;
            break;
        }
        const qint64 want = fieldCount == 0 ? firstRead : chunkSize;
        const qint64 got = readFully(device, buf + carry, std::min(want, total - done));
        if (got < 0) {
            outcome = Failed;
            break;
        }
        if (got == 0)
            break; // the file became shorter while being read: what is there is complete
        done += got;
        const char *const end = buf + carry + got;
        const char *p = buf;

        if (fieldCount == 0) {
            if (!decideShape(buf, end, bufferPos == 0)) {
                outcome = Undecided; // refused, or nothing to decide on yet: nothing is read
                break;
            }
            // The first rows of this reader: whatever the data held goes.
            *data = RecordingData();
            data->sensorCount = (fieldCount - 1) / 2;
        }
        if (bufferPos == 0 && startsWithByteOrderMark(p, end)) {
            p += 3;
            lineStartPos = 3;
        }
        const int channelCount = fieldCount - 1;

        // Room for the rows the rest of the file holds, judged from the lines so far (or those
        // of this chunk at the start).
        const auto reserveForRest = [&](const char *from) {
            double lineLength = double(std::max(fieldCount * 2, 1));
            if (lineNumber > 0) {
                lineLength = double(lineStartPos) / double(lineNumber);
            } else {
                const qint64 lines = std::count(from, static_cast<const char *>(end), '\n');
                if (lines > 0)
                    lineLength = double(end - from) / double(lines);
            }
            const qint64 rest = size - (bufferPos + (from - buf));
            reserveRows(data, qint64(data->rows()) + qint64(double(rest) / lineLength * 1.02) + 16,
                        channelCount);
        };
        if (done == got)
            reserveForRest(p);

        double values[MaxFields];
        for (;;) {
            const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            if (!lf)
                break;
            if (data->rows() >= MaxRows) {
                outcome = Full;
                break;
            }
            ++lineNumber;
            const char *const line = p;
            p = lf + 1;
            lineStartPos = bufferPos + (p - buf);
            bool good = false;
            if (skipping) {
                skipping = false;
            } else if (lineNumber == 1 && isHeader(line, lf, maxLineLength)) {
                totals.headerSkipped = true;
                continue;
            } else if (lf - line <= maxLineLength) {
                int numbers = 0;
                const int count = parseFields(line, lf, values, MaxFields, &numbers);
                good = count == fieldCount && numbers == count && std::isfinite(values[0]);
            }
            if (!good) {
                if (totals.badLines++ == 0)
                    totals.firstBadLine = lineNumber;
                continue;
            }
            if (hasLastTime && values[0] < lastTime) {
                if (totals.backwardLines++ == 0)
                    totals.firstBackwardLine = lineNumber;
                continue;
            }
            lastTime = values[0];
            hasLastTime = true;
            if (data->time.size() == data->time.capacity())
                reserveForRest(p);
            data->time.append(values[0]);
            for (int k = 0; k < channelCount; ++k)
                data->channels[size_t(k)].append(values[1 + k]);
        }

        // Keep the unfinished line for the next chunk, unless it is already too long.
        carry = end - p;
        if (outcome == Full) {
            carry = 0;
        } else if (skipping || carry > maxLineLength) {
            skipping = true;
            carry = 0;
        } else {
            std::memmove(buf, p, size_t(carry));
        }
        bufferPos += (end - buf) - carry;
        if (progressCallback)
            progressCallback(done, total);
    }

    const int added = data->rows() - rowsBefore;
    // A large read leaves the series just as long as they need to be; small later reads of a
    // growing file keep the room they have.
    if (fieldCount > 0 && added > 0 && added >= rowsBefore)
        squeezeRows(data, fieldCount - 1);

    offset = lineStartPos;
    totals.rows = data->rows();
    totals.sensorCount = fieldCount > 0 ? (fieldCount - 1) / 2 : 0;
    totals.bytesRead = offset;
    totals.full = outcome == Full;
    if (fieldCount > 0)
        totals.status = RecordingReadReport::Read;

    RecordingReadReport report = totals;
    report.newRows = added;
    if (outcome == Failed) {
        report.status = RecordingReadReport::ReadFailed;
        report.systemError = device->errorString();
    } else if (outcome == Cancelled) {
        report.status = RecordingReadReport::Cancelled;
    } else if (fieldCount > 0 && outcome != Full) {
        report.tornBytes = bufferPos + carry - offset;
    } else if (fieldCount == 0 && !refused) {
        report.status = size == 0 ? RecordingReadReport::Empty : RecordingReadReport::NoSamples;
    }
    return report;
}

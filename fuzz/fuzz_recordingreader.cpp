// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a recording back, against a slow reference that splits the whole file into lines and
// reads each field with strtod.
//
// Input: byte 0 picks the chunk size (1 to 64 bytes), byte 1 the longest line (1 to 128), byte
// 2 the window whose lines decide the field count (1 to 256), byte 3 where the file is cut for a
// first read; the rest is the file. Checks:
// - the reader never crashes and holds the time and exactly 2N channel series, all as long;
// - status, N, the values (bit for bit; NaNs by sign), the counts of bad and backward lines with
//   the first of each, the header and the torn tail agree with the reference;
// - reading the cut file first and then the whole file, as a file being written, ends the same as
//   reading the whole file at once, unless the first read decided on another N.

#include "data/recordingreader.h"

#include <QBuffer>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &file)
{
    std::fprintf(stderr, "fuzz_recordingreader: %s for \"%s\"\n", what,
                 file.left(400).toPercentEncoding(" ,.+-").constData());
    std::abort();
}

struct Expected
{
    RecordingReadReport::Status status = RecordingReadReport::NoSamples;
    int fieldCount = 0;
    std::vector<std::vector<double>> rows;
    qint64 bad = 0, firstBad = 0, backward = 0, firstBackward = 0, torn = 0;
    bool header = false;
    int typical = 0;
};

// A field: blanks (space, tab, CR) around it, then all of it read by strtod in the C locale,
// except hexadecimal, "+-", and values beyond a double's range (overflow, or underflow to 0).
bool referenceNumber(std::string field, double *value)
{
    const char *blanks = " \t\r";
    const size_t first = field.find_first_not_of(blanks);
    if (first == std::string::npos)
        return false;
    field = field.substr(first, field.find_last_not_of(blanks) - first + 1);
    if (std::isspace(static_cast<unsigned char>(field[0])))
        return false;
    size_t digits = field[0] == '+' || field[0] == '-' ? 1 : 0;
    if (field[0] == '+' && field.size() > 1 && (field[1] == '-' || field[1] == '+'))
        return false;
    if (field.size() > digits + 1 && field[digits] == '0' &&
        (field[digits + 1] == 'x' || field[digits + 1] == 'X'))
        return false;
    errno = 0;
    char *end = nullptr;
    *value = std::strtod(field.c_str(), &end);
    if (end != field.c_str() + field.size())
        return false;
    return !(errno == ERANGE && (std::isinf(*value) || *value == 0));
}

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
        const size_t comma = line.find(',', from);
        fields.push_back(line.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            return fields;
        from = comma + 1;
    }
}

// The fields of a line, and how many are numbers.
int readLine(const std::string &line, std::vector<double> *values)
{
    int numbers = 0;
    values->clear();
    for (const std::string &field : split(line)) {
        double v = 0;
        numbers += referenceNumber(field, &v);
        values->push_back(v);
    }
    return numbers;
}

Expected reference(const std::string &file, size_t maxLine, size_t window)
{
    Expected e;
    if (file.empty()) {
        e.status = RecordingReadReport::Empty;
        return e;
    }
    struct Line
    {
        size_t begin;
        std::string text;
        bool complete;
    };
    std::vector<Line> lines;
    for (size_t p = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; p < file.size();) {
        const size_t lf = file.find('\n', p);
        lines.push_back({p, file.substr(p, lf == std::string::npos ? std::string::npos : lf - p),
                         lf != std::string::npos});
        p = lf == std::string::npos ? file.size() : lf + 1;
    }
    std::vector<double> values;
    const auto hasLetter = [](const std::string &s) {
        for (char c : s) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
                return true;
        }
        return false;
    };
    e.header = !lines.empty() && lines[0].complete && lines[0].text.size() <= maxLine &&
               hasLetter(lines[0].text) && readLine(lines[0].text, &values) == 0;

    // The field count: of the first 16 candidates among the lines starting in the window.
    int candidates = 0, perCount[10] = {}, firstSeen[10] = {}, histogram[66] = {};
    bool anyLine = false;
    for (size_t i = 0; i < lines.size() && lines[i].begin < window && candidates < 16; ++i) {
        if (!lines[i].complete) {
            anyLine = anyLine || lines[i].text.size() > maxLine;
            break;
        }
        if (i == 0 && e.header)
            continue;
        anyLine = true;
        if (lines[i].text.size() > maxLine)
            continue;
        const int numbers = readLine(lines[i].text, &values);
        const int count = int(values.size());
        ++histogram[std::min(count, 65)];
        if (numbers == count && count <= 9 && count % 2 == 1 && count >= 3 && std::isfinite(values[0])) {
            if (perCount[count]++ == 0)
                firstSeen[count] = candidates;
            ++candidates;
        }
    }
    if (candidates == 0) {
        bool binary = false;
        for (size_t i = 0; i < std::min(file.size(), window); ++i) {
            const unsigned char c = static_cast<unsigned char>(file[i]);
            binary = binary || (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f;
        }
        e.status = binary    ? RecordingReadReport::NotText
                   : anyLine ? RecordingReadReport::WrongShape
                             : RecordingReadReport::NoSamples;
        for (int count = 1; count <= 65; ++count)
            e.typical = histogram[count] > histogram[e.typical] ? count : e.typical;
        e.typical = e.typical < 65 ? e.typical : 0;
        e.header = false;
        return e;
    }
    for (int count = 3; count <= 9; count += 2) {
        if (perCount[count] > perCount[e.fieldCount] ||
            (perCount[count] > 0 && perCount[count] == perCount[e.fieldCount] &&
             firstSeen[count] < firstSeen[e.fieldCount]))
            e.fieldCount = count;
    }

    e.status = RecordingReadReport::Read;
    double last = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const qint64 number = qint64(i) + 1;
        if (!lines[i].complete) {
            e.torn = qint64(lines[i].text.size());
            break;
        }
        if (i == 0 && e.header)
            continue;
        const int numbers = lines[i].text.size() <= maxLine ? readLine(lines[i].text, &values) : -1;
        if (numbers != int(values.size()) || numbers != e.fieldCount || !std::isfinite(values[0])) {
            if (e.bad++ == 0)
                e.firstBad = number;
        } else if (!e.rows.empty() && values[0] < last) {
            if (e.backward++ == 0)
                e.firstBackward = number;
        } else {
            last = values[0];
            e.rows.push_back(values);
        }
    }
    return e;
}

bool sameValue(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The series are whole: the time and 2N channels of one length, the others empty.
void checkShape(const RecordingData &data, const RecordingReadReport &report, const QByteArray &file)
{
    const int channels = 2 * data.sensorCount;
    if (data.sensorCount != report.sensorCount || data.rows() != report.rows)
        fail("report and data disagree", file);
    for (int k = 0; k < MaxChannels; ++k) {
        if (data.channels[size_t(k)].size() != (k < channels ? data.rows() : 0))
            fail("a channel of the wrong length", file);
    }
}

bool sameData(const RecordingData &a, const RecordingData &b)
{
    if (a.sensorCount != b.sensorCount || a.rows() != b.rows())
        return false;
    for (int i = 0; i < a.rows(); ++i) {
        if (!sameValue(a.time[i], b.time[i]))
            return false;
        for (int k = 0; k < 2 * a.sensorCount; ++k) {
            if (!sameValue(a.channels[size_t(k)][i], b.channels[size_t(k)][i]))
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const int chunk = 1 + data[0] % 64;
    const int maxLine = 1 + data[1] % 128;
    const int window = 1 + data[2];
    const QByteArray file(reinterpret_cast<const char *>(data) + 4, int(size - 4));
    const int cut = file.isEmpty() ? 0 : data[3] % (file.size() + 1);

    QBuffer whole;
    whole.setData(file);
    whole.open(QIODevice::ReadOnly);
    RecordingReader reader(chunk, maxLine, window);
    RecordingData got;
    const RecordingReadReport report = reader.read(&whole, &got);
    checkShape(got, report, file);

    const Expected e = reference(file.toStdString(), size_t(maxLine), size_t(window));
    if (report.status != e.status)
        fail("status differs from the reference", file);
    if (report.sensorCount != (e.fieldCount == 0 ? 0 : (e.fieldCount - 1) / 2))
        fail("sensor count differs from the reference", file);
    if (e.status == RecordingReadReport::WrongShape && report.typicalFieldCount != e.typical)
        fail("typical field count differs from the reference", file);
    if (report.badLines != e.bad || report.firstBadLine != e.firstBad || report.backwardLines != e.backward ||
        report.firstBackwardLine != e.firstBackward || report.headerSkipped != e.header ||
        report.tornBytes != e.torn)
        fail("counts differ from the reference", file);
    if (got.rows() != int(e.rows.size()))
        fail("row count differs from the reference", file);
    for (int i = 0; i < got.rows(); ++i) {
        bool same = sameValue(got.time[i], e.rows[size_t(i)][0]);
        for (int k = 0; k < 2 * got.sensorCount; ++k)
            same = same && sameValue(got.channels[size_t(k)][i], e.rows[size_t(i)][size_t(k + 1)]);
        if (!same)
            fail("values differ from the reference", file);
    }

    // The same file read while it is being written: first up to the cut, then the whole.
    QBuffer growing;
    growing.setData(file.left(cut));
    growing.open(QIODevice::ReadOnly);
    RecordingReader follower(chunk, maxLine, window);
    RecordingData followed;
    const RecordingReadReport first = follower.read(&growing, &followed);
    checkShape(followed, first, file);
    growing.buffer().append(file.mid(cut));
    const RecordingReadReport second = follower.read(&growing, &followed);
    checkShape(followed, second, file);
    const bool sameStart =
        first.status == RecordingReadReport::Empty || first.status == RecordingReadReport::NoSamples ||
        (first.status == RecordingReadReport::Read && first.sensorCount == report.sensorCount);
    if (sameStart && (second.status != report.status || !sameData(followed, got) ||
                      second.badLines != report.badLines || second.backwardLines != report.backwardLines ||
                      second.tornBytes != report.tornBytes || second.bytesRead != report.bytesRead))
        fail("reading in two steps differs from reading at once", file);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recordparser.h"

#include <QString>
#include <QVector>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

LineSplitter::LineSplitter(int maxLineLength) : maxLength(std::max(1, maxLineLength))
{
    // Reserved capacity also keeps the storage when the buffer is emptied.
    buffer.reserve(std::min(maxLength, 1 << 16) + 1);
}

void LineSplitter::append(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    const char *const end = p + bytes.size();
    if (p == end)
        return;
    compact();
    while (p < end) {
        const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *const stop = lf ? lf : end;
        const qint64 length = stop - p; // bytes of the current line in this piece
        const qint64 terminator = lf ? 1 : 0;
        if (skipping) {
            dropped += quint64(length + terminator);
            if (!lf)
                return;
            skipping = false;
            p = lf + 1;
            continue;
        }
        const qint64 held = buffer.size() - lineStart;
        if (held + length > maxLength) {
            // Too long: forget what is held of it, and drop the rest up to its line end.
            ++overlong;
            dropped += quint64(held + length + terminator);
            buffer.truncate(lineStart);
            if (!lf) {
                skipping = true;
                return;
            }
            p = lf + 1;
            continue;
        }
        buffer.append(p, int(length + terminator));
        if (lf)
            lineStart = buffer.size();
        p = stop + terminator;
    }
}

// Moves the unread bytes to the front once the consumed prefix is at least as long as them,
// so every byte is moved at most about once: amortised linear cost however lines are taken.
void LineSplitter::compact()
{
    if (readPos == 0)
        return;
    const int unread = buffer.size() - readPos;
    if (readPos < unread)
        return;
    std::memmove(buffer.data(), buffer.constData() + readPos, size_t(unread));
    buffer.truncate(unread);
    lineStart -= readPos;
    readPos = 0;
}

bool LineSplitter::takeLine(QByteArray *line)
{
    if (readPos >= lineStart)
        return false;
    const char *const start = buffer.constData() + readPos;
    // Every byte before lineStart belongs to a complete line, so a line end is there.
    const char *const lf = static_cast<const char *>(std::memchr(start, '\n', size_t(lineStart - readPos)));
    const int length = int(lf - start);
    line->resize(length);
    if (length > 0)
        std::memcpy(line->data(), start, size_t(length));
    readPos += length + 1;
    if (readPos == buffer.size()) {
        buffer.truncate(0);
        readPos = 0;
        lineStart = 0;
    }
    return true;
}

int LineSplitter::pendingSize() const
{
    return buffer.size() - lineStart;
}

void LineSplitter::clear()
{
    buffer.truncate(0);
    readPos = 0;
    lineStart = 0;
    skipping = false;
}

namespace {

bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool equalsIgnoringCase(const char *text, const char *lowerWord, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lowerWord[i])
            return false;
    }
    return true;
}

// Reads one all-ASCII field exactly as QString::toDouble does in the C locale: white space at
// both ends, an optional sign, digits with at most one decimal point, an optional exponent;
// "inf", "+inf", "-inf" and "nan" in any case. A blank field reads as 0. Returns false for
// anything toDouble does not accept: other text, and a value too large or (non-zero and) too
// small for a double.
bool fieldToDouble(const char *begin, const char *end, double *value)
{
    while (begin < end && isSpace(*begin))
        ++begin;
    while (end > begin && isSpace(end[-1]))
        --end;
    *value = 0.0;
    if (begin == end)
        return true;

    const char *p = begin;
    const bool negative = *p == '-';
    const bool hasSign = negative || *p == '+';
    if (hasSign)
        ++p;
    if (end - p == 3) {
        if (equalsIgnoringCase(p, "inf", 3)) {
            *value =
                negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
            return true;
        }
        if (!hasSign && equalsIgnoringCase(p, "nan", 3)) {
            *value = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
    }

    const char *const mantissa = p;
    int digits = 0;
    bool nonZero = false; // a digit other than 0 before the exponent
    for (; p < end && isDigit(*p); ++p, ++digits)
        nonZero |= *p != '0';
    if (p < end && *p == '.') {
        for (++p; p < end && isDigit(*p); ++p, ++digits)
            nonZero |= *p != '0';
    }
    if (digits == 0)
        return false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        const char *const exponentDigits = p;
        while (p < end && isDigit(*p))
            ++p;
        if (p == exponentDigits)
            return false;
    }
    if (p != end)
        return false;

    double magnitude = 0.0;
    const std::from_chars_result result = std::from_chars(mantissa, end, magnitude);
    // Out of range either way: an overflow, or a non-zero number that underflowed.
    if (result.ec != std::errc() || result.ptr != end)
        return false;
    if (magnitude == 0.0 && nonZero)
        return false; // a non-zero number that underflowed
    *value = negative ? -magnitude : magnitude;
    return true;
}

// The general way, for lines with bytes outside ASCII: decode as UTF-8 and let QString convert
// (it also trims Unicode white space, reads U+2212 as a minus and skips a leading byte-order mark).
bool parseDecoded(const QByteArray &line, int fieldCount, RecordValues *values)
{
    const QString text = QString::fromUtf8(line.constData(), line.size());
    const QVector<QStringRef> fields = text.splitRef(QLatin1Char(','));
    if (fields.size() != fieldCount)
        return false;
    for (int k = 0; k < fieldCount; ++k) {
        bool ok = false;
        (*values)[size_t(k)] = fields[k].toDouble(&ok);
        if (!ok && !fields[k].trimmed().isEmpty())
            return false;
    }
    return true;
}

} // namespace

bool parseRecord(const QByteArray &line, int sensorCount, RecordValues *values)
{
    if (sensorCount < 1 || sensorCount > MaxSensors)
        return false;
    const int fieldCount = 2 * sensorCount;
    const char *const begin = line.constData();
    const char *const end = begin + line.size();

    int commas = 0;
    bool ascii = true;
    for (const char *p = begin; p < end; ++p) {
        commas += *p == ',';
        ascii &= static_cast<unsigned char>(*p) < 0x80;
    }
    if (commas + 1 != fieldCount)
        return false;
    if (!ascii)
        return parseDecoded(line, fieldCount, values);

    const char *field = begin;
    for (int k = 0; k < fieldCount; ++k) {
        const char *comma = static_cast<const char *>(std::memchr(field, ',', size_t(end - field)));
        if (!comma)
            comma = end;
        if (!fieldToDouble(field, comma, &(*values)[size_t(k)]))
            return false;
        field = comma + 1;
    }
    return true;
}

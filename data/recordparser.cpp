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
// "inf", "+inf", "-inf" and "nan" in any case. Anything else gives 0.0. An overflowing value
// gives infinity and a non-zero value too small for a double gives +0.0, as toDouble does.
double fieldToDouble(const char *begin, const char *end)
{
    while (begin < end && isSpace(*begin))
        ++begin;
    while (end > begin && isSpace(end[-1]))
        --end;
    if (begin == end)
        return 0.0;

    const char *p = begin;
    const bool negative = *p == '-';
    const bool hasSign = negative || *p == '+';
    if (hasSign)
        ++p;
    if (end - p == 3) {
        if (equalsIgnoringCase(p, "inf", 3))
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        if (!hasSign && equalsIgnoringCase(p, "nan", 3))
            return std::numeric_limits<double>::quiet_NaN();
    }

    const char *const mantissa = p;
    int digits = 0;
    int integerDigits = 0; // before the decimal point
    int leadingZeros = -1; // digits before the first non-zero one; -1: all zero
    for (; p < end && isDigit(*p); ++p, ++digits, ++integerDigits) {
        if (leadingZeros < 0 && *p != '0')
            leadingZeros = digits;
    }
    if (p < end && *p == '.') {
        for (++p; p < end && isDigit(*p); ++p, ++digits) {
            if (leadingZeros < 0 && *p != '0')
                leadingZeros = digits;
        }
    }
    if (digits == 0)
        return 0.0;
    long exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negativeExponent = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        const char *const exponentDigits = p;
        for (; p < end && isDigit(*p); ++p)
            exponent = std::min(exponent * 10 + (*p - '0'), 1L << 24);
        if (p == exponentDigits)
            return 0.0;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (p != end)
        return 0.0;

    double value = 0.0;
    const std::from_chars_result result = std::from_chars(mantissa, end, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow or underflow: the first non-zero digit's decimal place tells which.
        const long magnitude = long(integerDigits) - 1 - leadingZeros + exponent;
        if (magnitude > 0)
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        return 0.0;
    }
    if (result.ec != std::errc() || result.ptr != end)
        return 0.0;
    if (value == 0.0 && leadingZeros >= 0)
        return 0.0; // a non-zero number that underflowed
    return negative ? -value : value;
}

// The general way, for lines with bytes outside ASCII: decode as UTF-8 and let QString convert
// (it also trims Unicode white space, reads U+2212 as a minus and skips a leading byte-order mark).
bool parseDecoded(const QByteArray &line, int fieldCount, RecordValues *values)
{
    const QString text = QString::fromUtf8(line.constData(), line.size());
    const QVector<QStringRef> fields = text.splitRef(QLatin1Char(','));
    if (fields.size() != fieldCount)
        return false;
    for (int k = 0; k < fieldCount; ++k)
        (*values)[size_t(k)] = fields[k].toDouble();
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
        (*values)[size_t(k)] = fieldToDouble(field, comma);
        field = comma + 1;
    }
    return true;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/csvnumber.h"

#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const char DigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                          "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                          "8081828384858687888990919293949596979899";

// A positive finite value as significant digits d1 d2 ... dn and the decimal exponent of d1.
struct Decimal
{
    char digits[24];
    int count;
    int exponent;
};

// The eight decimal digits of n (< 10^8, leading zeros included) as ASCII, the first digit in
// the lowest byte: all digits at once, each step halving the lanes (4 + 4, 2 + 2, 1 + 1 digits).
Q_ALWAYS_INLINE quint64 eightDigits(quint32 n)
{
    quint64 x = quint64(n / 10000) | quint64(n % 10000) << 32;
    quint64 q = ((x * 10486) >> 20) & 0x0000007F0000007Fu; // lane / 100, exact below 10^4
    x = q | (x - q * 100) << 16;
    q = ((x * 103) >> 10) & 0x000F000F000F000Fu; // lane / 10, exact below 100
    x = q | (x - q * 10) << 8;
    return x | 0x3030303030303030u;
}

// The common case, values with few decimals such as the unit's readings and times in
// milliseconds, is written straight in fixed notation without the general shortest-digits
// search. Below 2^19 two different decimals with at most ten decimals lie more than an ulp
// apart, so at most one of them reads back as a: when the nearest nine-decimal text reads
// back, it is the shortest text once its trailing zeros are dropped. From 1e-4 up to there the
// %g layout is fixed notation.
// Returns whether a (>= 0) is such a value, and its nine-decimal digits in *m. No branches, so
// that the checks of several values overlap.
Q_ALWAYS_INLINE bool isShortFixed(double a, std::uint64_t *m)
{
    const bool inRange = a >= 1e-4 && a < 524288.0;
    const double v = inRange ? a : 1.0;
    *m = std::uint64_t(v * 1e9 + 0.5); // below 2^49: off by far less than 0.5
    // Both operands are exact, so the quotient is the correctly rounded value of the decimal
    // m / 10^9, which is what reading the text back gives.
    return inRange & (double(*m) / 1e9 == v);
}

// Writes the value m / 10^9 (below 2^19 * 10^9) in fixed notation without trailing zeros,
// without branches on the digits: they are made in registers and stored whole.
// Returns the end of the text; out needs 24 bytes of room.
Q_ALWAYS_INLINE char *writeShortFixed(char *out, std::uint64_t m)
{
    constexpr quint64 zeroDigits = 0x3030303030303030u;
    if (m % 1000000 == 0 && m < quint64(100000) * 1000000000) {
        // At most three decimals and five whole digits, as times and most readings are: all
        // eight digits at once.
        const quint64 digits = eightDigits(quint32(m / 1000000));
        const quint64 values = digits - zeroDigits;
        const int leadingZeros = int(qCountTrailingZeroBits(values | quint64(1) << 32)) / 8; // at most 4
        const int wholeLength = 5 - leadingZeros;
        qToLittleEndian(digits >> (8 * leadingZeros), out);
        out += wholeLength;
        out[0] = '.';
        qToLittleEndian(quint32(digits >> 40), out + 1);
        const int zeros = std::min(3, int(qCountLeadingZeroBits(quint32(values >> 40) << 8)) / 8);
        const int fractionLength = 3 - zeros;
        return out + (fractionLength > 0 ? 1 + fractionLength : 0);
    }

    const quint32 whole = quint32(m / 1000000000);
    const quint32 fraction = quint32(m % 1000000000);

    // The whole part (below 10^6): its leading zeros shifted out, at least one digit kept.
    const quint64 wholeDigits = eightDigits(whole);
    const int leadingZeros = int(qCountTrailingZeroBits((wholeDigits - zeroDigits) | quint64(1) << 56)) / 8;
    qToLittleEndian(wholeDigits >> (8 * leadingZeros), out);
    out += 8 - leadingZeros;

    // The fraction: a point and nine digits, then its trailing zeros dropped (and the point
    // with them when nothing is left).
    const quint32 firstDigit = fraction / 100000000;
    const quint64 lastEight = eightDigits(fraction % 100000000);
    out[0] = '.';
    out[1] = char('0' + firstDigit);
    qToLittleEndian(lastEight, out + 2);
    // The last digit is the highest byte; a zero digit is a zero byte once '0' is taken away.
    const int zeros = int(qCountLeadingZeroBits(lastEight - zeroDigits)) / 8;
    const int fractionLength = 9 - zeros - (zeros == 8 && firstDigit == 0);
    return out + (fractionLength > 0 ? 1 + fractionLength : 0);
}

// Any value: the shortest round-trip digits from std::to_chars.
void shortestDecimal(double v, Decimal *d)
{
    char text[40];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, v, std::chars_format::scientific);
    // "d.ddde+XX" or "de+XX"
    const char *p = text;
    d->count = 0;
    for (; p < result.ptr && *p != 'e'; ++p) {
        if (*p != '.')
            d->digits[d->count++] = *p;
    }
    ++p; // 'e'
    const bool negative = *p++ == '-';
    int exponent = 0;
    for (; p < result.ptr; ++p)
        exponent = exponent * 10 + (*p - '0');
    d->exponent = negative ? -exponent : exponent;
}

// %g layout of the digits: exponent notation when the exponent is below -4 or at least the
// larger of 6 and the digit count, so up to six digits look exactly as printf("%g") prints them.
char *layOut(char *out, const Decimal &d)
{
    const int x = d.exponent;
    if (x < -4 || x >= std::max(6, d.count)) {
        *out++ = d.digits[0];
        if (d.count > 1) {
            *out++ = '.';
            std::memcpy(out, d.digits + 1, size_t(d.count - 1));
            out += d.count - 1;
        }
        *out++ = 'e';
        *out++ = x < 0 ? '-' : '+';
        int e = x < 0 ? -x : x;
        if (e >= 100) {
            *out++ = char('0' + e / 100);
            e %= 100;
        }
        *out++ = DigitPairs[e * 2];
        *out++ = DigitPairs[e * 2 + 1];
    } else if (x < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = -1; i > x; --i)
            *out++ = '0';
        std::memcpy(out, d.digits, size_t(d.count));
        out += d.count;
    } else if (d.count <= x + 1) {
        std::memcpy(out, d.digits, size_t(d.count));
        out += d.count;
        for (int i = d.count; i <= x; ++i)
            *out++ = '0';
    } else {
        std::memcpy(out, d.digits, size_t(x + 1));
        out += x + 1;
        *out++ = '.';
        std::memcpy(out, d.digits + x + 1, size_t(d.count - x - 1));
        out += d.count - x - 1;
    }
    return out;
}

char *writeOther(char *out, double a);

// Writes v at out (room for MaxCsvNumberLength characters) and returns the end.
char *formatNumber(char *out, double v)
{
    *out = '-';
    out += std::signbit(v); // no branch: signs of noisy data are unpredictable
    const double a = std::fabs(v);
    std::uint64_t m;
    if (isShortFixed(a, &m))
        return writeShortFixed(out, m);
    return writeOther(out, a);
}

// Writes a (>= 0) that is not a short fixed value.
char *writeOther(char *out, double a)
{
    if (a == 0.0) {
        *out++ = '0';
        return out;
    }
    if (!std::isfinite(a)) {
        std::memcpy(out, std::isnan(a) ? "nan" : "inf", 3);
        return out + 3;
    }
    Decimal d;
    shortestDecimal(a, &d);
    return layOut(out, d);
}

// Writes one CSV line of fieldCount values (at most 9) and its line end at p; returns the end.
Q_ALWAYS_INLINE char *formatLine(char *p, const double *values, int fieldCount, const char *lineEnd,
                                 int lineEndLength)
{
    // All checks of a line first, so that they run side by side; then the text.
    std::uint64_t digits[1 + 8];
    bool isShort[1 + 8];
    for (int k = 0; k < fieldCount; ++k)
        isShort[k] = isShortFixed(std::fabs(values[k]), &digits[k]);
    for (int k = 0; k < fieldCount; ++k) {
        *p = ',';
        p += k > 0;
        *p = '-';
        p += std::signbit(values[k]);
        p = isShort[k] ? writeShortFixed(p, digits[k]) : writeOther(p, std::fabs(values[k]));
    }
    std::memcpy(p, lineEnd, size_t(lineEndLength));
    return p + lineEndLength;
}

} // namespace

char *formatCsvLine(char *out, const double *values, int fieldCount)
{
    const char *const lineEnd = csvLineEnd();
    return formatLine(out, values, fieldCount, lineEnd, int(std::strlen(lineEnd)));
}

void appendCsvLine(QByteArray *out, double time, const double *channels, int channelCount)
{
    if (channelCount < 0 || channelCount > 8)
        return;
    double values[1 + 8];
    values[0] = time;
    std::copy(channels, channels + channelCount, values + 1);
    const char *const lineEnd = csvLineEnd();
    const int lineEndLength = int(std::strlen(lineEnd));
    const int oldSize = out->size();
    out->resize(oldSize + (1 + channelCount) * (MaxCsvNumberLength + 1) + lineEndLength);
    char *const begin = out->data() + oldSize;
    const char *const end = formatLine(begin, values, 1 + channelCount, lineEnd, lineEndLength);
    out->resize(oldSize + int(end - begin));
}

void appendCsvNumber(QByteArray *out, double v)
{
    char text[MaxCsvNumberLength];
    out->append(text, int(formatNumber(text, v) - text));
}

QByteArray formatCsvNumber(double v)
{
    char text[MaxCsvNumberLength];
    return QByteArray(text, int(formatNumber(text, v) - text));
}

const char *csvLineEnd()
{
#ifdef Q_OS_WIN
    return "\r\n";
#else
    return "\n";
#endif
}

QString shownNumber(double v, int decimals)
{
    if (std::isfinite(v) && std::fabs(v) >= 1e12)
        return QString::number(v, 'g', 7);
    return QString::number(v, 'f', decimals);
}

#include "acquisition/csvwriter.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// Longest text of one number: sign, 17 digits, point, "e-308".
constexpr int MaxNumberLength = 32;
constexpr int ChunkSize = 1 << 20;

const char DigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                          "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                          "8081828384858687888990919293949596979899";

const double PowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A positive finite value as significant digits d1 d2 ... dn and the decimal exponent of d1.
struct Decimal
{
    char digits[24];
    int count;
    int exponent;
};

// Writes the decimal digits of m (> 0) into d.
void setDigits(Decimal *d, std::uint64_t m)
{
    char text[20];
    char *p = text + sizeof text;
    while (m >= 100) {
        const unsigned pair = unsigned(m % 100) * 2;
        m /= 100;
        *--p = DigitPairs[pair + 1];
        *--p = DigitPairs[pair];
    }
    if (m >= 10) {
        *--p = DigitPairs[m * 2 + 1];
        *--p = DigitPairs[m * 2];
    } else {
        *--p = char('0' + m);
    }
    d->count = int(text + sizeof text - p);
    std::memcpy(d->digits, p, size_t(d->count));
}

// The common case, values with few decimals such as the unit's readings and times in
// milliseconds, without the general shortest-digits search. Below 2^19 two different decimals
// with at most ten decimals lie more than an ulp apart, so at most one of them reads back as v:
// when the nearest nine-decimal text reads back, it is the shortest text.
bool shortDecimal(double v, Decimal *d)
{
    if (!(v < 524288.0))
        return false;
    const double scaled = v * 1e9; // below 2^49: rounding error far below 0.5
    std::uint64_t m = std::uint64_t(scaled + 0.5);
    if (m == 0)
        return false;
    int decimals = 9;
    if (m % 100000000 == 0) {
        m /= 100000000;
        decimals -= 8;
    }
    if (m % 10000 == 0) {
        m /= 10000;
        decimals -= 4;
    }
    if (m % 100 == 0) {
        m /= 100;
        decimals -= 2;
    }
    if (m % 10 == 0) {
        m /= 10;
        decimals -= 1;
    }
    // Both operands are exact, so the quotient (product) is the correctly rounded value of the
    // decimal, which is what reading the text back gives.
    const double back =
        decimals >= 0 ? double(m) / PowersOfTen[decimals] : double(m) * PowersOfTen[-decimals];
    if (back != v)
        return false;
    setDigits(d, m);
    d->exponent = d->count - 1 - decimals;
    return true;
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

// Writes v at out (room for MaxNumberLength characters) and returns the end.
char *formatNumber(char *out, double v)
{
    if (std::signbit(v))
        *out++ = '-';
    const double a = std::fabs(v);
    if (a == 0.0) {
        *out++ = '0';
        return out;
    }
    if (!std::isfinite(a)) {
        std::memcpy(out, std::isnan(a) ? "nan" : "inf", 3);
        return out + 3;
    }
    Decimal d;
    if (!shortDecimal(a, &d))
        shortestDecimal(a, &d);
    return layOut(out, d);
}

bool writeAll(QIODevice *device, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = device->write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

QString translated(const char *text)
{
    return QCoreApplication::translate("CsvWriter", text);
}

} // namespace

void appendCsvNumber(QByteArray *out, double v)
{
    char text[MaxNumberLength];
    out->append(text, int(formatNumber(text, v) - text));
}

QByteArray formatCsvNumber(double v)
{
    char text[MaxNumberLength];
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

bool writeCsv(QIODevice *device, const RecordedSeries &series, int sensorCount)
{
    if (!device)
        return false;
    if (sensorCount < 1 || sensorCount > 4 || !series.time)
        return true;
    const int channelCount = 2 * sensorCount;
    const double *columns[1 + 8];
    columns[0] = series.time->constData();
    int rows = series.time->size();
    for (int k = 0; k < channelCount; ++k) {
        const QVector<double> *channel = series.channels[size_t(k)];
        if (!channel)
            return true;
        columns[1 + k] = channel->constData();
        rows = std::min(rows, channel->size());
    }
    if (rows <= 0)
        return true;

    const char *const lineEnd = csvLineEnd();
    const int lineEndLength = int(std::strlen(lineEnd));
    const int maxLineLength = (1 + channelCount) * (MaxNumberLength + 1) + lineEndLength;
    // Lines are formatted into one large chunk that is written whole when nearly full.
    const int chunkSize = int(std::min<qint64>(ChunkSize, qint64(rows) * maxLineLength));
    const std::unique_ptr<char[]> chunk(new char[size_t(chunkSize)]);
    char *const begin = chunk.get();
    char *const flushAt = begin + chunkSize - maxLineLength;
    char *p = begin;
    for (int i = 0; i < rows; ++i) {
        p = formatNumber(p, columns[0][i]);
        for (int k = 1; k <= channelCount; ++k) {
            *p++ = ',';
            p = formatNumber(p, columns[k][i]);
        }
        std::memcpy(p, lineEnd, size_t(lineEndLength));
        p += lineEndLength;
        if (p > flushAt) {
            if (!writeAll(device, begin, p - begin))
                return false;
            p = begin;
        }
    }
    return writeAll(device, begin, p - begin);
}

bool saveCsv(const QString &fileName, const RecordedSeries &series, int sensorCount, QString *error)
{
    // Binary mode: the bytes on disk are exactly the ones formatted, line ends included.
    // Unbuffered: writeCsv hands over large chunks anyway, and QSaveFile::commit() does not
    // notice a failure of the final flush of its own buffer, so it would put a truncated file
    // in place of the old one.
    QSaveFile file(fileName);
    QString reason;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        reason = translated("The file could not be created: %1").arg(file.errorString());
    } else if (!writeCsv(&file, series, sensorCount)) {
        reason = translated("Writing the file failed: %1").arg(file.errorString());
        file.cancelWriting();
    } else if (!file.commit()) {
        reason = translated("The file could not be completed: %1").arg(file.errorString());
    } else {
        return true;
    }
    if (error)
        *error = reason;
    return false;
}

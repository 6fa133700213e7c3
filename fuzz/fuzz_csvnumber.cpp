// SPDX-License-Identifier: GPL-3.0-or-later
// CSV number text: reads back as the same double, is the shortest such text laid out in %g
// style, and equals printf("%.6g") whenever six significant digits suffice (normal values).
//
// Input: 8-byte blocks. Each block is taken as the bits of a double, and also turned into
// values with few decimals (the common case in recorded data) and their neighbours. All of
// them, nine to a line, also go through writeCsv, which must write the same text.

#include "data/csvwriter.h"

#include <QBuffer>
#include <algorithm>
#include <cfloat>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what, double v, const QByteArray &text)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::fprintf(stderr, "fuzz_csvnumber: %s: %.17g (bits %016llx) written as \"%s\"\n", what, v,
                 static_cast<unsigned long long>(bits), text.constData());
    std::abort();
}

// The layout rule written out plainly from the shortest scientific text of std::to_chars.
std::string expectedText(double v)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(v), std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, e);
    if (digits.size() > 1)
        digits.erase(1, 1); // the decimal point
    const int exponent = std::stoi(scientific.substr(e + 1));
    const int count = int(digits.size());

    std::string text = std::signbit(v) ? "-" : "";
    if (exponent < -4 || exponent >= std::max(6, count)) {
        text += digits.substr(0, 1);
        if (count > 1)
            text += "." + digits.substr(1);
        char tail[16];
        std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        text += tail;
    } else if (exponent < 0) {
        text += "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (count <= exponent + 1) {
        text += digits + std::string(size_t(exponent + 1 - count), '0');
    } else {
        text += digits.substr(0, size_t(exponent + 1)) + "." + digits.substr(size_t(exponent + 1));
    }
    return text;
}

int significantDigits(double v)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(v), std::chars_format::scientific);
    const char *e = static_cast<const char *>(std::memchr(buffer, 'e', size_t(result.ptr - buffer)));
    return e - buffer > 1 ? int(e - buffer) - 1 : 1;
}

void check(double v)
{
    const QByteArray text = formatCsvNumber(v);
    QByteArray appended("x");
    appendCsvNumber(&appended, v);
    if (appended != "x" + text)
        fail("appendCsvNumber differs from formatCsvNumber", v, text);
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'i' ||
              c == 'n' || c == 'f' || c == 'a'))
            fail("unexpected character", v, text);
    }

    char printed[64];
    if (!std::isfinite(v)) {
        std::snprintf(printed, sizeof printed, "%g", v);
        if (text != printed)
            fail("non-finite value differs from %g", v, text);
        return;
    }
    // The process runs in the C locale, so strtod reads "." as the decimal point.
    const double back = std::strtod(text.constData(), nullptr);
    if (std::memcmp(&back, &v, sizeof v) != 0)
        fail("does not read back as the same double", v, text);
    if (v == 0.0) {
        if (text != (std::signbit(v) ? "-0" : "0"))
            fail("zero", v, text);
        return;
    }
    if (text.toStdString() != expectedText(v))
        fail("not the shortest text in %g layout", v, text);
    // Subnormals hold so few bits that their shortest text can be far from the exact value
    // that %.6g rounds (5e-324 is 4.94066e-324): the shortest text is written there.
    if (significantDigits(v) <= 6 && std::fabs(v) >= DBL_MIN) {
        std::snprintf(printed, sizeof printed, "%.6g", v);
        if (text != printed)
            fail("differs from %.6g", v, text);
    }
}

// writeCsv lays out whole lines with its own loop: it must give the same text per number.
void checkLines(const std::vector<double> &values)
{
    QVector<double> columns[9];
    const int rows = int(values.size() / 9);
    for (int i = 0; i < rows * 9; ++i)
        columns[i % 9].append(values[size_t(i)]);
    RecordedSeries series;
    series.time = &columns[0];
    for (int k = 0; k < 8; ++k)
        series.channels[size_t(k)] = &columns[k + 1];
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeCsv(&buffer, series, 4))
        std::abort();
    QByteArray expected;
    for (int i = 0; i < rows; ++i) {
        for (int k = 0; k < 9; ++k) {
            if (k > 0)
                expected += ',';
            expected += formatCsvNumber(columns[k][i]);
        }
        expected += csvLineEnd();
    }
    if (buffer.data() != expected) {
        std::fprintf(stderr, "fuzz_csvnumber: writeCsv wrote \"%s\", expected \"%s\"\n",
                     buffer.data().constData(), expected.constData());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    std::vector<double> all;
    static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    for (size_t offset = 0; offset + 8 <= size; offset += 8) {
        std::uint64_t bits;
        std::memcpy(&bits, data + offset, sizeof bits);
        double raw;
        std::memcpy(&raw, &bits, sizeof raw);
        check(raw);
        all.push_back(raw);

        const double sign = (bits >> 63) ? -1.0 : 1.0;
        const std::uint64_t mantissa = (bits >> 8) & ((std::uint64_t(1) << 52) - 1);
        const int scale = int(bits & 0xff);
        const double few[] = {
            sign * double(mantissa) / powers[scale % 23],
            sign * double(mantissa % 1000000000) / powers[scale % 12],
            sign * double(mantissa % 1000000) * powers[scale % 23],
            sign * double(mantissa % 100000) / powers[scale % 23],
        };
        for (double v : few) {
            for (double w : {v, std::nextafter(v, HUGE_VAL), std::nextafter(v, -HUGE_VAL)}) {
                check(w);
                all.push_back(w);
            }
        }
    }
    checkLines(all);
    return 0;
}

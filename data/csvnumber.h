// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Numbers and lines as the program's CSV files hold them.

// Longest text of one number: sign, 17 digits, point, "e-308".
constexpr int MaxCsvNumberLength = 32;

// Appends the shortest text that reads back as exactly v (C locale, "." decimal point, no
// grouping) in printf %g style: values of up to six significant digits look exactly as %g
// prints them (30, -2.5, 1e-05, 1e+06); longer ones keep all the digits they need. Exponent
// notation is used when the decimal exponent is below -4 or at least the larger of 6 and the
// digit count (1234567 stays 1234567). Subnormals (below 2.2e-308) keep their shortest text,
// where %g would round their exact value (5e-324, not 4.94066e-324). inf, -inf and nan as %g.
void appendCsvNumber(QByteArray *out, double v);
QByteArray formatCsvNumber(double v);

// A number of a run as the windows show it: with decimals fixed ("12.345" for 3), or in
// exponent form ("1.797693e+308") where fixed digits would run longer than 16 (1e12 and beyond),
// so that no value makes a text hundreds of digits long.
QString shownNumber(double v, int decimals);

// Appends one CSV line as writeCsv writes it: the time, then channelCount (0 to 8) channel values,
// then the line end.
void appendCsvLine(QByteArray *out, double time, const double *channels, int channelCount);

// The platform's text line end: CR LF on Windows, LF elsewhere.
const char *csvLineEnd();

// Room formatCsvLine needs for a line of fieldCount values.
constexpr int csvLineRoom(int fieldCount)
{
    return fieldCount * (MaxCsvNumberLength + 1) + 2;
}
// Writes one line of fieldCount values (1 to 9: the time, then the channels) and its line end at
// out, which has csvLineRoom(fieldCount) bytes of room; returns the end of what it wrote.
char *formatCsvLine(char *out, const double *values, int fieldCount);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"

#include <QByteArray>

// The unit sends one text line per sample: 2N comma-separated numbers (heat flux and temperature
// of each of its N sensors), ended by LF, optionally CR LF.

// Splits a byte stream into complete lines. Bytes without a line end are kept until the rest of
// their line arrives, up to a bound: a line that grows past it is dropped whole (the bytes so far
// and everything up to its line end), so memory stays bounded whatever the line delivers.
class LineSplitter
{
public:
    static constexpr int DefaultMaxLineLength = 4096;

    explicit LineSplitter(int maxLineLength = DefaultMaxLineLength);

    // Adds bytes from the line.
    void append(const QByteArray &bytes);
    // Moves the next complete line (without its LF; a CR before it is kept) into *line.
    // Returns false when no complete line is pending.
    bool takeLine(QByteArray *line);

    // Bytes waiting for their line end.
    int pendingSize() const;
    // Lines dropped for being too long, and the bytes they held (their line ends included).
    quint64 overlongLines() const { return overlong; }
    quint64 droppedBytes() const { return dropped; }
    // Forgets everything pending, including a partial line.
    void clear();

private:
    void compact();

    QByteArray buffer;
    int readPos = 0;   // start of the first line not yet taken
    int lineStart = 0; // start of the line still waiting for its line end
    int maxLength;
    bool skipping = false; // inside an overlong line: drop up to its line end
    quint64 overlong = 0;
    quint64 dropped = 0;
};

// Converts one line into a record of sensorCount sensors. The line must split at its commas into
// exactly 2 * sensorCount fields, each of them a number or blank. A number is read in the C locale
// ("." decimal point, optional sign and exponent, white space such as a trailing CR allowed at
// both ends), exactly as QString::toDouble reads the UTF-8 decoded field, and taken only where
// toDouble accepts it; so "inf", "-inf" and "nan" (any case) give infinities and NaN, while text,
// a NUL byte, or a value that overflows or underflows a double makes the line no record: a
// reading the sensor never made is never stored. A blank field (nothing but white space) gives
// 0.0, as the unit may mark a missing value so. Outside ASCII, Unicode spaces are trimmed and
// U+2212 reads as a minus, as toDouble does.
// Returns false, leaving *values unspecified, when the field count is wrong, a field is not a
// number, or sensorCount is outside 1..MaxSensors.
bool parseRecord(const QByteArray &line, int sensorCount, RecordValues *values);

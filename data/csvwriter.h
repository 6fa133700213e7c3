// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

class QIODevice;

// The recorded series that a CSV file is written from: the elapsed time of each sample and the
// eight channel series (channel k is channels[k - 1]; those of absent sensors may be empty).
struct RecordedSeries
{
    const QVector<double> *time = nullptr;
    std::array<const QVector<double> *, 8> channels{};
};

// Appends the shortest text that reads back as exactly v (C locale, "." decimal point, no
// grouping) in printf %g style: values of up to six significant digits look exactly as %g
// prints them (30, -2.5, 1e-05, 1e+06); longer ones keep all the digits they need. Exponent
// notation is used when the decimal exponent is below -4 or at least the larger of 6 and the
// digit count (1234567 stays 1234567). Subnormals (below 2.2e-308) keep their shortest text,
// where %g would round their exact value (5e-324, not 4.94066e-324). inf, -inf and nan as %g.
void appendCsvNumber(QByteArray *out, double v);
QByteArray formatCsvNumber(double v);

// Appends one CSV line as writeCsv writes it: the time, then channelCount (0 to 8) channel values,
// then the line end.
void appendCsvLine(QByteArray *out, double time, const double *channels, int channelCount);

// The platform's text line end: CR LF on Windows, LF elsewhere.
const char *csvLineEnd();

// Writes one line per sample, no header: time, then heat flux and temperature of sensors 1..n.
// Nothing is written for n outside 1..4, and lines go only as far as the shortest of the
// series written. Returns false if the device reports a write error (or is null).
bool writeCsv(QIODevice *device, const RecordedSeries &series, int sensorCount);

// The columns a CSV file is written from, taken at one moment: the first rows of the time and
// channel series, as plain pointers. Writing from them reads nothing past those rows and never
// touches the series' containers, so a file can be written on another thread while the series
// grow behind the last row, as long as their data stays where it is.
struct CsvColumns
{
    std::array<const double *, 9> columns{};
    int fieldCount = 0; // the time and 2n channels, or 0 when nothing is to be written
    int rows = 0;
};
CsvColumns csvColumns(const RecordedSeries &series, int sensorCount);
bool writeCsv(QIODevice *device, const CsvColumns &columns);

// Saves to fileName through QSaveFile: an existing file is replaced only once the new one is
// complete, and nothing is left behind when the save fails. On failure returns false and sets
// *error (if given) to the reason, with the system's own words but without the file name.
bool saveCsv(const QString &fileName, const RecordedSeries &series, int sensorCount, QString *error);
bool saveCsv(const QString &fileName, const CsvColumns &columns, QString *error);

// Why fileName must not be saved over, or empty if it may: a name that exists and is not a
// regular file (after following links). QSaveFile would put a new regular file in place of a
// device or a pipe of that name, and report success.
QString notReplaceableReason(const QString &fileName);

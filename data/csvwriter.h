// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/csvnumber.h"
#include "data/recordedseries.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

class QIODevice;

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

// The file a save to fileName writes: fileName itself, or where the symbolic link(s) at that name
// lead (made there if missing), as QSaveFile follows them; the link itself stays.
QString savedFileName(const QString &fileName);

// Why fileName must not be saved over, or empty if it may: a name that exists and is not a
// regular file (after following links). QSaveFile would put a new regular file in place of a
// device or a pipe of that name, and report success.
QString notReplaceableReason(const QString &fileName);

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
// prints them (30, -2.5, 1e-05, 1e+06); longer ones keep all the digits they need.
void appendCsvNumber(QByteArray *out, double v);
QByteArray formatCsvNumber(double v);

// The platform's text line end: CR LF on Windows, LF elsewhere.
const char *csvLineEnd();

// Writes one line per sample, no header: time, then heat flux and temperature of sensors 1..n.
// Nothing is written for n outside 1..4. Returns false if the device reports a write error.
bool writeCsv(QIODevice *device, const RecordedSeries &series, int sensorCount);

// Saves to fileName through QSaveFile: an existing file is replaced only once the new one is
// complete. On failure returns false and sets *error to the reason.
bool saveCsv(const QString &fileName, const RecordedSeries &series, int sensorCount, QString *error);

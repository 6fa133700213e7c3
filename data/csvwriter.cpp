// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/csvwriter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#include <algorithm>
#include <memory>

namespace {

// Lines are formatted into chunks of this size before they go to the device.
constexpr int ChunkSize = 1 << 20;

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

CsvColumns csvColumns(const RecordedSeries &series, int sensorCount)
{
    CsvColumns c;
    if (sensorCount < 1 || sensorCount > 4 || !series.time)
        return c;
    const int channelCount = 2 * sensorCount;
    int rows = series.time->size();
    for (int k = 0; k < channelCount; ++k) {
        if (!series.channels[size_t(k)])
            return c;
        rows = std::min(rows, series.channels[size_t(k)]->size());
    }
    c.fieldCount = 1 + channelCount;
    c.rows = std::max(rows, 0);
    c.columns[0] = series.time->constData();
    for (int k = 0; k < channelCount; ++k)
        c.columns[size_t(1 + k)] = series.channels[size_t(k)]->constData();
    return c;
}

bool writeCsv(QIODevice *device, const CsvColumns &columns)
{
    if (!device)
        return false;
    const int rows = columns.rows;
    const int fieldCount = columns.fieldCount;
    if (rows <= 0 || fieldCount < 2)
        return true;

    const int maxLineLength = csvLineRoom(fieldCount);
    // Lines are formatted into one large chunk that is written whole when nearly full.
    const int chunkSize = int(std::min<qint64>(ChunkSize, qint64(rows) * maxLineLength));
    const std::unique_ptr<char[]> chunk(new char[size_t(chunkSize)]);
    char *const begin = chunk.get();
    char *const flushAt = begin + chunkSize - maxLineLength;
    char *p = begin;
    for (int i = 0; i < rows; ++i) {
        double values[1 + 8];
        for (int k = 0; k < fieldCount; ++k)
            values[k] = columns.columns[size_t(k)][i];
        p = formatCsvLine(p, values, fieldCount);
        if (p > flushAt) {
            if (!writeAll(device, begin, p - begin))
                return false;
            p = begin;
        }
    }
    return writeAll(device, begin, p - begin);
}

bool writeCsv(QIODevice *device, const RecordedSeries &series, int sensorCount)
{
    return writeCsv(device, csvColumns(series, sensorCount));
}

QString savedFileName(const QString &fileName)
{
    QFileInfo entry(fileName);
    for (int depth = 0; depth < 128 && entry.isSymLink(); ++depth)
        entry.setFile(entry.symLinkTarget());
    return entry.isSymLink() ? fileName : entry.filePath();
}

QString notReplaceableReason(const QString &fileName)
{
    const QFileInfo existing(fileName);
    if (existing.exists() && !existing.isFile())
        return translated("The file could not be created: %1 is not a regular file").arg(existing.fileName());
    return QString();
}

bool saveCsv(const QString &fileName, const RecordedSeries &series, int sensorCount, QString *error)
{
    return saveCsv(fileName, csvColumns(series, sensorCount), error);
}

bool saveCsv(const QString &fileName, const CsvColumns &columns, QString *error)
{
    // Binary mode: the bytes on disk are exactly the ones formatted, line ends included.
    // Unbuffered: writeCsv hands over large chunks anyway, and QSaveFile::commit() does not
    // notice a failure of the final flush of its own buffer, so it would put a truncated file
    // in place of the old one.
    QSaveFile file(fileName);
    QString reason = notReplaceableReason(fileName);
    if (!reason.isEmpty()) {
        // refused: nothing is touched
    } else if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        reason = translated("The file could not be created: %1").arg(file.errorString());
    } else if (!writeCsv(&file, columns)) {
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

// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recovery.h"

#include "data/descriptionfile.h"
#include "data/fileentry.h"
#include "data/recordingsfolder.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

#include <algorithm>

namespace {

// Cuts a file back to just after its last line end, and before any NUL bytes near its end (a
// block that reached the disk without its contents). Returns the bytes cut, or -1 on failure.
qint64 cutTornTail(QFile &file)
{
    constexpr qint64 Chunk = 64 * 1024;
    const qint64 size = file.size();
    const qint64 tailStart = std::max<qint64>(0, size - Chunk);
    if (!file.seek(tailStart))
        return -1;
    const QByteArray tail = file.read(size - tailStart);
    qint64 keep = size;
    const int nul = tail.indexOf('\0');
    if (nul >= 0)
        keep = tailStart + nul;
    // Back to the last line end before keep.
    qint64 end = keep;
    while (end > 0) {
        const qint64 from = std::max<qint64>(0, end - Chunk);
        QByteArray block;
        if (from >= tailStart) {
            block = tail.mid(int(from - tailStart), int(end - from));
        } else {
            if (!file.seek(from))
                return -1;
            block = file.read(end - from);
        }
        const int lf = block.lastIndexOf('\n');
        if (lf >= 0) {
            end = from + lf + 1;
            break;
        }
        end = from;
    }
    if (end == size)
        return 0;
    if (!file.resize(end))
        return -1;
    return size - end;
}

quint64 countLines(QFile &file)
{
    quint64 lines = 0;
    file.seek(0);
    while (!file.atEnd()) {
        const QByteArray block = file.read(1 << 20);
        if (block.isEmpty())
            break;
        lines += quint64(block.count('\n'));
    }
    return lines;
}

QDateTime startOf(const QString &descriptionPath, const QString &baseName)
{
    QFile f(descriptionPath);
    if (f.open(QIODevice::ReadOnly)) {
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            if (line.startsWith("Started: ")) {
                const QDateTime t = QDateTime::fromString(QString::fromUtf8(line.mid(9)), Qt::ISODateWithMs);
                if (t.isValid())
                    return t.toLocalTime();
            }
        }
    }
    return QDateTime::fromString(baseName.left(recordingNameFormat().size()), recordingNameFormat());
}

} // namespace

QList<RecoveredRecording> recoverAbandonedRecordings(const QString &folder)
{
    QList<RecoveredRecording> recovered;
    const QDir dir(folder);
    const QStringList locks = dir.entryList({QStringLiteral("*.lock")}, QDir::Files, QDir::Name);
    for (const QString &lockName : locks) {
        const QString base = lockName.left(lockName.size() - 5);
        QLockFile lock(dir.absoluteFilePath(lockName));
        lock.setStaleLockTime(0);
        // Taking the lock succeeds only when the program that held it is gone.
        if (!lock.tryLock(0))
            continue;
        const QString csvPath = dir.absoluteFilePath(base + QStringLiteral(".csv"));
        const QString descriptionPath = dir.absoluteFilePath(base + QStringLiteral(".txt"));
        RecoveredRecording r;
        r.fileName = csvPath;
        const EntryKind csvKind = entryAt(csvPath);
        // Read and noted in only as a plain file of its own.
        const bool ownDescription = entryAt(descriptionPath) != EntryKind::Other;
        if (!ownDescription)
            r.leftAlone << descriptionPath;
        const QString readable = ownDescription ? descriptionPath : QString();
        if (csvKind == EntryKind::None) {
            // The description is made after the CSV: without it, the recording never began.
            if (entryAt(descriptionPath) == EntryKind::None)
                continue; // the lock goes
            // The CSV was removed while it was being recorded: nothing to mend, nothing to make up.
            r.lost = true;
            r.start = startOf(readable, base);
            noteInDescription(
                descriptionPath,
                QStringLiteral("Recovered: %1: the program ended without closing the recording, "
                               "and its samples file %2 is missing: the samples were lost with it")
                    .arg(isoTime(QDateTime::currentDateTime()), base + QStringLiteral(".csv")));
            recovered.append(r);
            continue;
        }
        QFile csv(csvPath);
        if (csvKind != EntryKind::RegularFile) {
            // Not ours to mend: the lock goes, and the operator is told.
            r.leftAlone.prepend(csvPath);
            r.start = startOf(readable, base);
            recovered.append(r);
            continue;
        }
        if (!csv.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
            continue;
        r.cutBytes = cutTornTail(csv);
        if (r.cutBytes < 0)
            continue;
        r.samples = countLines(csv);
        csv.close();
        r.start = startOf(readable, base);
        QString note = QStringLiteral("Recovered: %1: the program ended without closing the recording; "
                                      "%2 samples kept")
                           .arg(isoTime(QDateTime::currentDateTime()))
                           .arg(r.samples);
        if (r.cutBytes > 0)
            note += QStringLiteral(", a torn last line of %1 bytes cut off").arg(r.cutBytes);
        noteInDescription(descriptionPath, note);
        recovered.append(r);
    }
    return recovered;
}

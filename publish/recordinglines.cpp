// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/recordinglines.h"

#include <QCoreApplication>

#include <cstring>

void RecordingLines::Batch::clear()
{
    first = 0;
    bytes.clear();
    ends.clear();
}

RecordingLines::RecordingLines(const QString &fileName) : file(fileName)
{
    index.append(0);
}

bool RecordingLines::fail(const QString &why)
{
    error = why;
    return false;
}

bool RecordingLines::read(quint64 first, int maxLines, Batch *batch, int maxBytes)
{
    batch->clear();
    batch->first = first;
    if (!file.isOpen() && !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (file.size() < seenEnd)
        return fail(QCoreApplication::translate("RecordingLines",
                                                "the file has become shorter than what was read of it"));

    // Start from the nearest known line start at or before first.
    quint64 line = 0;
    qint64 offset = 0;
    const quint64 indexed = qMin<quint64>(first / IndexStep, quint64(index.size() - 1));
    line = indexed * IndexStep;
    offset = index[int(indexed)];
    if (nextLine <= first && nextLine > line) {
        line = nextLine;
        offset = nextOffset;
    }
    if (!file.seek(offset))
        return fail(file.errorString());

    QByteArray chunk;
    chunk.resize(ChunkSize);
    QByteArray partial; // a line that runs over the end of a chunk
    while (batch->count() < maxLines && batch->bytes.size() < maxBytes) {
        const qint64 got = file.read(chunk.data(), chunk.size());
        if (got < 0)
            return fail(file.errorString());
        if (got == 0)
            break;
        const char *p = chunk.constData();
        const char *const end = p + got;
        while (p < end) {
            const char *newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            if (!newline) {
                partial.append(p, int(end - p));
                break;
            }
            const qint64 lineLength = partial.size() + (newline - p);
            const qint64 next = offset + lineLength + 1;
            if (line >= first) {
                const char *text = p;
                int length = int(newline - p);
                if (!partial.isEmpty()) {
                    partial.append(p, length);
                    text = partial.constData();
                    length = partial.size();
                }
                if (length > 0 && text[length - 1] == '\r')
                    --length;
                batch->bytes.append(text, length);
                batch->ends.append(batch->bytes.size());
            }
            partial.clear();
            ++line;
            offset = next;
            if (line > seenLines) {
                seenLines = line;
                seenEnd = offset;
            }
            if (line % IndexStep == 0 && line / IndexStep == quint64(index.size()))
                index.append(offset);
            p = newline + 1;
            if (line > first && (batch->count() >= maxLines || batch->bytes.size() >= maxBytes))
                break;
        }
        if (line > first && (batch->count() >= maxLines || batch->bytes.size() >= maxBytes))
            break;
    }
    if (line >= first) {
        nextLine = line;
        nextOffset = offset;
    }
    return true;
}

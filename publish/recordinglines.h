// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

// A recording's lines by their number (0-based: line n is the run's record n), read from disk as
// the file is now. A live recording grows while it is read: only lines with their line end are
// handed out, and a later read finds the lines added since. What has been read is indexed (the
// start of every IndexStep-th line), so that a read from any line near one read before costs
// little, and reads that follow one another cost nothing extra: a publisher catching up after an
// outage and a rig answering a request for history read the same file this way. Use from one
// thread at a time.
class RecordingLines
{
public:
    static constexpr int IndexStep = 1024;
    static constexpr int ChunkSize = 64 * 1024;

    // Lines read at once, without their line ends (a CR before the LF is dropped too).
    struct Batch
    {
        quint64 first = 0; // the number of the first line
        QByteArray bytes;  // the lines one after another
        QVector<int> ends; // where each line ends in bytes

        int count() const { return ends.size(); }
        const char *line(int i) const { return bytes.constData() + (i == 0 ? 0 : ends[i - 1]); }
        int length(int i) const { return ends[i] - (i == 0 ? 0 : ends[i - 1]); }
        void clear();
    };

    explicit RecordingLines(const QString &fileName);

    // Reads line first and those after it, up to maxLines lines (and about maxBytes bytes) into
    // *batch, replacing what it held. A batch of no lines: the file holds no complete line first
    // yet. Returns false, with errorString() set, when the file can't be opened or read, or has
    // become shorter than what was read of it.
    bool read(quint64 first, int maxLines, Batch *batch, int maxBytes = 1 << 20);
    // Complete lines seen so far.
    quint64 linesSeen() const { return seenLines; }
    QString errorString() const { return error; }

private:
    bool fail(const QString &why);

    QFile file;
    QString error;
    QVector<qint64> index; // index[k]: where line k * IndexStep starts
    quint64 seenLines = 0; // complete lines found so far, ending at seenEnd
    qint64 seenEnd = 0;
    // Where the line after the last one handed out starts, so that the next read goes on there.
    quint64 nextLine = 0;
    qint64 nextOffset = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/csvwriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <array>

// Bytes written as a file of a temporary folder; returns its path.
inline QString writeTestFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qWarning("could not write %s", qPrintable(f.fileName()));
    return f.fileName();
}

// A run held as a window holds it: the time and channels 1..8 (those of absent sensors empty).
struct RunColumns
{
    QVector<double> time;
    std::array<QVector<double>, 8> channels;

    RecordedSeries series() const
    {
        RecordedSeries s;
        s.time = &time;
        for (size_t k = 0; k < channels.size(); ++k)
            s.channels[k] = &channels[k];
        return s;
    }
};

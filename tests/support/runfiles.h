// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"

#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <array>
#include <initializer_list>

// Bytes written as a file of a temporary folder; returns its path.
inline QString writeTestFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qWarning("could not write %s", qPrintable(f.fileName()));
    return f.fileName();
}

// A run held as a window holds it, for what reads a window's series: the time and channels 1..8
// (heat flux and temperature of sensors 1..4; those of absent sensors empty), handed out as
// RecordedSeries.
struct RecordedRun
{
    QVector<double> time;
    std::array<QVector<double>, 8> channels;

    RecordedSeries view() const
    {
        RecordedSeries series;
        series.time = &time;
        for (size_t k = 0; k < channels.size(); ++k)
            series.channels[k] = &channels[k];
        return series;
    }
    // One record: its time, then channels 1, 2, ... as many as given.
    void append(double t, std::initializer_list<double> values)
    {
        time.append(t);
        size_t k = 0;
        for (double v : values)
            channels[k++].append(v);
    }
    void clear()
    {
        time.clear();
        for (QVector<double> &channel : channels)
            channel.clear();
    }
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/csvwriter.h"

#include <QString>

#include <thread>
#include <vector>

// Saves a run as CSV on a thread of its own while this thread's event loop goes on with user
// input held back, so that lines arriving during a long save are still taken, and stamped, when
// they arrive. The file holds the samples there were when the save began.
//
// The writing thread reads the series' data where it lies. Whoever appends to them meanwhile
// asks hasRoomForOneMore() first and calls wait() when it says no: an append that moves or
// frees the data must wait for the file to be written.
class BackgroundSave
{
public:
    BackgroundSave() = default;
    BackgroundSave(const BackgroundSave &) = delete;
    BackgroundSave &operator=(const BackgroundSave &) = delete;
    ~BackgroundSave();

    // Returns when the file is saved or the save failed, as saveCsv does. Series whose data
    // another container shares (the next append would copy it) are saved on this thread.
    bool save(const QString &fileName, const RecordedSeries &series, int sensorCount, QString *error);

    bool isRunning() const { return writer.joinable(); }
    // True when one more sample can be appended to each series the running save reads without
    // moving its data (or when no save runs).
    bool hasRoomForOneMore() const;
    // Blocks until the writing thread is done; does nothing when no save runs.
    void wait();

private:
    std::thread writer;
    // The series the running save reads: the time and the channels written.
    std::vector<const QVector<double> *> reading;
};

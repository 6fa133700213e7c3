// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/backgroundsave.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>

BackgroundSave::~BackgroundSave()
{
    wait();
}

bool BackgroundSave::hasRoomForOneMore() const
{
    if (!isRunning())
        return true;
    return std::all_of(reading.begin(), reading.end(),
                       [](const QVector<double> *s) { return s->isDetached() && s->size() < s->capacity(); });
}

bool BackgroundSave::save(const QString &fileName, const RecordedSeries &series, int sensorCount,
                          QString *error)
{
    wait();
    const CsvColumns columns = csvColumns(series, sensorCount);
    reading.clear();
    if (columns.fieldCount > 0) {
        reading.push_back(series.time);
        for (int k = 0; k < columns.fieldCount - 1; ++k)
            reading.push_back(series.channels[size_t(k)]);
    }
    // A series whose data is shared would be copied by the next append, leaving the writing
    // thread with data only the other owner keeps alive: such series are saved on this thread.
    const bool alone =
        std::all_of(reading.begin(), reading.end(), [](const QVector<double> *s) { return s->isDetached(); });
    if (!alone || reading.empty() || !QCoreApplication::instance())
        return saveCsv(fileName, columns, error);

    // The outcome lives in this call, so that it stays this save's own even if a save were
    // started from within the event loop below (that one would wait for this one first).
    bool saved = false;
    QString reason;
    QEventLoop loop;
    QEventLoop *const waiting = &loop; // outlives the thread: it is joined before this returns
    writer = std::thread([fileName, columns, waiting, &saved, &reason] {
        saved = saveCsv(fileName, columns, &reason);
        // Queued: the loop belongs to the thread that started the save.
        QMetaObject::invokeMethod(waiting, "quit", Qt::QueuedConnection);
    });
    const bool busyCursor = qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
    if (busyCursor)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (busyCursor)
        QApplication::restoreOverrideCursor();
    wait();
    if (!saved && error)
        *error = reason;
    return saved;
}

void BackgroundSave::wait()
{
    if (writer.joinable())
        writer.join();
}

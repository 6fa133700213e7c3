// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/backgroundsave.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>

namespace {

// A series whose data is shared would be copied by the next append, leaving the writing thread
// with data only the other owner keeps alive.
bool ownsItsData(const QVector<double> *series)
{
    return !series || series->isDetached();
}

} // namespace

BackgroundSave::~BackgroundSave()
{
    wait();
}

bool BackgroundSave::hasRoomFor(const RecordedSeries &series)
{
    const auto room = [](const QVector<double> *s) {
        return !s || (s->isDetached() && s->size() < s->capacity());
    };
    if (!room(series.time))
        return false;
    for (const QVector<double> *channel : series.channels) {
        if (!room(channel))
            return false;
    }
    return true;
}

bool BackgroundSave::save(const QString &fileName, const RecordedSeries &series, int sensorCount,
                          QString *error)
{
    wait();
    const CsvColumns columns = csvColumns(series, sensorCount);
    bool alone = ownsItsData(series.time);
    for (const QVector<double> *channel : series.channels)
        alone = alone && ownsItsData(channel);
    if (!alone || !QCoreApplication::instance())
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

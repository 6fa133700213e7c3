// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where a program's wake-ups go: the events its objects get, by type, with the timers that fire
// (by the class of the timer's owner and the timer's interval) and the widgets painted (by class
// and object name, with the area they painted). Installed on the application as an event filter;
// it only counts, a few tens of nanoseconds an event.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

namespace bench {

class EventCounts : public QObject
{
public:
    // Starts counting every event of the application's objects, from zero.
    void install();
    void reset();
    // The counts over the given seconds, most frequent first, one per line: "what: n (n/s)".
    QString report(double seconds, int most = 14) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QHash<QByteArray, quint64> counts;
    QHash<QByteArray, double> paintedPixels;
};

} // namespace bench

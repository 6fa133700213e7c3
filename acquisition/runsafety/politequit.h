// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Turns the system's request to quit (SIGTERM, SIGINT, SIGHUP: a shutdown, kill, Ctrl+C, the
// terminal closing) into a normal end of the program instead of the abrupt one the signals'
// default means: whoever holds a run closes it as on a normal close (its recording written,
// synced, noted as closed, its lock removed), without asking the operator anything, and the event
// loop ends with the exit code 128 + the signal's number. A second signal while that goes on ends
// the program at once.
//
// The handler only writes the signal's number to a socket; the rest happens on the event loop,
// where the socket's notifier reads it.
class PoliteQuit : public QObject
{
    Q_OBJECT

public:
    // The process's one (made on first use; it handles no signal before install()).
    static PoliteQuit *instance();

    // Handles SIGTERM, SIGINT and SIGHUP from now on. Needs the application object; returns false
    // (the signals keep their default meaning) when the socket can't be made.
    bool install();

    // Why the program is quitting when it was asked to ("SIGTERM"), else empty.
    QString reason() const { return why; }

    // As if signal signo had come (for tests).
    void request(int signo);

signals:
    // The system asked the program to quit; the event loop ends as soon as this returns.
    void requested(const QString &why);

private:
    PoliteQuit() = default;
    void readSignals();

    QSocketNotifier *notifier = nullptr;
    QString why;
};

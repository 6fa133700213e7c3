// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

// Keeps the measuring unit's port connected for the whole run. It opens the unit with its line
// settings, notices when the unit goes away whatever the port reports (a resource error, a read
// error, end-of-file on a hung-up line), looks for the unit again each second by its USB
// identifiers, reopens it, lets it settle and sends it again every configuration byte sent so
// far. While asked to, it also watches for a unit that stays connected but goes quiet.
//
// The port stays the caller's: the watcher only opens, closes and writes it. Whoever reads the
// port connects to its readyRead signal as usual and should take records only while
// isUnitReady(): what a reopened unit sends before it has its configuration again is not data.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Idle,      // nothing asked yet
        Searching, // no usable unit: looking for it each second
        Settling,  // just opened: waiting for the unit to start up before sending it anything
        Ready,     // open and configured
    };

    // The unit restarts when its port is opened and takes no command for about this long.
    static constexpr int SettleTimeMs = 2000;
    // How often the port list is searched while there is no unit.
    static constexpr int SearchIntervalMs = 1000;
    // While silence is watched, this long without a byte from the unit is reported.
    static constexpr int SilenceLimitMs = 5000;

    explicit PortWatcher(QSerialPort *port, QObject *parent = nullptr);
    ~PortWatcher() override;

    // Opens the unit at portName at once, as at start-up: the unit is taken to be ready right
    // away (unitReady() follows at once). When the port cannot be opened, openFailed() reports
    // why and the watcher goes on looking for the unit each second. Returns whether the port is
    // open.
    bool openAtStartup(const QString &portName);
    // Looks for the unit each second until it is found and opened (no unit at start-up).
    void startSearching();

    // Writes configuration bytes to the unit and keeps them, so that a reconnected unit gets
    // everything again, byte for byte and in the same order. While the unit settles they wait
    // and go out with the replay. Returns false, keeping nothing, when the port is not open.
    bool send(const QByteArray &bytes);
    // Every configuration byte sent so far, in order.
    QByteArray sentConfiguration() const { return sent; }

    // For tests: how long a reopened unit is given to start (default SettleTimeMs).
    void setSettleTime(int ms) { settleMs = ms; }
    int settleTime() const { return settleMs; }

    // Silence is reported only while watched (while acquiring). Switching it on starts the
    // count anew.
    void setSilenceWatched(bool watched);

    State state() const { return current; }
    bool isUnitReady() const { return current == State::Ready; }
    // Why the unit was last lost or could not be opened, in the system's words.
    QString lastError() const { return reason; }
    // Failed attempts to open the unit since it was last ready.
    int failedOpenCount() const { return failedOpens; }

signals:
    // There is no usable unit; the watcher looks for it each second.
    void searching();
    // The unit was found at portName but its port did not open; the watcher tries again.
    void openFailed(const QString &portName, const QString &reason);
    // The unit's port is open again; the unit is given time to start before it is configured.
    void unitOpened(const QString &portName);
    // The unit is open and has been sent its configuration again. awayMs is how long it was
    // gone, or -1 when it had not been lost before (found after start-up).
    void unitReady(const QString &portName, qint64 awayMs);
    // The unit went away; the port is closed and the watcher looks for it again.
    void unitLost(const QString &reason);
    // While silence is watched: the unit has sent nothing for this many seconds (repeated
    // each second while it lasts).
    void unitSilent(int seconds);
    // The unit sends again after unitSilent().
    void unitSending();

private:
    bool openPort(const QString &portName);
    void portError(QSerialPort::SerialPortError error);
    void lose(const QString &why);
    void tick();
    void searchOnce();
    void settled();
    void dataArrived();
    bool lineHungUp() const;
    static QString hungUpReason();

    QSerialPort *port;
    QString unitName; // as the port list gives it
    State current = State::Idle;
    QByteArray sent;
    QString reason;
    int failedOpens = 0;
    int settleMs = SettleTimeMs;
    QTimer ticker;      // once a second: search, or look after the open port
    QTimer settleTimer; // single shot: the unit has had time to start
    QElapsedTimer away; // since the unit was lost; invalid while it has not been
    QElapsedTimer sinceData;
    bool silenceWatched = false;
    bool silenceReported = false;
};

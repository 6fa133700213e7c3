// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "simunit/pseudoterminal.h"
#include "simunit/unitstream.h"
#include "unit/portlist.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// A port-list entry that the control panel takes for the measuring unit (its USB identifiers).
PortEntry measuringUnitPort(const QString &portName, const QString &description);

// A stand-in for the measuring unit on a pseudo-terminal: portPath() is its serial port. It takes
// the host's commands as they come (no framing: the first byte '1' to '4' is the sensor count,
// everything after it is sensitivity text) and, once it has a count, sends one line per sample
// (see UnitStream) at a settable rate. Everything runs on the event loop of the unit's thread and
// nothing blocks. It may be moved to another thread as a whole (then use it from that thread only).
class SimulatedUnit : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedUnit(QObject *parent = nullptr);
    ~SimulatedUnit() override;

    // False when the pseudo-terminal could not be made (see errorString()) or after unplug().
    bool isOpen() const;
    QString portPath() const { return pty.slavePath(); }
    QString errorString() const { return pty.errorString(); }

    // Every byte the host has sent, in order.
    QByteArray receivedBytes() const { return received; }
    // The bytes after the count digit: the sensitivities as typed, run together.
    QByteArray sensitivityBytes() const { return sensitivities; }
    // 0 until a count arrived (or was set).
    int sensorCount() const { return count; }

    // Sets the count as if its digit had arrived, and starts sending (see setSendOnCount()).
    void setSensorCount(int sensors);
    // Samples per second (default 10); 0 or less sends as fast as the line takes the bytes.
    void setRate(double samplesPerSecond);
    double rate() const { return samplesPerSecond; }
    void setLineEnd(LineEnd end) { generator.setLineEnd(end); }
    // Faults to mix into the stream, drawn from a sequence that starts at seed.
    void setFaults(const FaultMix &mix, quint32 seed);
    // Channel 1 of each good record carries its sequence number (see UnitStream).
    void setNumberedRecords(bool numbered) { generator.setNumbered(numbered); }
    UnitStream &stream() { return generator; }

    // Whether a count, received or set, starts the sending at once (the default). Without it the
    // unit waits for start(), so that a test can begin acquiring before the first record.
    void setSendOnCount(bool send) { sendOnCount = send; }
    bool isSending() const { return sending; }
    // Stops and resumes sending; a resumed unit starts its clock anew and does not catch up.
    void stop();
    void start();

    // The stream of the next `samples` samples, for a caller that sends it itself. It continues
    // the unit's stream (sequence numbers, faults) and counts in counters().
    QByteArray generate(int samples);

    // What has gone out: complete writes to the line plus what generate() handed out.
    StreamCounters counters() const { return sent; }
    // Samples that fell due while the line was full and were left out.
    quint64 skippedSamples() const { return skipped; }
    // Bytes made but not yet on the line (waiting for room, or for the pause within a split line).
    int pendingBytes() const { return queuedBytes; }

    // Pulls the plug: closes the unit's side of the line. The host's port then sees a hang-up.
    void unplug();

signals:
    void countReceived(int sensors);
    void bytesReceived(const QByteArray &bytes);

private:
    void readCommands();
    void takeCommandBytes(const QByteArray &bytes);
    void sendDue();
    enum class WriteState
    {
        Done,   // the queue is empty
        Paused, // within a split line
        Full,   // the line takes no more for now
        Gone,   // the line is closed
    };
    WriteState writeQueued();

    PseudoTerminal pty;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QByteArray received;
    QByteArray sensitivities;
    int count = 0;

    UnitStream generator;
    double samplesPerSecond = 10.0;
    bool sending = false;
    bool sendOnCount = true;
    QTimer sendTimer{this}; // a child, so the unit can move to another thread whole
    QElapsedTimer clock;    // since sending (re)started
    quint64 samplesDue = 0; // samples made or skipped since then
    QList<StreamWrite> queue;
    int queuedBytes = 0;
    int headWritten = 0; // bytes of queue.first() already on the line
    StreamCounters sent;
    quint64 skipped = 0;
};

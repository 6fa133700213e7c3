// SPDX-License-Identifier: GPL-3.0-or-later
#include "simunit/simulatedunit.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Bytes the unit holds back when the line is full; samples that fall due beyond it are left out.
constexpr int MaxQueuedBytes = 64 * 1024;
// Pause after each part of a split line, so that the host sees the parts arrive one by one.
constexpr int SplitPauseMs = 2;
} // namespace

SimulatedUnit::SimulatedUnit(QObject *parent) : QObject(parent)
{
    sendTimer.setSingleShot(true);
    sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer, &QTimer::timeout, this, &SimulatedUnit::sendDue);
    if (!pty.isOpen())
        return;
    readNotifier = new QSocketNotifier(pty.masterDescriptor(), QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &SimulatedUnit::readCommands);
    writeNotifier = new QSocketNotifier(pty.masterDescriptor(), QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, [this] {
        writeNotifier->setEnabled(false);
        sendDue();
    });
}

SimulatedUnit::~SimulatedUnit()
{
    // The notifiers must go before the descriptor they watch is closed.
    delete readNotifier;
    delete writeNotifier;
}

bool SimulatedUnit::isOpen() const
{
    return pty.isOpen();
}

void SimulatedUnit::readCommands()
{
    const QByteArray bytes = pty.read(0);
    if (bytes.isEmpty()) {
        // Readable yet nothing to read: the far side hung up. Stop watching, or this fires forever.
        readNotifier->setEnabled(false);
        return;
    }
    takeCommandBytes(bytes);
}

void SimulatedUnit::takeCommandBytes(const QByteArray &bytes)
{
    received += bytes;
    int newCount = 0;
    for (char c : bytes) {
        if (count == 0 && newCount == 0) {
            // Until the count has come, other bytes mean nothing to the unit.
            if (c >= '1' && c <= '4')
                newCount = c - '0';
        } else {
            sensitivities += c;
        }
    }
    emit bytesReceived(bytes);
    if (newCount != 0) {
        setSensorCount(newCount);
        emit countReceived(newCount);
    }
}

void SimulatedUnit::setSensorCount(int sensors)
{
    count = std::clamp(sensors, 1, 4);
    generator.setSensorCount(count);
    if (sendOnCount)
        start();
}

void SimulatedUnit::setRate(double rate)
{
    samplesPerSecond = rate;
    generator.setSampleRate(rate);
    if (sending)
        start();
}

void SimulatedUnit::setFaults(const FaultMix &mix, quint32 seed)
{
    generator.setFaults(mix);
    generator.reseed(seed);
}

void SimulatedUnit::start()
{
    if (!pty.isOpen() || count == 0)
        return;
    sending = true;
    clock.start();
    samplesDue = 0;
    sendTimer.start(0);
}

void SimulatedUnit::stop()
{
    sending = false;
    // What is already made still goes out whole.
    if (queue.isEmpty())
        sendTimer.stop();
}

QByteArray SimulatedUnit::generate(int samples)
{
    QByteArray out;
    for (const StreamWrite &w : generator.writes(samples)) {
        out += w.bytes;
        sent += w.counts;
    }
    return out;
}

void SimulatedUnit::sendDue()
{
    if (sending) {
        // Make the samples that are due by now (all that fit, when unpaced).
        const quint64 due = samplesPerSecond > 0
                                ? quint64(double(clock.elapsed()) * samplesPerSecond / 1000.0) + 1
                                : std::numeric_limits<quint64>::max();
        while (samplesDue < due) {
            if (queuedBytes >= MaxQueuedBytes) {
                if (samplesPerSecond <= 0)
                    break;
                generator.skipSample();
                ++skipped;
                ++samplesDue;
                continue;
            }
            QList<StreamWrite> made;
            samplesDue += quint64(generator.nextWrites(&made));
            for (const StreamWrite &w : made)
                queuedBytes += w.bytes.size();
            queue += made;
        }
    }
    const WriteState state = writeQueued();
    if (state == WriteState::Paused) {
        sendTimer.start(samplesPerSecond > 0 ? SplitPauseMs : 0);
    } else if (sending && samplesPerSecond > 0) {
        // Also while the line is full, so that samples falling due meanwhile are left out in time.
        const double nextAtMs = double(samplesDue) * 1000.0 / samplesPerSecond;
        sendTimer.start(std::max(0, int(std::ceil(nextAtMs - double(clock.elapsed())))));
    } else if (sending && state == WriteState::Done) {
        sendTimer.start(0);
    }
}

SimulatedUnit::WriteState SimulatedUnit::writeQueued()
{
    while (!queue.isEmpty()) {
        const StreamWrite &w = queue.first();
        const qint64 n = pty.writeSome(w.bytes.constData() + headWritten, w.bytes.size() - headWritten);
        if (n < 0) {
            // The line is gone; nothing more can be sent.
            queue.clear();
            queuedBytes = headWritten = 0;
            stop();
            return WriteState::Gone;
        }
        headWritten += int(n);
        if (headWritten < w.bytes.size()) {
            writeNotifier->setEnabled(true); // the line is full: go on when it has room
            return WriteState::Full;
        }
        sent += w.counts;
        queuedBytes -= w.bytes.size();
        headWritten = 0;
        const bool pause = w.pauseAfter;
        queue.removeFirst();
        if (pause && !queue.isEmpty())
            return WriteState::Paused;
    }
    return WriteState::Done;
}

void SimulatedUnit::unplug()
{
    stop();
    delete readNotifier;
    delete writeNotifier;
    readNotifier = writeNotifier = nullptr;
    queue.clear();
    queuedBytes = headWritten = 0;
    pty.closeMaster();
    pty.closeSlave();
}

PortEntry measuringUnitPort(const QString &portName, const QString &description)
{
    PortEntry entry;
    entry.portName = portName;
    entry.description = description;
    entry.hasVendorIdentifier = entry.hasProductIdentifier = true;
    entry.vendorIdentifier = UnitVendorId;
    entry.productIdentifier = UnitProductId;
    return entry;
}

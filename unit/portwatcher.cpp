// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/portwatcher.h"

#include "unit/portlist.h"
#include "unit/portlock.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

PortWatcher::PortWatcher(QSerialPort *port, QObject *parent) : QObject(parent), port(port)
{
    connect(port, &QSerialPort::errorOccurred, this, &PortWatcher::portError);
    connect(port, &QIODevice::readyRead, this, &PortWatcher::dataArrived);
    ticker.setInterval(SearchIntervalMs);
    connect(&ticker, &QTimer::timeout, this, &PortWatcher::tick);
    settleTimer.setSingleShot(true);
    connect(&settleTimer, &QTimer::timeout, this, &PortWatcher::settled);
}

PortWatcher::~PortWatcher()
{
    // The port may outlive us by a moment; it must not call into a watcher that is gone.
    disconnect(port, nullptr, this, nullptr);
}

bool PortWatcher::openAtStartup(const QString &portName)
{
    ticker.start();
    if (openPort(portName)) {
        current = State::Ready;
        sinceData.start();
        emit unitReady(unitName, -1);
        return true;
    }
    current = State::Searching;
    emit openFailed(portName, reason);
    return false;
}

void PortWatcher::startSearching()
{
    ticker.start();
    current = State::Searching;
    emit searching();
}

bool PortWatcher::openPort(const QString &portName)
{
    if (port->isOpen())
        port->close();
    unitName = portName;
    port->setPortName(portName);
    if (!port->open(QIODevice::ReadWrite)) {
        // Taken now: any later call on the unopened port would replace it with "not open". A
        // port another program holds is reported as a permission error: say who holds it.
        reason = port->errorString();
        if (port->error() == QSerialPort::PermissionError) {
            const QString holder = portHolder(portName);
            if (!holder.isEmpty())
                reason = holder;
        }
        ++failedOpens;
        return false;
    }
    // Open first, then set up the line, so every setting acts on the open port. Dropping and
    // raising DTR restarts the unit.
    port->setDataTerminalReady(false);
    port->setDataTerminalReady(true);
    port->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    return true;
}

bool PortWatcher::send(const QByteArray &bytes)
{
    if (!port->isOpen())
        return false;
    sent += bytes;
    // A settling unit gets them with the replay, after what was sent before.
    if (current == State::Ready && !bytes.isEmpty())
        port->write(bytes);
    return true;
}

void PortWatcher::setSilenceWatched(bool watched)
{
    silenceWatched = watched;
    silenceReported = false;
    sinceData.start();
}

void PortWatcher::portError(QSerialPort::SerialPortError error)
{
    // Each of these ends reading for good. A hung-up line reads as end-of-file, which the port
    // reports as a read error (and then keeps asking to be read: it must be closed at once)
    // or, depending on what the system said last, as a resource error; older systems give EIO,
    // a resource error.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (current != State::Ready && current != State::Settling)
        return; // already dealt with, or from closing the dead port
    // At end-of-file the port's text is whatever the system said last, so a hung-up line is
    // named as such.
    lose(lineHungUp() ? hungUpReason() : port->errorString());
}

QString PortWatcher::hungUpReason()
{
    return tr("the line was hung up");
}

void PortWatcher::lose(const QString &why)
{
    current = State::Searching;
    reason = why;
    settleTimer.stop();
    if (!away.isValid())
        away.start();
    silenceReported = false;
    // Closing stops the port's read notifications; the error it may report on the dead line
    // is ignored above.
    if (port->isOpen())
        port->close();
    port->clearError();
    emit unitLost(reason);
}

void PortWatcher::tick()
{
    switch (current) {
    case State::Searching:
        searchOnce();
        break;
    case State::Ready:
        // In case the port said nothing: a line the far end has hung up.
        if (lineHungUp()) {
            lose(hungUpReason());
            break;
        }
        if (silenceWatched && sinceData.elapsed() >= SilenceLimitMs) {
            silenceReported = true;
            emit unitSilent(int(sinceData.elapsed() / 1000));
        }
        break;
    case State::Idle:
    case State::Settling:
        break;
    }
}

void PortWatcher::searchOnce()
{
    const QString portName = findUnitPortName(availablePorts());
    if (portName.isEmpty())
        return;
    if (!openPort(portName)) {
        emit openFailed(portName, reason);
        return;
    }
    current = State::Settling;
    settleTimer.start(settleMs);
    emit unitOpened(portName);
}

void PortWatcher::settled()
{
    if (current != State::Settling)
        return;
    current = State::Ready;
    failedOpens = 0;
    // Whatever the unit said while starting is not data.
    port->clear(QSerialPort::Input);
    if (current == State::Ready && !sent.isEmpty())
        port->write(sent);
    if (current != State::Ready)
        return; // gone again meanwhile, and reported
    sinceData.start();
    const qint64 awayMs = away.isValid() ? away.elapsed() : -1;
    away.invalidate();
    emit unitReady(unitName, awayMs);
}

void PortWatcher::dataArrived()
{
    sinceData.start();
    if (silenceReported) {
        silenceReported = false;
        emit unitSending();
    }
}

bool PortWatcher::lineHungUp() const
{
#ifdef Q_OS_UNIX
    const int fd = int(port->handle());
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return false;
#endif
}

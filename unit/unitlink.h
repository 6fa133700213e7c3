// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "unit/portwatcher.h"

#include <QByteArray>
#include <QList>

class QSerialPort;

// The measuring unit's link for a run: the watcher that keeps the unit's port open and configured,
// and the configuration sent to the unit. Whoever owns the port owns its link beside it (the
// control panel, declared after the port so that the link goes first); a window that borrows the
// port finds the link through it (of()).
class UnitLink
{
public:
    explicit UnitLink(QSerialPort *port);
    ~UnitLink();
    UnitLink(const UnitLink &) = delete;
    UnitLink &operator=(const UnitLink &) = delete;

    // The link of port, or null when it has none.
    static UnitLink *of(const QSerialPort *port);

    PortWatcher *watcher() { return &portWatcher; }

    // Sends the sensor count (1 to 4) as its digit. Through the watcher, which sends it again to a
    // reconnected unit; false when the port is not open.
    bool sendSensorCount(int count);
    // Sends the sensitivity text of sensor (1 to 4), through the watcher, and keeps it as sent
    // (an empty text as empty, not as "not sent").
    void sendSensitivity(int sensor, const QByteArray &text);
    // The sensitivity text last sent for sensors 1 to 4; null where none was sent.
    QList<QByteArray> sentSensitivities() const { return sensitivities; }

private:
    const QSerialPort *port;
    PortWatcher portWatcher;
    QList<QByteArray> sensitivities{QByteArray(), QByteArray(), QByteArray(), QByteArray()};
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <functional>

// What the control panel needs to know of one serial port of the computer.
struct PortEntry
{
    QString portName; // given to QSerialPort::setPortName (a name such as ttyACM0, or a full path)
    QString description;
    bool hasVendorIdentifier = false;
    quint16 vendorIdentifier = 0;
    bool hasProductIdentifier = false;
    quint16 productIdentifier = 0;
};

using PortListSource = std::function<QList<PortEntry>()>;

// The measuring unit's USB identifiers.
constexpr quint16 UnitVendorId = 9025; // 0x2341
constexpr quint16 UnitProductId = 88;  // 0x0058

// The computer's serial ports as QSerialPortInfo lists them.
QList<PortEntry> systemSerialPorts();

// Where the control panel takes its port list from. The default is systemSerialPorts();
// the demo and the tests put a list of their own in place (an empty function restores the default).
void setPortListSource(PortListSource source);
QList<PortEntry> availablePorts();

// Writes the port census to the debug output, one message per line item group.
void writePortCensus(const QList<PortEntry> &ports);

// True when the port carries the unit's product and vendor identifiers.
bool isMeasuringUnit(const PortEntry &port);

// The name of the port to open: the last port in the list that is the measuring unit, or an
// empty string when none is.
QString findUnitPortName(const QList<PortEntry> &ports);

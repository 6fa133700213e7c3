// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/portlist.h"

#include <QDebug>
#include <QSerialPortInfo>

namespace {
PortListSource &currentSource()
{
    static PortListSource source;
    return source;
}
} // namespace

QList<PortEntry> systemSerialPorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        PortEntry e;
        e.portName = info.portName();
        e.description = info.description();
        e.hasVendorIdentifier = info.hasVendorIdentifier();
        e.vendorIdentifier = info.vendorIdentifier();
        e.hasProductIdentifier = info.hasProductIdentifier();
        e.productIdentifier = info.productIdentifier();
        ports.append(e);
    }
    return ports;
}

void setPortListSource(PortListSource source)
{
    currentSource() = std::move(source);
}

QList<PortEntry> availablePorts()
{
    const PortListSource &source = currentSource();
    return source ? source() : systemSerialPorts();
}

void writePortCensus(const QList<PortEntry> &ports)
{
    qDebug() << "number of ports: " << ports.size() << "\n";
    for (const PortEntry &port : ports) {
        qDebug() << "description: " << port.description << "\n";
        qDebug() << "has vendor ID?: " << port.hasVendorIdentifier << "\n";
        qDebug() << "vendor ID: " << port.vendorIdentifier << "\n";
        qDebug() << "has product ID?: " << port.hasProductIdentifier << "\n";
        qDebug() << "Product ID????: " << port.productIdentifier << "\n";
    }
}

bool isMeasuringUnit(const PortEntry &port)
{
    // Tested in this order; the first that fails decides.
    return port.hasProductIdentifier && port.hasVendorIdentifier && port.productIdentifier == UnitProductId &&
           port.vendorIdentifier == UnitVendorId;
}

QString findUnitPortName(const QList<PortEntry> &ports)
{
    // Every port is visited; a later match replaces an earlier one.
    QString name;
    for (const PortEntry &port : ports) {
        if (isMeasuringUnit(port))
            name = port.portName;
    }
    return name;
}

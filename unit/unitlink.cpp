// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/unitlink.h"

#include <QHash>

namespace {

// The links of the ports that have one (all on the GUI thread).
QHash<const QSerialPort *, UnitLink *> &links()
{
    static QHash<const QSerialPort *, UnitLink *> all;
    return all;
}

} // namespace

UnitLink::UnitLink(QSerialPort *port) : port(port), portWatcher(port)
{
    links().insert(port, this);
}

UnitLink::~UnitLink()
{
    if (links().value(port) == this)
        links().remove(port);
}

UnitLink *UnitLink::of(const QSerialPort *port)
{
    return links().value(port);
}

bool UnitLink::sendSensorCount(int count)
{
    return portWatcher.send(QByteArray(1, char('0' + count)));
}

void UnitLink::sendSensitivity(int sensor, const QByteArray &text)
{
    portWatcher.send(text);
    if (sensor >= 1 && sensor <= sensitivities.size())
        sensitivities[sensor - 1] = text.isNull() ? QByteArray("") : text;
}

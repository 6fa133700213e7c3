// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Who holds a serial port, in plain words, when its lock file says: "held by another program
// (lock /var/lock/LCK..ttyACM0, process 4242 quellspan)". Empty when there is no such lock.
// Programs that share a serial port on this system take such a lock before they open it (the
// serial port module does, and reports a taken one only as a permission error).
QString portHolder(const QString &portName);

// Where the serial port module keeps the lock file of portName (a name such as ttyACM0, or a
// full path), or empty when it has nowhere to keep one.
QString portLockFilePath(const QString &portName);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair whose slave side stands in for a serial device. The holder of this
// object plays the far end of the line through the master side; the program opens slavePath()
// with QSerialPort like any device. The slave is kept open here as well so that the line stays
// up while the program closes and reopens it; closeMaster() is how the "unit" goes away.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isOpen() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    int masterDescriptor() const { return masterFd; }
    QString errorString() const { return error; }

    // Writes all of data to the master side (blocking briefly if the line is full).
    bool write(const QByteArray &data);
    // Writes what the line takes now without waiting: the number of bytes written (0 when the line
    // is full), or -1 on an error such as a closed master side.
    qint64 writeSome(const char *data, qint64 size);
    // Returns what the far end has sent so far, waiting up to timeoutMs for the first byte.
    QByteArray read(int timeoutMs = 0);
    // Reads until at least count bytes have arrived or timeoutMs has passed.
    QByteArray readExactly(int count, int timeoutMs);
    // Hangs up the unit's side: afterwards the program's reads fail as on an unplugged device.
    void closeMaster();
    // Lets go of this object's own hold on the slave side.
    void closeSlave();

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString path;
    QString error;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/linereceiver.h"

#include "simunit/pseudoterminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
// How long to go on listening after the expected bytes.
constexpr int GraceMs = 100;
} // namespace

QByteArray receiveOnLine(PseudoTerminal &pty, int expected, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < expected && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        got += pty.read(5);
    }
    QElapsedTimer grace;
    grace.start();
    while (grace.elapsed() < GraceMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        got += pty.read(5);
    }
    return got;
}

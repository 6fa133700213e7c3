// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

class PseudoTerminal;

// What the far end of a line receives from the program: runs the event loop (the port sends from
// it) until at least `expected` bytes have come or the time is up, then for a short while longer
// so that anything sent beyond them shows too.
QByteArray receiveOnLine(PseudoTerminal &pty, int expected, int timeoutMs = 5000);

// SPDX-License-Identifier: GPL-3.0-or-later
#include "simunit/pseudoterminal.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        masterFd = slaveFd = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    // Raw line on both sides: no echo, no line editing, no CR/LF translation.
    termios tio{};
    if (tcgetattr(slaveFd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slaveFd, TCSANOW, &tio);
    }
    if (tcgetattr(masterFd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(masterFd, TCSANOW, &tio);
    }
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    closeSlave();
}

bool PseudoTerminal::write(const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    QElapsedTimer waited;
    waited.start();
    while (left > 0) {
        const qint64 n = writeSome(p, left);
        if (n < 0)
            return false;
        if (n == 0) {
            if (waited.elapsed() >= 5000) {
                error = QStringLiteral("the line stayed full");
                return false;
            }
            pollfd pfd{masterFd, POLLOUT, 0};
            ::poll(&pfd, 1, 50);
            continue;
        }
        p += n;
        left -= n;
    }
    return true;
}

qint64 PseudoTerminal::writeSome(const char *data, qint64 size)
{
    if (masterFd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::write(masterFd, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
}

QByteArray PseudoTerminal::read(int timeoutMs)
{
    QByteArray out;
    if (masterFd < 0)
        return out;
    pollfd pfd{masterFd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0)
        return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return out;
}

QByteArray PseudoTerminal::readExactly(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (out.size() < count) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        out += read(int(left));
    }
    return out;
}

void PseudoTerminal::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}

void PseudoTerminal::closeSlave()
{
    if (slaveFd >= 0)
        ::close(slaveFd);
    slaveFd = -1;
}

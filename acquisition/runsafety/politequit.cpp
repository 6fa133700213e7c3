// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/politequit.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
const int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};
bool handledHere[3] = {false, false, false}; // which of them this handler took over
int signalSockets[2] = {-1, -1};             // [0] written by the handler, [1] read by the notifier

void onSignal(int signo)
{
    // Only what is safe in a signal handler: one write, errno left as it was.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signo);
    const ssize_t written = ::write(signalSockets[0], &number, 1);
    static_cast<void>(written);
    errno = savedErrno;
}

void restoreDefaults()
{
    for (int i = 0; i < 3; ++i) {
        if (handledHere[i])
            std::signal(handledSignals[i], SIG_DFL);
    }
}
#endif

QString signalName(int signo)
{
#ifdef Q_OS_UNIX
    switch (signo) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        break;
    }
#endif
    return QStringLiteral("signal %1").arg(signo);
}

} // namespace

PoliteQuit *PoliteQuit::instance()
{
    static PoliteQuit *const one = new PoliteQuit; // lives as long as the process
    return one;
}

bool PoliteQuit::install()
{
#ifdef Q_OS_UNIX
    if (notifier)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return false;
    // A handler must never block on a full socket: a signal that finds it full is one of many.
    const int flags = ::fcntl(signalSockets[0], F_GETFL);
    ::fcntl(signalSockets[0], F_SETFL, flags | O_NONBLOCK);
    notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PoliteQuit::readSignals);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on; and the first signal of a kind puts its default back
    // at once, so that a second of the same kind ends the program even before it is read here.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int i = 0; i < 3; ++i) {
        // One the program was started to ignore (nohup, a background job) stays ignored.
        struct sigaction before = {};
        if (::sigaction(handledSignals[i], nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        handledHere[i] = ::sigaction(handledSignals[i], &action, nullptr) == 0;
    }
    return true;
#else
    return false;
#endif
}

void PoliteQuit::readSignals()
{
#ifdef Q_OS_UNIX
    unsigned char numbers[16];
    const ssize_t count = ::read(signalSockets[1], numbers, sizeof numbers);
    if (count <= 0)
        return;
    // A second request while the first is dealt with (or two at once): end now.
    if (!why.isEmpty() || count > 1)
        ::_exit(128 + numbers[count - 1]);
    // From here on any of them ends the program at once, as they would without us.
    restoreDefaults();
    request(numbers[0]);
#endif
}

void PoliteQuit::request(int signo)
{
    if (!why.isEmpty())
        return;
    why = signalName(signo);
    qInfo("%s: asked to quit (%s); closing the run normally.",
          qPrintable(QCoreApplication::applicationName()), qPrintable(why));
    emit requested(why);
    // Ends every event loop running now (a dialog's too); and the program's main loop also when
    // it was not running yet (a box shown during start-up).
    const int code = 128 + signo;
    QCoreApplication::exit(code);
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

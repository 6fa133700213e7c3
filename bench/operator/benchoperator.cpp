// SPDX-License-Identifier: GPL-3.0-or-later
// An operator for the shipped programs, loaded into them with LD_PRELOAD by the benchmark, so that
// the benchmark can run `quellspan` and `quellspan-demo` exactly as built, on a pseudo-terminal
// unit written by the benchmark's own process:
// - QUELLSPAN_BENCH_UNIT=path: the computer's serial ports are that one, carrying the unit's USB
//   identifiers (for `quellspan`, which looks for the unit among the real ports);
// - QUELLSPAN_BENCH_SENSORS=n: once the control panel is up, it does what the operator does
//   (sends the sensor count, opens the acquisition window, ticks every sensor, starts) and then
//   nothing more;
// - QUELLSPAN_BENCH_REPORT=file: where it writes the acquisition window's X window id when it
//   has started acquiring;
// - QUELLSPAN_BENCH_EVENTS=1: it counts the program's events (bench::EventCounts), and at each
//   SIGUSR1 writes what it counted since the last one to the report and starts again.
#include "bench/support/eventcounts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString unitPath()
{
    return qEnvironmentVariable("QUELLSPAN_BENCH_UNIT");
}

template <class T> T *child(QObject *parent, const QString &name)
{
    return parent ? parent->findChild<T *>(name) : nullptr;
}

void report(const QByteArray &line)
{
    QFile out(qEnvironmentVariable("QUELLSPAN_BENCH_REPORT"));
    if (out.open(QIODevice::WriteOnly | QIODevice::Append))
        out.write(line + '\n');
}

// Looks for the control panel every 100 ms until it has started acquiring.
void operate()
{
    const int sensors = qEnvironmentVariableIntValue("QUELLSPAN_BENCH_SENSORS");
    if (sensors < 1 || sensors > 4)
        return;
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, sensors] {
        QWidget *panel = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->inherits("MainWindow") && w->isVisible())
                panel = w;
        }
        auto *count = child<QSpinBox>(panel, QStringLiteral("sensNumSpin"));
        auto *send = child<QAbstractButton>(panel, QStringLiteral("sensNumBtn"));
        auto *open = child<QAbstractButton>(panel, QStringLiteral("plotWindowBtn"));
        if (!count || !send || !open)
            return;
        timer->stop();
        timer->deleteLater();
        count->setValue(sensors);
        send->click();
        open->click();
        QMainWindow *window = nullptr;
        for (QMainWindow *w : panel->findChildren<QMainWindow *>()) {
            if (w->inherits("Window2"))
                window = w;
        }
        if (!window) {
            report("failed: no acquisition window");
            return;
        }
        for (int s = 1; s <= sensors; ++s) {
            auto *box = child<QCheckBox>(window, QStringLiteral("toggle%1").arg(s));
            if (box && !box->isChecked())
                box->click();
        }
        if (auto *start = child<QAbstractButton>(window, QStringLiteral("startData")))
            start->click();
        report("acquiring " + QByteArray::number(quint64(window->winId())));
    });
    timer->start(100);
}

// Counting events: SIGUSR1 writes a byte to a socket, whose notifier reports on the event loop.
int signalSockets[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalSockets[0], &byte, 1);
}

void countEvents()
{
    if (qEnvironmentVariableIntValue("QUELLSPAN_BENCH_EVENTS") != 1 ||
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0)
        return;
    auto *counts = new bench::EventCounts;
    counts->setParent(qApp);
    counts->install();
    auto *since = new QElapsedTimer;
    since->start();
    auto *notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [counts, since] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalSockets[1], &byte, 1);
        const double seconds = double(since->restart()) / 1000;
        report("events over " + QByteArray::number(seconds, 'f', 3) + " s\n" +
               counts->report(seconds, 40).toLatin1() + "end of events");
        counts->reset();
    });
    std::signal(SIGUSR1, onSignal);
}

void start()
{
    operate();
    countEvents();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(start)

// The port list: the unit alone, when a path is given. These take the place of Qt's own for the
// program (an LD_PRELOAD library comes first); with no path they answer as a port that isn't there.
QList<QSerialPortInfo> QSerialPortInfo::availablePorts()
{
    return unitPath().isEmpty() ? QList<QSerialPortInfo>() : QList<QSerialPortInfo>{QSerialPortInfo()};
}

QString QSerialPortInfo::portName() const
{
    return unitPath();
}

QString QSerialPortInfo::description() const
{
    return QStringLiteral("benchmark unit");
}

bool QSerialPortInfo::hasVendorIdentifier() const
{
    return !unitPath().isEmpty();
}

quint16 QSerialPortInfo::vendorIdentifier() const
{
    return 9025;
}

bool QSerialPortInfo::hasProductIdentifier() const
{
    return !unitPath().isEmpty();
}

quint16 QSerialPortInfo::productIdentifier() const
{
    return 88;
}

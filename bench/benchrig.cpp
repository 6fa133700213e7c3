// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchrig.h"

#include "acquisition/runsafety/liverecorder.h"
#include "acquisition/window2.h"
#include "charts/chartfeeder.h"
#include "control_panel/mainwindow.h"
#include "simunit/simulatedunit.h"
#include "unit/portlist.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace bench {

QByteArray LineMaker::next()
{
    QByteArray line;
    ++index;
    for (int s = 0; s < sensors; ++s) {
        const double q = 40 * std::sin(double(index) / 3000.0 + s) + noise(gen) * 5;
        // The last sensor heats up as in a heating experiment: fast at first, then ever slower,
        // setting new highest values all the time (9 degrees in the first minute at 16 lines/s,
        // 42 by 1e5 records, 61 by 1e6).
        const double ramp = s + 1 == sensors ? 8 * std::log1p(double(index) / 500.0) : 0;
        const double t = 22 + s + ramp + std::sin(double(index) / 9000.0) + noise(gen) * 0.2;
        line += QByteArray::number(q, 'f', 2) + ',' + QByteArray::number(t, 'f', 2);
        line += s + 1 < sensors ? "," : "\r\n";
    }
    return line;
}

// The plain reader's thread: an event loop, a socket notifier, a read and a clock reading.
struct PlainReader::Worker : QThread
{
    int fd = -1;
    std::atomic<double> *usedCpu = nullptr;
    mutable QMutex mutex;
    std::vector<Clock::time_point> ends;

    void run() override
    {
        QSocketNotifier notifier(fd, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                const Clock::time_point now = Clock::now();
                QMutexLocker lock(&mutex);
                for (ssize_t i = 0; i < n; ++i) {
                    if (buffer[i] == '\n')
                        ends.push_back(now);
                }
            }
            *usedCpu = threadCpuSeconds();
        });
        exec();
    }
};

PlainReader::PlainReader() : worker(std::make_unique<Worker>())
{
    worker->fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    worker->usedCpu = &usedCpu;
    worker->setObjectName(QStringLiteral("plain reader"));
    if (worker->fd >= 0)
        worker->start();
}

PlainReader::~PlainReader()
{
    worker->quit();
    worker->wait();
    if (worker->fd >= 0)
        ::close(worker->fd);
}

void PlainReader::restart(qint64 count)
{
    QMutexLocker lock(&worker->mutex);
    worker->ends.clear();
    worker->ends.reserve(size_t(count + 16));
}

std::vector<Clock::time_point> PlainReader::lineEnds() const
{
    QMutexLocker lock(&worker->mutex);
    return worker->ends;
}

Writer::Writer(int fd, LineMaker *maker, double linesPerSecond, qint64 count,
               std::vector<Clock::time_point> *times, int every, int copyTo)
    : fd(fd), copyTo(copyTo), maker(maker), rate(linesPerSecond), count(count), times(times), every(every)
{
    thread = std::thread([this] { run(); });
}

void Writer::stop()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
}

void Writer::run()
{
    auto writeAll = [this](int to, const QByteArray &line) {
        const char *p = line.constData();
        size_t left = size_t(line.size());
        while (left > 0 && !stopping) {
            const ssize_t n = ::write(to, p, left);
            if (n > 0) {
                p += n;
                left -= size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd pfd{to, POLLOUT, 0};
                ::poll(&pfd, 1, 5);
            } else if (n < 0 && errno != EINTR) {
                return false;
            }
        }
        return true;
    };
    pthread_setname_np(pthread_self(), "bench unit"); // told apart from the program's threads in perf
    const Clock::time_point start = Clock::now();
    for (qint64 i = 0; i < count && !stopping; ++i) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(qint64(double(i) * 1e9 / rate)));
        const QByteArray line = maker->next();
        if (times && i % every == 0)
            times->push_back(Clock::now());
        if (!writeAll(fd, line) || (copyTo >= 0 && !writeAll(copyTo, line)))
            break;
        done = i + 1;
    }
    usedCpu = threadCpuSeconds();
}

std::unique_ptr<XServer> XServer::start(QString *why)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        *why = QStringLiteral("no pipe");
        return nullptr;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const QByteArray fd = QByteArray::number(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1280x1024x24", "-nolisten",
                 "tcp", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        *why = QStringLiteral("could not start Xvfb");
        return nullptr;
    }
    auto server = std::unique_ptr<XServer>(new XServer);
    server->pid = pid;
    // Xvfb writes its display number when it is ready for clients.
    QByteArray number;
    pollfd pfd{fds[0], POLLIN, 0};
    while (!number.endsWith('\n') && ::poll(&pfd, 1, 10000) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    ::close(fds[0]);
    if (!number.endsWith('\n')) {
        *why = QStringLiteral("Xvfb did not start (is it installed?)");
        return nullptr;
    }
    server->name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    qputenv("DISPLAY", server->name.toLatin1());
    return server;
}

XServer::~XServer()
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

double XServer::cpuSeconds() const
{
    return pid > 0 ? processCpuSeconds(pid) : 0;
}

void setMapped(const XServer &x, quint32 window, bool mapped)
{
    xcb_connection_t *c = xcb_connect(qPrintable(x.display()), nullptr);
    if (!xcb_connection_has_error(c)) {
        if (mapped)
            xcb_map_window(c, window);
        else
            xcb_unmap_window(c, window);
        xcb_flush(c);
    }
    xcb_disconnect(c);
}

bool isMapped(const XServer &x, quint32 window)
{
    bool mapped = false;
    xcb_connection_t *c = xcb_connect(qPrintable(x.display()), nullptr);
    if (!xcb_connection_has_error(c)) {
        xcb_get_window_attributes_reply_t *attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
        mapped = attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
        std::free(attributes);
    }
    xcb_disconnect(c);
    return mapped;
}

Bench::Bench(int sensors, const XServer *xServer) : maker(sensors), sensorCount(sensors), x(xServer)
{
    const QString path = pty.slavePath();
    setPortListSource(
        [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("bench unit"))}; });
    panel = new MainWindow;
    panel->findChild<QSpinBox *>(QStringLiteral("sensNumSpin"))->setValue(sensors);
    panel->findChild<QPushButton *>(QStringLiteral("sensNumBtn"))->click();
    panel->show();
    panel->findChild<QPushButton *>(QStringLiteral("plotWindowBtn"))->click();
    window = panel->findChild<Window2 *>();
    for (int s = 1; s <= sensors; ++s)
        window->findChild<QCheckBox *>(QStringLiteral("toggle%1").arg(s))->click();
    window->findChild<QPushButton *>(QStringLiteral("startData"))->click();
    pty.read(100);
    settle(500); // the window is shown and exposed
    // One record starts the clock; Reset empties the series and restarts the clock now, which
    // gives the moment that time stamps count from.
    pty.write(maker.next());
    while (records() == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    resetRun();
}

Bench::~Bench()
{
    delete panel;
}

int Bench::records() const
{
    return window->recordedTimes().size();
}

bool Bench::recording() const
{
    return window->liveRecorder()->holdsWholeRun();
}

quint64 Bench::syncs() const
{
    return window->liveRecorder()->syncCount();
}

ChartFeeder *Bench::feeder() const
{
    return window->chartFeeder();
}

void Bench::resetRun()
{
    origin = Clock::now();
    window->findChild<QPushButton *>(QStringLiteral("resetData"))->click();
    QCoreApplication::processEvents();
}

std::vector<double> Bench::lateness(int first, const std::vector<Clock::time_point> &written, int every) const
{
    const QVector<double> &stamps = window->recordedTimes();
    std::vector<double> late;
    for (size_t j = 0; j < written.size() && first + int(j) * every < stamps.size(); ++j) {
        const double writtenAt = std::chrono::duration<double>(written[j] - origin).count();
        late.push_back((stamps[first + int(j) * every] - writtenAt) * 1e3);
    }
    std::sort(late.begin(), late.end());
    return late;
}

std::vector<double> Bench::plainLateness(const std::vector<Clock::time_point> &written,
                                         const std::vector<Clock::time_point> &seen) const
{
    std::vector<double> late;
    for (size_t j = 0; j < written.size() && j < seen.size(); ++j) {
        // In whole milliseconds since the run's start, as the program's clock stamps.
        const double seenMs = std::floor(std::chrono::duration<double, std::milli>(seen[j] - origin).count());
        late.push_back(seenMs - std::chrono::duration<double, std::milli>(written[j] - origin).count());
    }
    std::sort(late.begin(), late.end());
    return late;
}

double Bench::load(qint64 count, double linesPerSecond, double *latestStampMs)
{
    QElapsedTimer wall;
    wall.start();
    const int first = records();
    const int target = first + int(count);
    constexpr int Every = 64;
    std::vector<Clock::time_point> written;
    written.reserve(size_t(count / Every + 1));
    {
        Writer writer(pty.masterDescriptor(), &maker, linesPerSecond, count, &written, Every);
        while (records() < target)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const double secs = double(wall.nsecsElapsed()) / 1e9;
    const std::vector<double> late = lateness(first, written, Every);
    if (latestStampMs)
        *latestStampMs = late.empty() ? 0 : late.back();
    return secs;
}

double Bench::perRecordMicros(int samples)
{
    std::vector<double> costs;
    for (int i = 0; i < samples; ++i) {
        const QByteArray line = maker.next();
        const int before = records();
        const double drawBefore = feeder()->totalRedrawMs();
        const double cpu0 = threadCpuSeconds();
        pty.write(line);
        while (records() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        costs.push_back((threadCpuSeconds() - cpu0) * 1e6 - (feeder()->totalRedrawMs() - drawBefore) * 1e3);
    }
    return median(costs);
}

void Bench::settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

LineRateFigures Bench::atLineRate(double seconds, double linesPerSecond)
{
    LineRateFigures f;
    f.loadBefore = loadAverage();
    const int first = records();
    const qint64 lines = qint64(seconds * linesPerSecond);
    std::vector<Clock::time_point> written;
    written.reserve(size_t(lines));
    plain.restart(lines);
    const double cpu0 = processCpuSeconds();
    const double plainCpu0 = plain.cpuSeconds();
    const double x0 = x ? x->cpuSeconds() : 0;
    const double draw0 = feeder()->totalRedrawMs();
    const quint64 redraws0 = feeder()->redrawCount();
    double unitCpu = 0;
    QElapsedTimer wall;
    wall.start();
    {
        // The event loop runs as in the program; a timer looks for the end now and then.
        Writer writer(pty.masterDescriptor(), &maker, linesPerSecond, lines, &written, 1,
                      plain.writeDescriptor());
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if ((writer.finished() && records() >= first + int(lines)) ||
                wall.elapsed() > qint64(seconds * 1000) + 5000)
                loop.quit();
        });
        check.start(100);
        loop.exec();
        writer.stop();
        unitCpu = writer.cpuSeconds();
    }
    f.seconds = double(wall.nsecsElapsed()) / 1e9;
    // The writer thread stands for the unit and the plain reader for another program: their CPU
    // is not the program's.
    f.cpuShare = (processCpuSeconds() - cpu0 - unitCpu - (plain.cpuSeconds() - plainCpu0)) / f.seconds;
    f.xShare = x ? (x->cpuSeconds() - x0) / f.seconds : 0;
    f.drawShare = (feeder()->totalRedrawMs() - draw0) / 1e3 / f.seconds;
    f.redraws = feeder()->redrawCount() - redraws0;
    f.redrawsPerSecond = double(f.redraws) / f.seconds;
    f.records = records() - first;

    const std::vector<double> late = lateness(first, written, 1);
    f.stamps = spreadOf(late);
    if (!late.empty()) {
        f.latestStampMs = late.back();
        f.p99StampMs = quantile(late, 0.99);
        double sum = 0;
        for (double l : late)
            sum += l;
        f.meanStampMs = sum / double(late.size());
    }
    Bench::settle(50); // the last copies reach the plain reader
    const std::vector<double> plainLate = plainLateness(written, plain.lineEnds());
    f.plainLatestMs = plainLate.empty() ? 0 : plainLate.back();
    f.plainP99Ms = quantile(plainLate, 0.99);
    f.plainStamps = spreadOf(plainLate);
    f.loadAfter = loadAverage();
    return f;
}

StampSpread spreadOf(std::vector<double> lateness)
{
    StampSpread s;
    if (lateness.empty())
        return s;
    std::sort(lateness.begin(), lateness.end());
    const double first = quantile(lateness, 0.01);
    s.spread = quantile(lateness, 0.99) - first;
    s.worst = lateness.back() - first;
    s.count = int(lateness.size());
    return s;
}

void printLineRate(const char *label, const LineRateFigures &f, double linesPerSecond)
{
    std::printf(
        "  %s, %.0f lines/s for %.0f s: whole program %.1f %% of a core, drawing %.1f %%, X server "
        "%.1f %%; %.1f redraws/s; time stamps late by %.2f ms at 99 %% (plain reader %.2f ms; "
        "beyond it %.2f ms), %.2f ms at most (plain reader %.2f ms), mean %.2f ms, over %d records; "
        "p1-p99 spread %.2f ms, worst %.2f ms beyond p1 (plain reader %.2f and %.2f ms) [load %s .. %s]\n",
        label, linesPerSecond, f.seconds, f.cpuShare * 100, f.drawShare * 100, f.xShare * 100,
        f.redrawsPerSecond, f.p99StampMs, f.plainP99Ms, f.p99StampMs - f.plainP99Ms, f.latestStampMs,
        f.plainLatestMs, f.meanStampMs, f.records, f.stamps.spread, f.stamps.worst, f.plainStamps.spread,
        f.plainStamps.worst, qPrintable(f.loadBefore), qPrintable(f.loadAfter));
    std::fflush(stdout);
}

} // namespace bench

// SPDX-License-Identifier: GPL-3.0-or-later
// The programs as a user runs them: the shipped `quellspan-demo` (with --port) and `quellspan`,
// each a process of its own with its windows on the benchmark's X server, the unit a
// pseudo-terminal written by the benchmark's process at a steady rate, and the operator's clicks
// made by a library loaded into them (bench/operator). Their whole process's CPU is read from
// /proc, with the X server's, beside the rig's figure for the same phase in the same run: the
// start of a run, the unit at 96 lines/s after 1e5 records, and then the window unmapped (as
// when minimised). The time stamps come from the live recording each program writes.
#include "acquisition/window2.h"
#include "bench/scenarios.h"
#include "charts/chartfeeder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace bench {
namespace {

// What one phase measured of one program.
struct PhaseFigures
{
    bool measured = false;
    QString why; // when not
    double cpuShare = 0, xShare = 0;
    StampSpread stamps, plainStamps;
    QString events;
    QString note; // why the figures may not be the phase's (the window mapped when it should not be)
};

// A shipped program started as a user starts it, with the benchmark's operator loaded into it:
// it configures the sensors, opens the acquisition window, ticks every sensor and starts.
class ShippedProgram
{
public:
    ShippedProgram(const QString &executable, QStringList arguments, const QString &unitPath, int sensors,
                   const XServer &x, bool countEvents)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), x.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false;qt.qpa.*=false"));
        // A home of its own: the remembered settings and recordings stay in the benchmark's folder.
        env.insert(QStringLiteral("HOME"), folder.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("home/.config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), folder.filePath(QStringLiteral("home/.local/share")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QUELLSPAN_BENCH_OPERATOR));
        env.insert(QStringLiteral("QUELLSPAN_BENCH_UNIT"), unitPath);
        env.insert(QStringLiteral("QUELLSPAN_BENCH_SENSORS"), QString::number(sensors));
        env.insert(QStringLiteral("QUELLSPAN_BENCH_REPORT"), reportPath());
        env.insert(QStringLiteral("QUELLSPAN_BENCH_EVENTS"), countEvents ? QStringLiteral("1") : QString());
        for (const char *sub : {"home/.config", "home/.local/share", "runtime", "recordings"})
            QDir(folder.path()).mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(folder.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        arguments << QStringLiteral("--recordings") << folder.filePath(QStringLiteral("recordings"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(executable, arguments);
    }
    ~ShippedProgram()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    pid_t pid() const { return pid_t(process.processId()); }
    quint32 window() const { return windowId; }
    double cpuSeconds() const { return processCpuSeconds(pid()); }

    // Waits until the operator has started acquiring; false (and why) if it doesn't.
    bool waitUntilAcquiring(QString *why)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 30000 && process.state() != QProcess::NotRunning) {
            const QByteArray report = readReport();
            const int at = report.indexOf("acquiring ");
            if (at >= 0) {
                windowId = report.mid(at + 10).split('\n').value(0).toUInt();
                return true;
            }
            if (report.contains("failed")) {
                *why = QString::fromLatin1(report.trimmed());
                return false;
            }
            QThread::msleep(50);
        }
        *why = process.state() == QProcess::NotRunning ? QStringLiteral("the program ended")
                                                       : QStringLiteral("it did not start acquiring");
        return false;
    }

    // What the program's events were since the last call (only when counting them: SIGUSR1 would
    // end a program that isn't).
    QString takeEvents()
    {
        const int before = readReport().count("end of events");
        ::kill(pid(), SIGUSR1);
        QElapsedTimer waited;
        waited.start();
        QByteArray report;
        while (waited.elapsed() < 5000 && (report = readReport()).count("end of events") == before)
            QThread::msleep(20);
        const int end = report.lastIndexOf("end of events");
        const int start = report.lastIndexOf("events over", end);
        return end > start && start >= 0 ? QString::fromLatin1(report.mid(start, end - start)) : QString();
    }

    // Asks the program to quit as the system does (its run is closed normally); then the times
    // its live recording holds, in seconds.
    std::vector<double> quitAndReadStamps()
    {
        ::kill(pid(), SIGTERM);
        process.waitForFinished(30000);
        std::vector<double> stamps;
        const QDir recordings(folder.filePath(QStringLiteral("recordings")));
        for (const QString &name : recordings.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Time)) {
            QFile csv(recordings.filePath(name));
            if (!csv.open(QIODevice::ReadOnly))
                continue;
            while (!csv.atEnd()) {
                const QByteArray line = csv.readLine();
                bool ok = false;
                const double t = line.left(line.indexOf(',')).toDouble(&ok);
                if (ok)
                    stamps.push_back(t);
            }
            break; // the newest
        }
        return stamps;
    }

private:
    QString reportPath() const { return folder.filePath(QStringLiteral("report")); }
    QByteArray readReport() const
    {
        QFile f(reportPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir folder;
    QProcess process;
    quint32 windowId = 0;
};

// The unit's side for the shipped programs: the pseudo-terminal, the lines and the plain reader.
struct Unit
{
    PseudoTerminal pty;
    LineMaker maker{4};
    PlainReader plain;
    std::vector<Clock::time_point> written; // every line written in the phases measured
    std::vector<Clock::time_point> seen;    // by the plain reader, the same lines

    // Bytes written but not yet read by the program (the benchmark holds the line's slave side too).
    int waiting() const
    {
        int fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
        int bytes = 0;
        if (fd >= 0) {
            ::ioctl(fd, FIONREAD, &bytes);
            ::close(fd);
        }
        return bytes;
    }
    // Sends count lines as fast as the program takes them, at most at the given rate, and waits
    // until it has read them.
    void load(qint64 count, double rate)
    {
        {
            Writer writer(pty.masterDescriptor(), &maker, rate, count, nullptr);
            while (!writer.finished()) {
                pty.read(0);
                QThread::msleep(50);
            }
        }
        QElapsedTimer waited;
        waited.start();
        while (waiting() > 0 && waited.elapsed() < 60000)
            QThread::msleep(50);
        QThread::msleep(2000);
    }
    // The unit sending at a rate for a while; the program's CPU and the X server's meanwhile.
    PhaseFigures send(ShippedProgram &program, const XServer &x, double seconds, double rate,
                      bool countEvents, qint64 *lines)
    {
        PhaseFigures f;
        const qint64 count = qint64(seconds * rate);
        std::vector<Clock::time_point> times;
        times.reserve(size_t(count));
        plain.restart(count);
        if (countEvents)
            program.takeEvents(); // counting from here
        const double cpu0 = program.cpuSeconds(), x0 = x.cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        {
            Writer writer(pty.masterDescriptor(), &maker, rate, count, &times, 1, plain.writeDescriptor());
            while (!writer.finished())
                QThread::msleep(100);
        }
        QThread::msleep(200); // the last lines read
        const double elapsed = double(wall.nsecsElapsed()) / 1e9;
        f.cpuShare = (program.cpuSeconds() - cpu0) / elapsed;
        f.xShare = (x.cpuSeconds() - x0) / elapsed;
        if (countEvents)
            f.events = program.takeEvents();
        const std::vector<Clock::time_point> ends = plain.lineEnds();
        std::vector<double> plainLate;
        for (size_t i = 0; i < times.size() && i < ends.size(); ++i)
            plainLate.push_back(std::chrono::duration<double, std::milli>(ends[i] - times[i]).count());
        f.plainStamps = spreadOf(plainLate);
        written.insert(written.end(), times.begin(), times.end());
        *lines = count;
        f.measured = true;
        return f;
    }
};

// perf recording a process's samples (cpu-clock, with call stacks) while it lives, when asked to.
class Profile
{
public:
    Profile(const QString &folder, const QString &name, pid_t pid)
    {
        if (folder.isEmpty())
            return;
        QDir().mkpath(folder);
        perf.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        perf.setStandardOutputFile(QProcess::nullDevice());
        perf.start(QStringLiteral("perf"),
                   {QStringLiteral("record"), QStringLiteral("-q"), QStringLiteral("-F"),
                    QStringLiteral("499"), QStringLiteral("-e"), QStringLiteral("cpu-clock"),
                    QStringLiteral("--call-graph"), QStringLiteral("dwarf,16384"), QStringLiteral("-p"),
                    QString::number(pid), QStringLiteral("-o"),
                    QDir(folder).filePath(name + QStringLiteral(".data"))});
        perf.waitForStarted();
        QThread::msleep(500);
    }
    ~Profile()
    {
        if (perf.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(perf.processId()), SIGINT);
        perf.waitForFinished(60000);
    }

private:
    QProcess perf;
};

// How late the program stamped the lines of a phase (written[first, first + count) against the
// recording's stamps [first, first + count)), offset-free.
StampSpread stampSpread(const std::vector<double> &stamps, const std::vector<Clock::time_point> &written,
                        size_t writtenFirst, size_t stampFirst, size_t count)
{
    std::vector<double> late;
    for (size_t i = 0; i < count && writtenFirst + i < written.size() && stampFirst + i < stamps.size();
         ++i) {
        const double writtenMs =
            std::chrono::duration<double, std::milli>(written[writtenFirst + i] - written[0]).count();
        late.push_back(stamps[stampFirst + i] * 1e3 - writtenMs);
    }
    return spreadOf(late);
}

struct Phase
{
    const char *name;
    double seconds, rate;
};

// Runs the three phases on one shipped program; false (and why) if it could not be measured.
std::vector<PhaseFigures> runShipped(const QString &executable, const QStringList &arguments,
                                     bool listedByShim, const Options &options,
                                     const std::vector<Phase> &phases, qint64 loaded)
{
    std::vector<PhaseFigures> figures(phases.size());
    Unit unit;
    ShippedProgram program(executable,
                           arguments + (listedByShim
                                            ? QStringList()
                                            : QStringList{QStringLiteral("--port"), unit.pty.slavePath()}),
                           unit.pty.slavePath(), 4, *options.x, options.events);
    QString why;
    if (!program.waitUntilAcquiring(&why)) {
        for (PhaseFigures &f : figures)
            f.why = why;
        return figures;
    }
    QThread::msleep(1000);
    unit.pty.read(0); // the sensor count it sent
    // The phases one after the other on one run: the start, then (after the load) the long run,
    // then the window unmapped.
    std::vector<qint64> counts(phases.size(), 0);
    std::vector<size_t> firstRow(phases.size(), 0);
    size_t rows = 0;
    for (size_t p = 0; p < phases.size(); ++p) {
        if (p == 1) {
            unit.load(loaded - qint64(rows), 20000);
            rows = size_t(loaded);
        }
        int unmapRequests = 0;
        if (p == 2) {
            // Asked again while the X server still has it mapped after a while (up to three times),
            // so that a request lost and a window mapped again by the program can be told apart.
            QElapsedTimer waited;
            while (unmapRequests < 3 && (unmapRequests == 0 || isMapped(*options.x, program.window()))) {
                setMapped(*options.x, program.window(), false);
                ++unmapRequests;
                waited.start();
                while (isMapped(*options.x, program.window()) && waited.elapsed() < 2000)
                    QThread::msleep(100);
            }
            QThread::msleep(1500);
        }
        firstRow[p] = rows;
        const Profile profile(options.perfFolder,
                              QStringLiteral("%1-phase%2").arg(QFileInfo(executable).fileName()).arg(p + 1),
                              program.pid());
        const bool mappedBefore = p == 2 && isMapped(*options.x, program.window());
        figures[p] =
            unit.send(program, *options.x, phases[p].seconds, phases[p].rate, options.events, &counts[p]);
        // The X server is asked, not the program: a window mapped again meanwhile is said.
        if (p == 2 && (mappedBefore || isMapped(*options.x, program.window())))
            figures[p].note = mappedBefore ? QStringLiteral("the window was mapped again before the phase")
                                           : QStringLiteral("the window was mapped again during the phase");
        if (p == 2 && unmapRequests > 1)
            figures[p].note += QStringLiteral("%1unmapping asked of the X server %2 times")
                                   .arg(figures[p].note.isEmpty() ? "" : ", ")
                                   .arg(unmapRequests);
        rows += size_t(counts[p]);
    }
    const std::vector<double> stamps = program.quitAndReadStamps();
    size_t writtenFirst = 0;
    for (size_t p = 0; p < phases.size(); ++p) {
        if (stamps.size() != rows) {
            figures[p].why =
                QStringLiteral("the recording holds %1 records of %2").arg(stamps.size()).arg(rows);
            continue;
        }
        figures[p].stamps = stampSpread(stamps, unit.written, writtenFirst, firstRow[p], size_t(counts[p]));
        writtenFirst += size_t(counts[p]);
    }
    return figures;
}

QString cell(const PhaseFigures &f, double goal)
{
    if (!f.measured)
        return QStringLiteral("not measured: ") + f.why;
    return QStringLiteral("%1 % (X %2 %)%3; stamps p1-p99 %4 ms, worst %5 ms (plain reader %6, %7 ms)")
        .arg(f.cpuShare * 100, 0, 'f', 2)
        .arg(f.xShare * 100, 0, 'f', 2)
        .arg((f.cpuShare * 100 > goal ? QStringLiteral(" over the goal") : QString()) +
             (f.note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(f.note)))
        .arg(f.stamps.spread, 0, 'f', 2)
        .arg(f.stamps.worst, 0, 'f', 2)
        .arg(f.plainStamps.spread, 0, 'f', 2)
        .arg(f.plainStamps.worst, 0, 'f', 2);
}

} // namespace

void shippedScenario(const Options &options)
{
    std::printf("\nThe shipped programs as a user runs them, beside the rig: N = 4\n");
    if (!options.x) {
        std::printf("  needs an X server of its own: not measured\n");
        return;
    }
    const std::vector<Phase> phases{
        {"start of a run, 16 lines/s", options.quick ? 15.0 : 60.0, 16},
        {"96 lines/s after 1e5 records", options.quick ? 10.0 : 30.0, FullLineRate},
        {"the window unmapped, 16 lines/s", options.quick ? 10.0 : 30.0, 16}};
    const double goalShares[] = {4, 4, 1};
    const qint64 loaded = 100000;

    // The rig: the same phases in this process.
    std::vector<PhaseFigures> rig(phases.size());
    {
        Bench bench(4, options.x);
        EventCounts events;
        for (size_t p = 0; p < phases.size(); ++p) {
            if (p == 1)
                bench.load(loaded - bench.records(), 20000);
            if (p == 2) {
                setMapped(*options.x, quint32(bench.window->winId()), false);
                QElapsedTimer waited;
                waited.start();
                while (bench.feeder()->isSeen() && waited.elapsed() < 5000)
                    Bench::settle(20);
                if (bench.feeder()->isSeen())
                    std::printf("  the rig's window still counts as seen\n");
            }
            if (options.events)
                events.install();
            LineRateFigures f;
            {
                const Profile profile(options.perfFolder, QStringLiteral("rig-phase%1").arg(p + 1),
                                      ::getpid());
                f = bench.atLineRate(phases[p].seconds, phases[p].rate);
            }
            printLineRate(phases[p].name, f, phases[p].rate);
            rig[p].measured = true;
            rig[p].cpuShare = f.cpuShare;
            rig[p].xShare = f.xShare;
            rig[p].stamps = f.stamps;
            rig[p].plainStamps = f.plainStamps;
            if (options.events) {
                rig[p].events = QStringLiteral("events over %1 s\n").arg(f.seconds, 0, 'f', 3) +
                                events.report(f.seconds, 40);
                QCoreApplication::instance()->removeEventFilter(&events);
            }
        }
    }
    const std::vector<PhaseFigures> demo =
        runShipped(QStringLiteral(QUELLSPAN_DEMO_PROGRAM), {}, false, options, phases, loaded);
    const std::vector<PhaseFigures> shipped =
        runShipped(QStringLiteral(QUELLSPAN_PROGRAM), {}, true, options, phases, loaded);

    for (size_t p = 0; p < phases.size(); ++p) {
        std::printf("  %s, %.0f s:\n    rig: %s\n    quellspan-demo: %s\n    quellspan: %s\n", phases[p].name,
                    phases[p].seconds, qPrintable(cell(rig[p], goalShares[p])),
                    qPrintable(cell(demo[p], goalShares[p])), qPrintable(cell(shipped[p], goalShares[p])));
        if (options.events) {
            std::printf("    events of the rig's program:\n%s    events of quellspan:\n%s",
                        qPrintable(rig[p].events), qPrintable(shipped[p].events));
        }
        const QString what =
            QStringLiteral("whole-process CPU, %1, N = 4").arg(QLatin1String(phases[p].name));
        goals().push_back({what + QStringLiteral(": rig / quellspan-demo / quellspan"),
                           QStringLiteral("%1 / %2 / %3 %")
                               .arg(rig[p].cpuShare * 100, 0, 'f', 2)
                               .arg(demo[p].measured ? QString::number(demo[p].cpuShare * 100, 'f', 2)
                                                     : QStringLiteral("-"))
                               .arg(shipped[p].measured ? QString::number(shipped[p].cpuShare * 100, 'f', 2)
                                                        : QStringLiteral("-")),
                           QStringLiteral("at most %1 %, within 20 % of each other").arg(goalShares[p])});
        goals().push_back({QStringLiteral("time stamps p1-p99 spread / worst beyond p1, %1: rig / "
                                          "quellspan-demo / quellspan (plain reader)")
                               .arg(QLatin1String(phases[p].name)),
                           QStringLiteral("%1, %2 / %3, %4 / %5, %6 ms (%7, %8 ms)")
                               .arg(rig[p].stamps.spread, 0, 'f', 2)
                               .arg(rig[p].stamps.worst, 0, 'f', 2)
                               .arg(demo[p].stamps.spread, 0, 'f', 2)
                               .arg(demo[p].stamps.worst, 0, 'f', 2)
                               .arg(shipped[p].stamps.spread, 0, 'f', 2)
                               .arg(shipped[p].stamps.worst, 0, 'f', 2)
                               .arg(rig[p].plainStamps.spread, 0, 'f', 2)
                               .arg(rig[p].plainStamps.worst, 0, 'f', 2),
                           QStringLiteral("spread under 10 ms")});
    }
    std::fflush(stdout);
}

} // namespace bench

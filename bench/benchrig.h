// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every benchmark scenario uses: the program (control panel and acquisition window) on a
// pseudo-terminal "unit" written by a thread of its own at a steady rate, one line at a time, as a
// real unit sends; a plain reader of the same lines on a second pseudo-terminal, the baseline for
// time stamps; the X server the windows are shown on; CPU, load and memory figures.

#include "bench/support/measuring.h"
#include "simunit/pseudoterminal.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <sys/types.h>
#include <thread>
#include <vector>

class ChartFeeder;
class MainWindow;
class Window2;

namespace bench {

using Clock = std::chrono::steady_clock;

// 9600 baud carries 960 bytes/s: about 96 short lines. Four sensors' lines are longer, so this is
// more than the unit can really send.
constexpr double FullLineRate = 96;

// Noisy, slowly drifting values (the hard case for drawing wide pens over dense data), and the last
// sensor's temperature rising as in a heating experiment (new highest values all the time).
class LineMaker
{
public:
    explicit LineMaker(int sensors) : sensors(sensors) {}
    QByteArray next();

private:
    int sensors;
    quint64 index = 0;
    std::mt19937 gen{12345};
    std::normal_distribution<double> noise{0, 1};
};

// A reader that does nothing but read lines from a second pseudo-terminal and note when each
// ended, on a thread of its own with its own event loop: how late a line is seen by a program
// that does no work at all. The difference to the program's stamps is the program's own delay.
class PlainReader
{
public:
    PlainReader();
    ~PlainReader();
    // The descriptor the writer writes the copies to.
    int writeDescriptor() const { return pty.masterDescriptor(); }
    // Starts noting line ends afresh (the vector is reserved for count lines).
    void restart(qint64 count);
    // When each line ended, since the last restart (read once the writer has stopped).
    std::vector<Clock::time_point> lineEnds() const;
    // The reader thread's CPU time so far (it is not the program's).
    double cpuSeconds() const { return usedCpu; }

private:
    struct Worker;
    PseudoTerminal pty;
    std::unique_ptr<Worker> worker;
    std::atomic<double> usedCpu{0};
};

// The unit: a thread that writes lines at a steady rate, one line per write, and notes when it
// wrote each (if asked to; every every-th line only, if every > 1). With copyTo >= 0 each line is
// also written there, right after (the plain reader's line).
class Writer
{
public:
    Writer(int fd, LineMaker *maker, double linesPerSecond, qint64 count,
           std::vector<Clock::time_point> *times, int every = 1, int copyTo = -1);
    ~Writer() { stop(); }
    void stop();
    qint64 written() const { return done; }
    // The CPU time the writing took (the unit's, not the program's), once stopped.
    double cpuSeconds() const { return usedCpu; }
    bool finished() const { return done >= count; }

private:
    void run();

    int fd, copyTo;
    LineMaker *maker;
    double rate;
    qint64 count;
    std::vector<Clock::time_point> *times;
    int every;
    std::atomic<bool> stopping{false};
    std::atomic<qint64> done{0};
    std::atomic<double> usedCpu{0};
    std::thread thread;
};

// An X server of the benchmark's own (Xvfb), for figures with a real X window: started before the
// application, so that the windows are shown on it; its CPU time is read from /proc.
class XServer
{
public:
    // Starts Xvfb and points DISPLAY at it; null (and a reason) if it can't be had.
    static std::unique_ptr<XServer> start(QString *why);
    ~XServer();
    double cpuSeconds() const;
    QString display() const { return name; }

private:
    pid_t pid = -1;
    QString name;
};

// Unmaps (or maps again) a top-level window on the X server, as a window manager does when it is
// minimised (and restored), from a connection of its own: the window may be another program's.
void setMapped(const XServer &x, quint32 window, bool mapped);
// Whether the X server has the window mapped now (false too if it can't be asked).
bool isMapped(const XServer &x, quint32 window);

// How the time stamps of lines spread against the moments the lines were written, without the
// offset between the two clocks (a program's clock starts with its first record): from the 1st
// to the 99th percentile of the lateness, and the latest beyond the 1st percentile.
struct StampSpread
{
    double spread = 0, worst = 0;
    int count = 0;
};
StampSpread spreadOf(std::vector<double> lateness);

struct LineRateFigures
{
    double seconds = 0;
    double cpuShare = 0, drawShare = 0, xShare = 0, redrawsPerSecond = 0;
    quint64 redraws = 0;
    // Time stamps: how late the program stamped lines, and how late the plain reader saw them
    // (ms after the write; both counted in whole milliseconds, as the program's clock counts).
    double latestStampMs = 0, p99StampMs = 0, meanStampMs = 0;
    double plainLatestMs = 0, plainP99Ms = 0;
    StampSpread stamps, plainStamps;
    int records = 0;
    QString loadBefore, loadAfter;
};

// The program on a pseudo-terminal unit: the control panel configured for a number of sensors,
// its acquisition window opened, every sensor ticked, acquiring. The run starts from a Reset.
class Bench
{
public:
    Bench(int sensors, const XServer *xServer);
    ~Bench();

    int sensors() const { return sensorCount; }
    int records() const;
    bool recording() const;
    quint64 syncs() const;
    ChartFeeder *feeder() const;
    Window2 *window = nullptr;

    // Empties the run (Reset) and starts its clock again: time stamps count from now.
    void resetRun();
    // How late the records from first on were stamped (ms), given when every every-th line was
    // written, sorted.
    std::vector<double> lateness(int first, const std::vector<Clock::time_point> &written, int every) const;
    // The same for the plain reader, counted in whole milliseconds since the run's start.
    std::vector<double> plainLateness(const std::vector<Clock::time_point> &written,
                                      const std::vector<Clock::time_point> &seen) const;
    // Feeds count lines at a steady, high rate; returns the seconds it took, and how late the
    // latest stamp was (from every 64th line).
    double load(qint64 count, double linesPerSecond, double *latestStampMs = nullptr);
    // The unit sending at a rate for the given time: CPU shares of the whole program, of drawing
    // and of the X server, redraws per second, and how late the time stamps are against the
    // moments the lines were written, beside the plain reader's.
    LineRateFigures atLineRate(double seconds, double linesPerSecond = FullLineRate);
    // CPU cost of taking one record that arrives on its own, redraws excluded (microseconds of the
    // GUI thread, the median of many): the unit's write, the notification, the reader, the series,
    // the charts' summaries, the live recording.
    double perRecordMicros(int samples);
    // Lets the program run (the live recording catches up with a fast load) for a while.
    static void settle(int ms);

    PseudoTerminal pty;
    LineMaker maker;

private:
    int sensorCount;
    const XServer *x;
    PlainReader plain;
    MainWindow *panel = nullptr;
    Clock::time_point origin;
};

// Prints a line of figures at a line rate, after a label.
void printLineRate(const char *label, const LineRateFigures &f, double linesPerSecond);

} // namespace bench

// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the acquisition figures as the recording grows: the CPU share of the whole program and of
// drawing while a unit sends 96 lines/s, redraws per second, the cost of one redraw of both charts
// against the same charts empty, how late the records' time stamps are, CPU per record, memory
// per record and CSV save speed.
// Records go through the real path: a pseudo-terminal "unit" written by a thread of its own at a
// steady rate (as a real unit sends), the serial port, the window's reader.
#include "acquisition/runsafety/liverecorder.h"
#include "acquisition/window2.h"
#include "charts/chartfeeder.h"
#include "charts/envelopegraph.h"
#include "control_panel/mainwindow.h"
#include "control_panel/portlist.h"
#include "data/csvwriter.h"
#include "data/recordingfile.h"
#include "simunit/pseudoterminal.h"
#include "simunit/simulatedunit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Sensors = 4;
// 9600 baud carries 960 bytes/s: about 96 short lines. Four sensors' lines are longer, so this is
// more than the unit can really send.
constexpr double LineRate = 96;
using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * double(sysconf(_SC_PAGESIZE)) : 0;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Noisy, slowly drifting values: the hard case for drawing wide pens over dense data.
class LineMaker
{
public:
    QByteArray next()
    {
        QByteArray line;
        ++index;
        for (int s = 0; s < Sensors; ++s) {
            const double q = 40 * std::sin(double(index) / 3000.0 + s) + noise(gen) * 5;
            const double t = 22 + s + std::sin(double(index) / 9000.0) + noise(gen) * 0.2;
            line += QByteArray::number(q, 'f', 2) + ',' + QByteArray::number(t, 'f', 2);
            line += s + 1 < Sensors ? "," : "\r\n";
        }
        return line;
    }

private:
    quint64 index = 0;
    std::mt19937 gen{12345};
    std::normal_distribution<double> noise{0, 1};
};

// The unit: a thread that writes lines to the line at a steady rate, one line per write, and
// notes when it wrote each (if asked to).
class Writer
{
public:
    // times: when each line was written (every every-th line only, if every > 1).
    Writer(int fd, LineMaker *maker, double linesPerSecond, qint64 count,
           std::vector<Clock::time_point> *times, int every = 1)
        : fd(fd), maker(maker), rate(linesPerSecond), count(count), times(times), every(every)
    {
        thread = std::thread([this] { run(); });
    }
    ~Writer() { stop(); }
    void stop()
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }
    qint64 written() const { return done; }
    // The CPU time the writing took (the unit's, not the program's), once stopped.
    double cpuSeconds() const { return usedCpu; }
    bool finished() const { return done >= count; }

private:
    void run()
    {
        const Clock::time_point start = Clock::now();
        for (qint64 i = 0; i < count && !stopping; ++i) {
            std::this_thread::sleep_until(start + std::chrono::nanoseconds(qint64(double(i) * 1e9 / rate)));
            const QByteArray line = maker->next();
            if (times && i % every == 0)
                times->push_back(Clock::now());
            const char *p = line.constData();
            size_t left = size_t(line.size());
            while (left > 0 && !stopping) {
                const ssize_t n = ::write(fd, p, left);
                if (n > 0) {
                    p += n;
                    left -= size_t(n);
                } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                    return;
                }
            }
            done = i + 1;
        }
        usedCpu = threadCpuSeconds();
    }

    int fd;
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

struct LineRateFigures
{
    double cpuShare = 0, drawShare = 0, redrawsPerSecond = 0;
    double latestStampMs = 0, p99StampMs = 0, meanStampMs = 0;
    int records = 0;
};

class Bench
{
public:
    Bench()
    {
        const QString path = pty.slavePath();
        setPortListSource(
            [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("bench unit"))}; });
        panel = new MainWindow;
        panel->findChild<QSpinBox *>(QStringLiteral("sensNumSpin"))->setValue(Sensors);
        panel->findChild<QPushButton *>(QStringLiteral("sensNumBtn"))->click();
        panel->show();
        panel->findChild<QPushButton *>(QStringLiteral("plotWindowBtn"))->click();
        window = panel->findChild<Window2 *>();
        for (int s = 1; s <= Sensors; ++s)
            window->findChild<QCheckBox *>(QStringLiteral("toggle%1").arg(s))->click();
        window->findChild<QPushButton *>(QStringLiteral("startData"))->click();
        pty.read(100);
        QCoreApplication::processEvents();
        // One record starts the clock; Reset empties the series and restarts the clock now, which
        // gives the moment that time stamps count from.
        pty.write(maker.next());
        while (records() == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        origin = Clock::now();
        window->findChild<QPushButton *>(QStringLiteral("resetData"))->click();
        QCoreApplication::processEvents();
    }
    ~Bench() { delete panel; }

    int records() const { return window->recordedTimes().size(); }
    bool recording() const { return window->liveRecorder()->holdsWholeRun(); }
    quint64 syncs() const { return window->liveRecorder()->syncCount(); }
    ChartFeeder *feeder() const { return window->chartFeeder(); }

    // How late the records from first on were stamped (ms), given when every every-th line was
    // written, sorted.
    std::vector<double> lateness(int first, const std::vector<Clock::time_point> &written, int every) const
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

    // "Save as..." in the middle of the unit sending at 96 lines/s: how long the save took, and how
    // late the records that came meanwhile were stamped (ms, the latest).
    double latestStampDuringSave(const QString &fileName, double *saveSecs)
    {
        const int first = records();
        // Long enough for the save (about 3 s at 1e7 records) and a second or more on either side.
        const qint64 lines = qint64((2.0 + double(first) / 1e6) * LineRate);
        std::vector<Clock::time_point> written;
        written.reserve(size_t(lines));
        QElapsedTimer saving;
        {
            Writer writer(pty.masterDescriptor(), &maker, LineRate, lines, &written);
            QTimer::singleShot(1000, [&] {
                saving.start();
                QString error;
                if (!window->saveRun(fileName, &error))
                    std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
                *saveSecs = double(saving.nsecsElapsed()) / 1e9;
            });
            while (!writer.finished() || records() < first + int(lines))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        const std::vector<double> late = lateness(first, written, 1);
        return late.empty() ? 0 : late.back();
    }

    // Feeds count lines from the unit's thread at a steady, high rate; returns the seconds it
    // took, and how late the latest stamp was (from every 64th line).
    double load(qint64 count, double linesPerSecond, double *latestStampMs = nullptr)
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

    // CPU cost of taking one record that arrives on its own, redraws excluded (microseconds):
    // the unit's write, the notification, the reader, the series, the charts' summaries, the
    // live recording.
    double perRecordMicros(int samples)
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
            costs.push_back((threadCpuSeconds() - cpu0) * 1e6 -
                            (feeder()->totalRedrawMs() - drawBefore) * 1e3);
        }
        return median(costs);
    }

    // One redraw of both charts: the CPU time it takes (the median of many), so that other
    // programs on the machine do not count. Unchanged: the charts redrawn with nothing new, as
    // they are; UnchangedWhole: the same, everything drawn anew (axes, grid and labels too).
    // AfterRecord: after a record arrived; a redraw draws only the curves, and of them only the
    // columns new records changed. Whole: everything drawn anew, as after the time axis moved on
    // a step or a value axis widened.
    enum class Redraw
    {
        Unchanged,
        UnchangedWhole,
        AfterRecord,
        Whole
    };
    int partialRedraws = 0; // redraws measured that drew only the columns that changed
    double redrawMillis(int samples, Redraw kind)
    {
        const bool whole = kind == Redraw::Whole || kind == Redraw::UnchangedWhole;
        std::vector<double> costs;
        for (int i = 0; i < samples; ++i) {
            if (kind == Redraw::AfterRecord || kind == Redraw::Whole) {
                // Drawn just now: the record's own paced redraw is not due before it is measured.
                feeder()->redraw();
                const int before = records();
                pty.write(maker.next());
                while (records() == before)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            const double cpu0 = threadCpuSeconds();
            feeder()->redraw(whole);
            costs.push_back((threadCpuSeconds() - cpu0) * 1e3);
            const auto *g = qobject_cast<EnvelopeGraph *>(feeder()->chart(0)->graph(0));
            if (g && g->bandCanvas().lastRewrittenFrom() > 0)
                ++partialRedraws;
        }
        return median(costs);
    }

    // Lets the program settle (the live recording catches up with a fast load) for a while.
    static void settle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // The unit sending at 96 lines/s for the given time: the whole program's CPU share, drawing's
    // share, redraws per second, and how late the records' time stamps are against the moments
    // the lines were written.
    LineRateFigures atLineRate(double seconds)
    {
        LineRateFigures f;
        const int first = records();
        const qint64 lines = qint64(seconds * LineRate);
        std::vector<Clock::time_point> written;
        written.reserve(size_t(lines));
        const double cpu0 = cpuSeconds();
        const double draw0 = feeder()->totalRedrawMs();
        const quint64 redraws0 = feeder()->redrawCount();
        double unitCpu = 0;
        QElapsedTimer wall;
        wall.start();
        {
            // The event loop runs as in the program; a timer looks for the end now and then.
            Writer writer(pty.masterDescriptor(), &maker, LineRate, lines, &written);
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
        const double secs = double(wall.nsecsElapsed()) / 1e9;
        // The writer thread stands for the unit: its CPU is not the program's.
        f.cpuShare = (cpuSeconds() - cpu0 - unitCpu) / secs;
        f.drawShare = (feeder()->totalRedrawMs() - draw0) / 1e3 / secs;
        f.redrawsPerSecond = double(feeder()->redrawCount() - redraws0) / secs;
        f.records = records() - first;

        const std::vector<double> late = lateness(first, written, 1);
        if (!late.empty()) {
            f.latestStampMs = late.back();
            f.p99StampMs = late[size_t(double(late.size() - 1) * 0.99)];
            double sum = 0;
            for (double l : late)
                sum += l;
            f.meanStampMs = sum / double(late.size());
        }
        return f;
    }

    Window2 *window = nullptr;

private:
    PseudoTerminal pty;
    MainWindow *panel = nullptr;
    LineMaker maker;
    Clock::time_point origin;
};

double saveSeconds(const Window2 *w, const QString &fileName, QByteArray *bytes)
{
    RecordedSeries series;
    series.time = &w->recordedTimes();
    for (int k = 1; k <= 8; ++k)
        series.channels[size_t(k - 1)] = &w->channelSeries(k);
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!saveCsv(fileName, series, Sensors, &error))
        std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
    const double secs = double(timer.nsecsElapsed()) / 1e9;
    QFile f(fileName);
    if (f.open(QIODevice::ReadOnly))
        *bytes = f.readAll();
    return secs;
}

// The floor: the same bytes written from memory with one plain write, made durable as a save is.
double plainWriteSeconds(const QByteArray &bytes, const QString &fileName)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char *p = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n <= 0 && errno != EINTR)
            break;
        if (n > 0) {
            p += n;
            left -= size_t(n);
        }
    }
    ::fsync(fd);
    ::close(fd);
    return double(timer.nsecsElapsed()) / 1e9;
}

struct RecordingCost
{
    bool recording = false;
    double perRecordUs = 0, cpuShare = 0, syncsPerSecond = 0;
};

// The same short run with the live recording on (in folder) or off (folder can't be made).
RecordingCost recordingCost(const QString &folder, double seconds)
{
    setRecordingsFolder(folder);
    Bench bench;
    bench.load(20000, 20000);
    Bench::settle(2000);
    RecordingCost cost;
    cost.perRecordUs = bench.perRecordMicros(1000);
    const quint64 syncs0 = bench.syncs();
    QElapsedTimer wall;
    wall.start();
    cost.cpuShare = bench.atLineRate(seconds).cpuShare;
    cost.syncsPerSecond = double(bench.syncs() - syncs0) / (double(wall.nsecsElapsed()) / 1e9);
    cost.recording = bench.recording();
    return cost;
}

// The caller's share of recording a record: RecordingFile::append alone, many times over
// (nanoseconds of the calling thread's CPU per record, N = 4).
double appendNanos(const QString &folder, int count)
{
    RecordingFile file;
    RecordingInfo info;
    info.start = QDateTime::currentDateTime();
    info.sensorCount = Sensors;
    if (!file.open(folder, info))
        return -1;
    RecordValues values{};
    const double cpu0 = threadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 2 * Sensors; ++k)
            values[size_t(k)] = 20 + 0.01 * double((i + k) % 1000);
        file.append(0.01 * i, values, 2 * Sensors);
    }
    const double nanos = (threadCpuSeconds() - cpu0) * 1e9 / count;
    file.close();
    return nanos;
}

struct Row
{
    int records;
    double perRecordUs, redrawMs, wholeRedrawMs;
    LineRateFigures live;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const bool longRun = args.contains(QStringLiteral("--long"));
    QList<int> sizes{5000, 100000, 1000000};
    if (quick)
        sizes = {5000, 100000};
    if (longRun)
        sizes.append(10000000);
    const double liveSeconds = quick ? 5 : 20;
    const double loadRate = 20000; // lines/s while the recording is filled up to the next size

    QTemporaryDir recordings;
    setRecordingsFolder(recordings.path());
    Bench bench;
    std::printf(
        "Quellspan acquisition figures (N = %d sensors, all shown; records through a pty, written by a "
        "thread at a steady rate)\n\n",
        Sensors);
    // The ratios' base: both charts empty, drawn whole (axes, grid, labels and the empty curves).
    const double emptyRedraw = bench.redrawMillis(31, Bench::Redraw::UnchangedWhole);
    std::printf("One redraw of both charts, empty: %.2f ms drawn whole; %.3f ms redrawn as they are (the "
                "curves' layer)\n",
                emptyRedraw, bench.redrawMillis(31, Bench::Redraw::Unchanged));
    std::fflush(stdout);
    const double rss0 = residentBytes();

    std::vector<Row> rows;
    for (int size : sizes) {
        const int toLoad = size - bench.records();
        double loadLatest = 0;
        const double loadSecs = toLoad > 0 ? bench.load(toLoad, loadRate, &loadLatest) : 0;
        const QVector<double> &t = bench.window->recordedTimes();
        std::printf("\n%d records (%d loaded in %.1f s at up to %.0f lines/s, time stamps late by %.1f ms at "
                    "most; time axis 0 to %.1f s)\n",
                    size, toLoad, loadSecs, loadRate, loadLatest, t.isEmpty() ? 0.0 : t.last());
        Row row{size, 0, 0, 0, {}};
        Bench::settle(3000);
        row.live = bench.atLineRate(liveSeconds);
        std::printf(
            "  at %.0f lines/s for %.0f s: whole program %.1f %% of a core, drawing %.1f %% (%.2f ms a "
            "redraw), "
            "%.1f redraws/s; time stamps late by %.2f ms at most (99 %%: %.2f ms, mean %.2f ms) over %d "
            "records\n",
            LineRate, liveSeconds, row.live.cpuShare * 100, row.live.drawShare * 100,
            row.live.redrawsPerSecond > 0 ? row.live.drawShare * 1e3 / row.live.redrawsPerSecond : 0.0,
            row.live.redrawsPerSecond, row.live.latestStampMs, row.live.p99StampMs, row.live.meanStampMs,
            row.live.records);
        // Right after the steady flow (a pause before would put a line across the gap at the
        // run's end, which is drawn whole until the run has moved on past it).
        bench.partialRedraws = 0;
        row.redrawMs = bench.redrawMillis(31, Bench::Redraw::AfterRecord);
        const int partial = bench.partialRedraws;
        row.wholeRedrawMs = bench.redrawMillis(31, Bench::Redraw::Whole);
        std::printf(
            "  one redraw of both charts after a new record: %.2f ms (%.1f x empty); drawn whole "
            "(after the time axis moved on): %.2f ms (%.1f x empty); %d of 31 drew only what changed\n",
            row.redrawMs, row.redrawMs / emptyRedraw, row.wholeRedrawMs, row.wholeRedrawMs / emptyRedraw,
            partial);
        std::fflush(stdout);
        row.perRecordUs = bench.perRecordMicros(300);
        std::printf("  CPU per record, redraws excluded: %.0f us\n", row.perRecordUs);
        std::fflush(stdout);
        rows.push_back(row);
    }
    const double perRecordBytes = (residentBytes() - rss0) / double(bench.records());
    const int recorded = bench.records();

    QTemporaryDir dir;
    QByteArray bytes;
    const double save = saveSeconds(bench.window, dir.filePath(QStringLiteral("save.csv")), &bytes);
    const double plain = plainWriteSeconds(bytes, dir.filePath(QStringLiteral("plain.csv")));
    std::printf("\nCSV save of %d records (%.1f MB): %.3f s; one plain write of the same bytes: %.3f s; "
                "ratio %.2f\n",
                recorded, double(bytes.size()) / 1e6, save, plain, save / plain);

    double savingSecs = 0;
    const double duringSave =
        bench.latestStampDuringSave(dir.filePath(QStringLiteral("saveas.csv")), &savingSecs);
    std::printf("Save as of %d records while the unit sends %.0f lines/s: %.3f s; the records that came "
                "meanwhile were stamped %.1f ms late at most\n",
                recorded, LineRate, savingSecs, duringSave);

    // The same charts empty again (Reset), measured as at the start; ratios are against the lesser.
    bench.window->findChild<QPushButton *>(QStringLiteral("resetData"))->click();
    QCoreApplication::processEvents();
    const double emptyAfter = bench.redrawMillis(31, Bench::Redraw::UnchangedWhole);
    const double empty = std::min(emptyRedraw, emptyAfter);
    std::printf("One redraw of both charts, empty after Reset: %.2f ms drawn whole\n", emptyAfter);

    std::printf(
        "\n| records recorded | whole program CPU | drawing | redraws per second | one redraw of both charts "
        "after a record | drawn whole | latest time stamp | CPU per record, redraws excluded |\n"
        "|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row &r : rows) {
        std::printf(
            "| %d | %.1f %% | %.1f %% | %.1f | %.2f ms (%.1fx empty) | %.2f ms (%.1fx) | %.1f ms late | "
            "%.0f us |\n",
            r.records, r.live.cpuShare * 100, r.live.drawShare * 100, r.live.redrawsPerSecond, r.redrawMs,
            r.redrawMs / empty, r.wholeRedrawMs, r.wholeRedrawMs / empty, r.live.latestStampMs,
            r.perRecordUs);
    }
    std::printf("\nOne redraw of both charts empty, drawn whole: %.2f ms (the lesser of before loading and "
                "after Reset). Memory per recorded record: %.0f bytes (resident growth over %d records; the "
                "series' room is reserved before the first record, so only what records use counts).\n",
                empty, perRecordBytes, recorded);

    auto rowFor = [&rows](int records) -> const Row * {
        for (const Row &r : rows) {
            if (r.records == records)
                return &r;
        }
        return nullptr;
    };
    std::printf("\n| figure (same run) | measured | goal |\n|---|---:|---:|\n");
    if (const Row *r = rowFor(1000000)) {
        std::printf("| one redraw of both charts at 1e6 noisy records / the same charts empty | %.1fx (drawn "
                    "whole %.1fx) | at most 10x |\n",
                    r->redrawMs / empty, r->wholeRedrawMs / empty);
    }
    if (const Row *r = rowFor(10000000)) {
        std::printf("| the same at 1e7 records | %.1fx (drawn whole %.1fx) | at most 10x |\n",
                    r->redrawMs / empty, r->wholeRedrawMs / empty);
    }
    if (const Row *r = rowFor(1000000)) {
        std::printf("| redraws per second at 1e6 records, 96 lines/s | %.1f | at least 20 |\n",
                    r->live.redrawsPerSecond);
        std::printf("| whole program CPU at 96 lines/s, 1e6 records | %.1f %% of a core | at most 5 %% |\n",
                    r->live.cpuShare * 100);
        std::printf("| latest time stamp at 1e6 records | %.1f ms | at most 10 ms |\n",
                    r->live.latestStampMs);
    }
    std::printf("| memory per recorded record, N = 4 | %.0f B | at most 90 B |\n", perRecordBytes);
    std::fflush(stdout);

    // The live recording's cost: the same run with it and without it (its folder under a file).
    QTemporaryDir recordingDir;
    QFile blocker(recordingDir.filePath(QStringLiteral("not-a-folder")));
    if (!blocker.open(QIODevice::WriteOnly))
        return 1;
    blocker.close();
    const double recordingSeconds = quick ? 5 : 15;
    const RecordingCost on = recordingCost(recordingDir.filePath(QStringLiteral("on")), recordingSeconds);
    const RecordingCost off =
        recordingCost(recordingDir.filePath(QStringLiteral("not-a-folder/recordings")), recordingSeconds);
    if (!on.recording || off.recording) {
        std::fprintf(stderr, "the live recording was not on and off as meant\n");
        return 1;
    }
    std::printf("\nLive recording, 20,000 records recorded, %.0f lines/s for %.0f s:\n"
                "| | GUI thread CPU per record, redraws excluded | whole program CPU | syncs per second |\n"
                "|---|---:|---:|---:|\n"
                "| recording | %.1f us | %.1f %% | %.2f |\n| not recording | %.1f us | %.1f %% | %.2f |\n",
                LineRate, recordingSeconds, on.perRecordUs, on.cpuShare * 100, on.syncsPerSecond,
                off.perRecordUs, off.cpuShare * 100, off.syncsPerSecond);
    std::printf("RecordingFile::append alone: %.0f ns of the calling thread's CPU per record (N = %d)\n",
                appendNanos(recordingDir.filePath(QStringLiteral("append")), 200000), Sensors);
    return 0;
}

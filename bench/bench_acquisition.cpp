// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the acquisition figures: per-record cost and redraw cost as the recording grows, the
// CPU share while records arrive at the line's full rate, memory per record, and CSV save speed.
// Records go through the real path: a pseudo-terminal "unit", the serial port, the window's reader.
#include "acquisition/chartfeeder.h"
#include "acquisition/data/csvwriter.h"
#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "control_panel/portlist.h"
#include "simunit/pseudoterminal.h"
#include "simunit/simulatedunit.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Sensors = 4;

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

class Bench
{
public:
    Bench()
    {
        const QString path = pty.slavePath();
        setPortListSource([path] {
            return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("bench unit"))};
        });
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
    }
    ~Bench() { delete panel; }

    int records() const { return window->recordedTimes().size(); }
    ChartFeeder *feeder() const { return window->chartFeeder(); }

    // Pushes count lines through the line as fast as the reader takes them.
    void load(int count)
    {
        const int target = records() + count;
        QByteArray pending;
        int made = 0;
        while (records() < target) {
            while (pending.size() < 32 * 1024 && made < count) {
                pending += maker.next();
                ++made;
            }
            if (!pending.isEmpty()) {
                const ssize_t n =
                    ::write(pty.masterDescriptor(), pending.constData(), size_t(pending.size()));
                if (n > 0)
                    pending.remove(0, int(n));
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }

    // CPU cost of taking one record that arrives on its own, redraws excluded (microseconds):
    // the unit's write, the notification, the reader, readouts, series, graphs and axes.
    double perRecordMicros(int samples)
    {
        double total = 0;
        for (int i = 0; i < samples; ++i) {
            const QByteArray line = maker.next();
            const int before = records();
            const double drawBefore = feeder()->totalRedrawMs();
            const double cpu0 = threadCpuSeconds();
            pty.write(line);
            while (records() == before)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            total += (threadCpuSeconds() - cpu0) * 1e6 - (feeder()->totalRedrawMs() - drawBefore) * 1e3;
        }
        return total / samples;
    }

    double redrawMillis(int samples)
    {
        double total = 0;
        for (int i = 0; i < samples; ++i) {
            feeder()->redraw();
            total += feeder()->lastRedrawMs();
        }
        return total / samples;
    }

    // Records arriving at the line's highest rate for the given time: process CPU share and the
    // share spent drawing, both of one core.
    void atLineRate(double seconds, double *cpuShare, double *drawShare)
    {
        // 9600 baud carries 960 bytes/s: about 96 short lines. Four sensors' lines are longer,
        // so this is more than the unit can really send.
        const double linesPerSecond = 96;
        QTimer unit;
        unit.setTimerType(Qt::PreciseTimer);
        unit.setInterval(int(1000.0 / linesPerSecond));
        QObject::connect(&unit, &QTimer::timeout, [this] { pty.write(maker.next()); });
        QEventLoop loop;
        QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
        const double cpu0 = cpuSeconds();
        const double draw0 = feeder()->totalRedrawMs();
        QElapsedTimer wall;
        wall.start();
        unit.start();
        loop.exec();
        const double secs = double(wall.nsecsElapsed()) / 1e9;
        *cpuShare = (cpuSeconds() - cpu0) / secs;
        *drawShare = (feeder()->totalRedrawMs() - draw0) / 1e3 / secs;
    }

    Window2 *window = nullptr;

private:
    PseudoTerminal pty;
    MainWindow *panel = nullptr;
    LineMaker maker;
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

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const QList<int> sizes = quick ? QList<int>{1000, 100000} : QList<int>{1000, 100000, 1000000};

    Bench bench;
    const double rss0 = residentBytes();
    std::printf("Quellspan acquisition figures (N = %d sensors, all shown; records through a pty)\n\n",
                Sensors);
    std::printf("%-12s %22s %26s\n", "recorded", "per record (us)", "redraw both charts (ms)");
    std::fflush(stdout);
    for (int size : sizes) {
        bench.load(size - bench.records());
        const double redraw = bench.redrawMillis(5);
        const double perRecord = bench.perRecordMicros(500);
        std::printf("%-12d %22.1f %26.1f\n", size, perRecord, redraw);
        std::fflush(stdout);
    }
    const double perRecordBytes = (residentBytes() - rss0) / double(bench.records());

    double cpuShare = 0, drawShare = 0;
    bench.atLineRate(quick ? 5 : 20, &cpuShare, &drawShare);
    std::printf("\nRecords arriving at 96 lines/s (the most 9600 baud carries) with %d records recorded:\n",
                bench.records());
    std::printf("  CPU share of one core, whole program: %5.1f %%\n", cpuShare * 100);
    std::printf("  CPU share of one core, drawing:       %5.1f %%\n", drawShare * 100);
    std::printf("Memory per recorded record: %.0f bytes (resident growth over %d records)\n", perRecordBytes,
                bench.records());

    QTemporaryDir dir;
    QByteArray bytes;
    const double save = saveSeconds(bench.window, dir.filePath(QStringLiteral("save.csv")), &bytes);
    const double plain = plainWriteSeconds(bytes, dir.filePath(QStringLiteral("plain.csv")));
    std::printf("\nCSV save of %d records (%.1f MB): %.3f s; one plain write of the same bytes: %.3f s; "
                "ratio %.2f\n",
                bench.records(), double(bytes.size()) / 1e6, save, plain, save / plain);
    return 0;
}

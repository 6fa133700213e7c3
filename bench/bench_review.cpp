// SPDX-License-Identifier: GPL-3.0-or-later
// Prints how long the review window takes to show a recording, from being opened to both charts
// drawn (the file read on the loader's thread, the charts' and the statistics' summaries made
// there, then the window's charts set up and drawn), the longest the GUI thread was held up
// meanwhile, and what the window holds in memory per row, beside `cat FILE > /dev/null`; then
// how long the statistics table takes to follow the view to a stretch of the run.
// Files of 1e6 and 1e7 rows, N = 4 (about 63 MB and 640 MB), are written to a temporary folder
// first. --quick stops at 1e6 rows. --marks measures instead a run with a million marks in its
// description: memory per mark, drawing and hovering.
#include "analysis/panels/statisticspanel.h"
#include "bench/support/measuring.h"
#include "bench/support/runfile.h"
#include "charts/chartfeeder.h"
#include "data/rundescription.h"
#include "review/reviewwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using bench::processCpuSeconds;
using bench::resetPeak;
using bench::statusBytes;
using bench::threadCpuSeconds;

// The longest time between two ticks of a timer that asks for one every millisecond: how long
// the GUI thread was kept from its event loop, in elapsed time and in the thread's CPU time
// (which leaves out the time a busy machine gives to others).
class GapWatch : public QObject
{
public:
    GapWatch()
    {
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            const double cpu = threadCpuSeconds();
            longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
            longestCpu = std::max(longestCpu, (cpu - lastCpu) * 1e3);
            sinceTick.start();
            lastCpu = cpu;
        });
        sinceTick.start();
        lastCpu = threadCpuSeconds();
        timer.start();
    }
    double longestMs() const { return longest; }
    double longestCpuMs() const { return longestCpu; }

private:
    QTimer timer;
    QElapsedTimer sinceTick;
    double lastCpu = 0;
    double longest = 0;
    double longestCpu = 0;
};

void measureStatistics(ReviewWindow *window)
{
    StatisticsPanel *panel = window->statisticsPanel();
    panel->show();
    QCoreApplication::processEvents();
    QCPAxis *time = window->findChild<QCustomPlot *>(QStringLiteral("plot"))->xAxis;
    const double end = window->recording()->data.time.last();
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> at(0.0, end);
    std::vector<double> elapsed, cpu;
    qint64 samples = 0;
    for (int i = 0; i < 200; ++i) {
        double from = i == 0 ? 0 : at(random);
        double to = i == 0 ? end : at(random);
        if (from > to)
            std::swap(from, to);
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = threadCpuSeconds();
        time->setRange(from, to); // the table follows the view at once
        cpu.push_back((threadCpuSeconds() - cpuBefore) * 1e3);
        elapsed.push_back(double(timer.nsecsElapsed()) / 1e6);
        samples += panel->shownStatistics().channels.value(0).samples;
    }
    std::sort(elapsed.begin(), elapsed.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("  statistics table following the view to a stretch (200 random ones, the whole run first): "
                "%.3f ms median, %.3f ms at most; in CPU time %.3f ms and %.3f ms at most%s\n",
                elapsed[elapsed.size() / 2], elapsed.back(), cpu[cpu.size() / 2], cpu.back(),
                samples > 0 ? "" : " (no samples?)");
}

// A review window opened on path and shown: how long it took, and what it holds in memory.
struct Shown
{
    ReviewWindow *window = nullptr;
    double seconds = 0, cpu = 0, guiCpu = 0;
    double longestGap = 0, longestGapCpu = 0;
    double held = 0, peak = 0; // bytes
};

Shown show(const QString &path)
{
    Shown r;
    const double before = statusBytes("VmRSS:");
    resetPeak();
    const double peakBefore = statusBytes("VmHWM:");
    GapWatch gaps;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = processCpuSeconds();
    const double guiCpuBefore = threadCpuSeconds();
    r.window = new ReviewWindow(path);
    QEventLoop loading;
    QObject::connect(r.window, &ReviewWindow::loadFinished, &loading, &QEventLoop::quit);
    r.window->show();
    loading.exec();
    QCoreApplication::processEvents(); // the charts' paint events
    r.seconds = double(timer.nsecsElapsed()) / 1e9;
    r.cpu = processCpuSeconds() - cpuBefore;
    r.guiCpu = threadCpuSeconds() - guiCpuBefore;
    r.longestGap = gaps.longestMs();
    r.longestGapCpu = gaps.longestCpuMs();
    r.held = statusBytes("VmRSS:") - before;
    r.peak = statusBytes("VmHWM:") - peakBefore;
    return r;
}

bool measure(const QString &folder, int rows)
{
    const RunFile file = prepareRunFile(folder, rows);
    if (file.path.isEmpty())
        return false;
    const Shown r = show(file.path);
    if (!r.window->recording() || r.window->recording()->data.rows() != rows) {
        std::fprintf(stderr, "the window shows no run of %d rows: %s\n", rows,
                     qPrintable(r.window->problem()));
        return false;
    }
    std::printf(
        "%d rows, N = %d, %.1f MB: shown in %.3f s, %.3f s of CPU, %.3f s of it on the GUI thread "
        "(cat > /dev/null: %.3f s); the GUI thread held up %.1f ms at most, %.1f ms of its CPU time\n"
        "  held: %.1f B per row, the window's own images and widgets included (peak %.1f B per row)\n",
        rows, RunFileSensors, file.bytes / 1e6, r.seconds, r.cpu, r.guiCpu, file.catSeconds, r.longestGap,
        r.longestGapCpu, r.held / rows, r.peak / rows);
    measureStatistics(r.window);
    delete r.window;
    QFile::remove(file.path);
    return true;
}

// A run whose description holds a million marks (two operator marks, then a program event, over
// the run's time), as a flaky unit over days or a hostile file makes it: what the window holds per
// mark beyond the same run without them and beyond each note's own text, and what drawing the
// charts whole and hovering over them costs then.
bool measureMarks(const QString &folder)
{
    constexpr int Rows = 100000, Marks = 1000000;
    const QString plain = QDir(folder).filePath(QStringLiteral("unmarked.csv"));
    const QString marked = QDir(folder).filePath(QStringLiteral("marked.csv"));
    if (!writeRunFile(plain, Rows) || !QFile::copy(plain, marked))
        return false;
    QFile description(QDir(folder).filePath(QStringLiteral("marked.txt")));
    if (!description.open(QIODevice::WriteOnly))
        return false;
    QByteArray text("Quellspan live recording\nSensors: 4\n");
    double noteBytes = 0;
    const double end = (Rows - 1) / 100.0; // the run's last time, at 100 samples/s
    for (int i = 0, mark = 0; i < Marks; ++i) {
        const double t = end * (i + 0.5) / Marks;
        const QString note =
            i % 3 == 2 ? QStringLiteral("Unit silent for 5 s") : QStringLiteral("Mark %1").arg(++mark);
        text += formatEventLine(t, i % 3 == 2 ? RunEventKind::UnitSilent : RunEventKind::Mark, note);
        // The note's own storage: its characters and Qt's header, as the allocator rounds it.
        noteBytes += std::ceil((24 + 2 * (note.size() + 1) + 8) / 16.0) * 16;
    }
    description.write(text);
    description.close();
    const double fileBytes = double(text.size());
    text.clear();

    const Shown without = show(plain);
    const Shown with = show(marked);
    const double perMark = (with.held - without.held) / Marks;
    ChartFeeder *feeder = with.window->chartFeeder();
    std::vector<double> whole;
    for (int i = 0; i < 5; ++i) {
        const double cpu = threadCpuSeconds();
        feeder->redraw(true);
        whole.push_back((threadCpuSeconds() - cpu) * 1e3);
    }
    // Hovering along the upper chart: the tooltip of the mark under the mouse.
    QCustomPlot *chart = feeder->chart(0);
    std::vector<double> hover;
    for (int x = chart->axisRect()->left(); x < chart->axisRect()->right(); x += 7) {
        const double cpu = threadCpuSeconds();
        QMouseEvent move(QEvent::MouseMove, QPointF(x, chart->axisRect()->top() + 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(chart, &move);
        hover.push_back((threadCpuSeconds() - cpu) * 1e3);
    }
    std::sort(hover.begin(), hover.end());
    std::printf(
        "%d marks and events in a %.1f MB description beside %d rows: shown in %.3f s (without them "
        "%.3f s); held per mark %.0f B, of it %.0f B the note's text, so %.0f B beyond it (the peak "
        "while showing it, beyond the run's own: %.0f B per mark); both charts drawn whole %.1f ms (median of 5), a mouse move over "
        "them %.3f ms median, %.3f ms at most (load %s)\n",
        Marks, fileBytes / 1e6, Rows, with.seconds, without.seconds, perMark, noteBytes / Marks,
        perMark - noteBytes / Marks, (with.peak - without.peak) / Marks, bench::median(whole),
        hover[hover.size() / 2], hover.back(), qPrintable(bench::loadAverage()));
    delete without.window;
    delete with.window;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // A first window of ten rows: what the program sets up once (fonts and the like) is not
    // counted against the runs.
    const QString small = dir.filePath(QStringLiteral("small.csv"));
    if (!writeRunFile(small, 10))
        return 1;
    const Shown first = show(small);
    delete first.window;
    std::printf("a first window of 10 rows: shown in %.3f s, %.1f MB held\n", first.seconds,
                first.held / 1e6);
    if (app.arguments().contains(QStringLiteral("--marks")))
        return measureMarks(dir.path()) ? 0 : 1;
    for (int rows : {1000000, 10000000}) {
        if (quick && rows > 1000000)
            break;
        if (!measure(dir.path(), rows))
            return 1;
    }
    return 0;
}

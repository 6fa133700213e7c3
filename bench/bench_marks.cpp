// SPDX-License-Identifier: GPL-3.0-or-later
// What marks cost the charts: one redraw of both charts of the real acquisition window after a new
// record, and one drawn whole (as after the time axis moved on), with no marks and with 500
// (operator marks and program events), side by side. Records come through a pty "unit" and the
// window's reader; N = 4 sensors, all shown, noisy values.
#include "acquisition/marks/runmarker.h"
#include "charts/chartfeeder.h"
#include "charts/chartmarks.h"
#include "charts/chartmarksview.h"
#include "data/runmarks.h"
#include "support/acquisitionrig.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr int Sensors = 4;
constexpr int Samples = 31;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

class MarksBench
{
public:
    MarksBench() : rig(Sensors)
    {
        for (int s = 1; s <= Sensors; ++s)
            rig.tick(s);
        rig.start();
    }

    // Sends count records from the unit and waits until the window has taken them.
    void load(int count)
    {
        const int target = rig.records() + count;
        while (rig.records() < target) {
            QByteArray lines;
            for (int i = 0; i < 40 && rig.records() + i < target; ++i)
                lines += nextLine();
            rig.pty.write(lines);
            const int expected = std::min(target, rig.records() + 40);
            while (rig.records() < expected)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    // One redraw of both charts after a new record (whole: everything drawn anew): the median
    // CPU time in ms. A record that moves an axis on (the followed time axis steps on a 64th of
    // its span, often in a short run) has the charts drawn whole: such redraws are not counted
    // as redraws after a record.
    double redrawMillis(bool whole)
    {
        std::vector<double> costs;
        while (int(costs.size()) < Samples) {
            feeder()->redraw();
            const QVector<QCPRange> axes = ranges();
            load(1);
            if (!whole && ranges() != axes)
                continue;
            const double cpu0 = threadCpuSeconds();
            feeder()->redraw(whole);
            costs.push_back((threadCpuSeconds() - cpu0) * 1e3);
        }
        return median(costs);
    }

    // count marks spread over the run so far, one in three a program event.
    void placeMarks(int count)
    {
        RunMarks *marks = rig.window->runMarker()->marks();
        const double last = rig.window->recordedTimes().last();
        for (int i = 0; i < count; ++i) {
            const double t = last * (i + 0.5) / count;
            if (i % 3 == 2)
                marks->addEvent(t, RunEventKind::UnitSilent, QStringLiteral("Unit silent for 5 s"));
            else
                marks->setNote(marks->addMark(t), QStringLiteral("Heater step %1").arg(i));
        }
        feeder()->redraw(true);
    }
    void clearMarks()
    {
        rig.window->runMarker()->marks()->clear();
        feeder()->redraw(true);
    }
    int drawnLabels() const { return rig.window->runMarker()->chartView()->chartMarks(0)->drawnLabels(); }
    int records() const { return rig.records(); }

private:
    ChartFeeder *feeder() const { return rig.window->chartFeeder(); }
    QVector<QCPRange> ranges() const
    {
        QVector<QCPRange> r;
        for (int c = 0; c < 2; ++c)
            r << feeder()->chart(c)->xAxis->range() << feeder()->chart(c)->yAxis->range();
        return r;
    }
    QByteArray nextLine()
    {
        QByteArray line;
        ++index;
        for (int s = 0; s < Sensors; ++s) {
            const double q = 40 * std::sin(double(index) / 3000.0 + s) + noise(gen) * 5;
            const double t = 22 + s + std::sin(double(index) / 9000.0) + noise(gen) * 0.2;
            line += QByteArray::number(q, 'f', 2) + ',' + QByteArray::number(t, 'f', 2);
            line += s + 1 < Sensors ? "," : "\n";
        }
        return line;
    }

    AcquisitionRig rig;
    quint64 index = 0;
    std::mt19937 gen{12345};
    std::normal_distribution<double> noise{0, 1};
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    QTemporaryDir recordings;
    setRecordingsFolder(recordings.path());

    MarksBench bench;
    const int records = quick ? 20000 : 100000;
    bench.load(records);
    std::printf(
        "Marks on the charts of the acquisition window: %d records (N = %d, all shown), one redraw of "
        "both charts, CPU time, median of %d\n\n",
        bench.records(), Sensors, Samples);
    // Twice each way, in turn, so that the machine's ups and downs fall on both.
    double after[2][2], whole[2][2];
    int labels = 0;
    for (int round = 0; round < 2; ++round) {
        for (int marked = 0; marked < 2; ++marked) {
            if (marked)
                bench.placeMarks(500);
            after[marked][round] = bench.redrawMillis(false);
            whole[marked][round] = bench.redrawMillis(true);
            if (marked) {
                labels = bench.drawnLabels();
                bench.clearMarks();
            }
        }
    }
    const auto best = [](const double(&v)[2]) { return std::min(v[0], v[1]); };
    std::printf(
        "| redraw of both charts | no marks | 500 marks | 500 marks / none |\n|---|---:|---:|---:|\n");
    std::printf("| after a new record | %.3f ms | %.3f ms | %.2f |\n", best(after[0]), best(after[1]),
                best(after[1]) / best(after[0]));
    std::printf("| drawn whole | %.3f ms | %.3f ms | %.2f |\n", best(whole[0]), best(whole[1]),
                best(whole[1]) / best(whole[0]));
    std::printf(
        "\nEach round (no marks / 500 marks): after a record %.3f / %.3f and %.3f / %.3f ms; drawn whole "
        "%.3f / %.3f and %.3f / %.3f ms. With 500 marks, %d labels were drawn on the heat-flux chart "
        "(the others are left out where they would cover one another).\n",
        after[0][0], after[1][0], after[0][1], after[1][1], whole[0][0], whole[1][0], whole[0][1],
        whole[1][1], labels);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// What marks cost the charts: one redraw of both charts of the real acquisition window after a new
// record, and one drawn whole (as after the time axis moved on), with no marks and with 500
// (operator marks and program events), side by side. Records come through a pty "unit" and the
// window's reader; N = 4 sensors, all shown, the simulated unit's values.
#include "acquisition/marks/runmarker.h"
#include "bench/support/measuring.h"
#include "charts/chartfeeder.h"
#include "charts/chartmarks.h"
#include "charts/chartmarksview.h"
#include "data/recordingsfolder.h"
#include "data/runmarks.h"
#include "simunit/unitstream.h"
#include "support/acquisitionrig.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using bench::median;
using bench::threadCpuSeconds;

constexpr int Sensors = 4;
constexpr int Samples = 51;
constexpr int Rounds = 5;

class MarksBench
{
public:
    MarksBench() : rig(Sensors)
    {
        unit.setSensorCount(Sensors);
        for (int s = 1; s <= Sensors; ++s)
            rig.tick(s);
        rig.start();
    }

    // Sends count records from the unit and waits until the window has taken them.
    void load(int count)
    {
        const int target = rig.records() + count;
        while (rig.records() < target) {
            const int count = std::min(40, target - rig.records());
            const int expected = rig.records() + count;
            rig.pty.write(unit.generate(count));
            while (rig.records() < expected)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    // One redraw of both charts after a new record (whole: everything drawn anew): the median
    // CPU time in ms. A record that moves an axis on (the followed time axis steps on a 16th of
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

    // count marks spread evenly over the time axis shown (the worst case: as many lines as there
    // are pixel columns, labels everywhere), one in three a program event.
    void placeMarks(int count)
    {
        RunMarks *marks = rig.window->runMarker()->marks();
        const QCPRange shown = feeder()->chart(0)->xAxis->range();
        for (int i = 0; i < count; ++i) {
            const double t = shown.lower + shown.size() * (i + 0.5) / count;
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
    int drawnLines() const { return rig.window->runMarker()->chartView()->chartMarks(0)->drawnLines(); }
    int plotWidth() const { return feeder()->chart(0)->axisRect()->width(); }
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
    AcquisitionRig rig;
    UnitStream unit; // what the simulated unit sends: drifting values with noise
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
    // Each way in turn, a few times over, so that the machine's ups and downs fall on both; the
    // least of the rounds' medians counts.
    double after[2][Rounds], whole[2][Rounds];
    int labels = 0, lines = 0;
    for (int round = 0; round < Rounds; ++round) {
        for (int marked = 0; marked < 2; ++marked) {
            if (marked)
                bench.placeMarks(500);
            after[marked][round] = bench.redrawMillis(false);
            whole[marked][round] = bench.redrawMillis(true);
            if (marked) {
                labels = bench.drawnLabels();
                lines = bench.drawnLines();
                bench.clearMarks();
            }
        }
    }
    const auto least = [](const double(&v)[Rounds]) { return *std::min_element(v, v + Rounds); };
    std::printf(
        "| redraw of both charts | no marks | 500 marks | 500 marks / none |\n|---|---:|---:|---:|\n");
    std::printf("| after a new record | %.3f ms | %.3f ms | %.2f |\n", least(after[0]), least(after[1]),
                least(after[1]) / least(after[0]));
    std::printf("| drawn whole | %.3f ms | %.3f ms | %.2f |\n", least(whole[0]), least(whole[1]),
                least(whole[1]) / least(whole[0]));
    std::printf("\nThe rounds' medians (no marks / 500 marks):");
    for (int round = 0; round < Rounds; ++round) {
        std::printf(" after a record %.3f / %.3f, drawn whole %.3f / %.3f ms;", after[0][round],
                    after[1][round], whole[0][round], whole[1][round]);
    }
    std::printf(
        "\nWith 500 marks over the heat-flux chart's %d pixel columns: %d lines and %d labels drawn (the "
        "other labels are left out where they would cover one another).\n",
        bench.plotWidth(), lines, labels);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what looking at the charts costs as the run grows: fitting both value axes to a zoomed
// time range (what each wheel notch or drag step adds), and moving the cursor to another record
// (the cursor placed on both charts and their curve layers redrawn), against the usual redraw
// of both charts after a record. Four sensors of noisy, drifting values, 96 records a second.
// Then (--start alone, or after them) what drawing a chart whole costs at the start of a run,
// when its curves are lines (records a pixel or so apart): four sensors at 16 records a second,
// each chart drawn whole as when the time axis moves on, after 30, 60 and 120 s; beside it the
// same heat-flux curves (every record a point) stroked three ways onto an image of the plot
// area: QPainter with one polyline per curve, QPainter in pieces of 16 segments, and LineCoverage
// (how the charts write their lines). --once draws each way once (for callgrind).
#include "bench/support/measuring.h"
#include "charts/chartcursor.h"
#include "charts/chartfeeder.h"
#include "charts/chartsetup.h"
#include "charts/chartview.h"
#include "charts/envelopegraph.h"
#include "charts/linecoverage.h"
#include "charts/valuefit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int Sensors = 4;
constexpr double LineRate = 96;

using bench::median;

template <typename Step> double medianMicros(int count, Step step)
{
    std::vector<double> times;
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        timer.start();
        step(i);
        times.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    return median(times);
}

// The acquisition window's two charts (at the given width) on a run of their own: its series,
// the charts, their feeder, every sensor shown; records of noisy heat flux and drifting
// temperature added at a rate.
struct ChartsOnARun
{
    QVector<double> time;
    std::array<QVector<double>, 2 * Sensors> channels;
    QWidget window;
    QCustomPlot *flux = new QCustomPlot, *temperature = new QCustomPlot;
    std::unique_ptr<ChartFeeder> feeder;
    std::mt19937 gen{7};
    std::normal_distribution<double> noise{0, 1};

    explicit ChartsOnARun(int width)
    {
        RecordedSeries series;
        series.time = &time;
        for (int c = 0; c < 2 * Sensors; ++c)
            series.channels[size_t(c)] = &channels[size_t(c)];
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(flux);
        layout->addWidget(temperature);
        window.resize(width, 531);
        setUpRunCharts(flux, temperature);
        feeder = std::make_unique<ChartFeeder>(flux, temperature, series);
        for (int s = 1; s <= Sensors; ++s)
            feeder->applySensor(s, true);
        window.show();
    }
    void add(double t, const RecordValues &values)
    {
        time.append(t);
        for (int c = 0; c < 2 * Sensors; ++c)
            channels[size_t(c)].append(values[size_t(c)]);
        feeder->append(Sensors, t, values);
    }
    void addRecords(qint64 count, double lineRate)
    {
        for (qint64 i = 0; i < count; ++i) {
            RecordValues values{};
            for (int s = 0; s < Sensors; ++s) {
                values[size_t(2 * s)] = 40 * std::sin(double(i) / 3000.0 + s) + noise(gen) * 5;
                values[size_t(2 * s + 1)] = 22 + s + std::sin(double(i) / 9000.0) + noise(gen) * 0.2;
            }
            add(double(i) / lineRate, values);
        }
    }
};

void measure(qint64 records)
{
    ChartsOnARun run(431);
    run.addRecords(records, LineRate);
    ChartFeeder &feeder = *run.feeder;
    QVector<double> &time = run.time;
    std::mt19937 &gen = run.gen;
    std::normal_distribution<double> &noise = run.noise;
    QCustomPlot *flux = run.flux;
    ChartViewController view(&feeder, &run.window);
    feeder.redraw(true);
    const double span = time.last();

    // Fitting both value axes: every shown curve's extent in the view, at views from a minute to
    // the whole run.
    std::uniform_real_distribution<double> at(0, span);
    const ChartData &data = feeder.data();
    const double fit = medianMicros(2001, [&](int i) {
        const double width = span * std::pow(0.8, i % 40);
        const double lower = at(gen) * (1 - width / span);
        for (int channel = 0; channel < 2 * Sensors; ++channel) {
            QCPRange extent;
            curveExtent(data, channel, QCPRange(lower, lower + width), &extent);
        }
    });

    // The cursor: the mouse moved over the flux chart, a few pixels at a time (each a new record).
    const QRect area = flux->axisRect()->rect();
    const double cursor = medianMicros(301, [&](int i) {
        const QPoint pos(area.left() + 2 + (i * 3) % (area.width() - 4), area.center().y());
        QMouseEvent move(QEvent::MouseMove, pos, flux->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(flux, &move);
    });
    view.cursor()->hide();

    // The usual redraw: one new record, both charts' curves.
    const double redraw = medianMicros(101, [&](int) {
        RecordValues values{};
        for (int s = 0; s < Sensors; ++s) {
            values[size_t(2 * s)] = noise(gen);
            values[size_t(2 * s + 1)] = 22 + noise(gen);
        }
        run.add(time.last() + 1 / LineRate, values);
        feeder.redraw();
    });
    std::printf("%10lld records: value axes fitted %7.1f us; cursor moved %7.1f us; redraw after a record "
                "%7.1f us\n",
                records, fit, cursor, redraw);
    std::fflush(stdout);
}

struct Timing
{
    double median = 0, slowest = 0;
};

// The thread's CPU time, which other programs on a busy machine don't stretch as they do the
// elapsed time; on a quiet machine the two agree.
Timing cpuTime(int count, const std::function<void()> &step)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const double start = bench::threadCpuSeconds();
        step();
        ms.push_back((bench::threadCpuSeconds() - start) * 1e3);
    }
    return {median(ms), *std::max_element(ms.begin(), ms.end())};
}

void measureStartOfRun(double seconds, int repeats)
{
    constexpr double StartRate = 16;
    // The window's own width: its charts' plot areas are about 760 pixels wide.
    ChartsOnARun run(866);
    const qint64 records = qint64(seconds * StartRate);
    run.addRecords(records, StartRate);
    run.feeder->redraw(true);

    // Each chart drawn whole (its curves' canvas made anew), as after a step of the time axis.
    std::array<Timing, 2> whole;
    for (int chart = 0; chart < 2; ++chart) {
        QCustomPlot *c = run.feeder->chart(chart);
        whole[size_t(chart)] = cpuTime(repeats, [&] {
            qobject_cast<EnvelopeGraph *>(c->graph(0))->forgetDrawing();
            c->replot(QCustomPlot::rpQueuedRefresh);
        });
    }

    // The heat-flux curves as polylines through every record, in the chart's pixels.
    const QRect area = run.flux->axisRect()->rect();
    std::vector<QPolygonF> curves;
    for (int s = 0; s < Sensors; ++s) {
        QPolygonF line;
        for (qint64 i = 0; i < records; ++i)
            line << QPointF(run.flux->xAxis->coordToPixel(run.time[int(i)]) - area.left(),
                            run.flux->yAxis->coordToPixel(run.channels[size_t(2 * s)][int(i)]) - area.top());
        curves.push_back(line);
    }
    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    auto stroke = [&](int piece) {
        image.fill(0);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        for (int s = 0; s < Sensors; ++s) {
            p.setPen(QPen(QBrush(sensorColour(s + 1)), 2));
            const QPolygonF &c = curves[size_t(s)];
            for (int i = 0; i + 1 < c.size(); i += piece)
                p.drawPolyline(c.constData() + i, std::min(piece, int(c.size()) - 1 - i) + 1);
        }
    };
    LineCoverage coverage;
    const Timing polyline = cpuTime(repeats, [&] { stroke(int(records)); });
    const Timing pieces = cpuTime(repeats, [&] { stroke(16); });
    const Timing covered = cpuTime(repeats, [&] {
        coverage.start(area.width(), area.height());
        for (const QPolygonF &c : curves) {
            coverage.addPolyline(c.constData(), int(c.size()), QPointF(0, 0), 1, 0);
            for (int x = 0; x < coverage.columns(); ++x) {
                coverage.column(x);
                coverage.clearColumn(x);
            }
        }
    });
    std::printf("%4.0f s, %4lld records per curve, %dx%d plot area: drawn whole, heat flux %5.1f ms (slowest "
                "%5.1f), temperature %5.1f ms (slowest %5.1f) | heat-flux lines alone: QPainter polyline "
                "%6.1f ms, in pieces of 16 %5.1f ms, LineCoverage %5.1f ms\n",
                seconds, records, area.width(), area.height(), whole[0].median, whole[0].slowest,
                whole[1].median, whole[1].slowest, polyline.median, pieces.median, covered.median);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const bool startOnly = app.arguments().contains(QStringLiteral("--start"));
    const bool once = app.arguments().contains(QStringLiteral("--once"));
    if (!startOnly) {
        std::printf("Looking at the charts (medians; 4 sensors shown; %s platform)\n",
                    qPrintable(QGuiApplication::platformName()));
        for (qint64 records : {qint64(10000), qint64(100000), qint64(1000000), qint64(4000000)}) {
            if (quick && records > 100000)
                break;
            measure(records);
        }
    }
    std::printf(
        "Charts drawn whole at the start of a run (CPU time, medians of %d; N = 4, 16 records/s; load "
        "%s)\n",
        once ? 1 : 11, qPrintable(bench::loadAverage()));
    for (double seconds : {30.0, 60.0, 120.0})
        measureStartOfRun(seconds, once ? 1 : 11);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what looking at the charts costs as the run grows: fitting both value axes to a zoomed
// time range (what each wheel notch or drag step adds), and moving the cursor to another record
// (the cursor placed on both charts and their curve layers redrawn), against the usual redraw
// of both charts after a record. Four sensors of noisy, drifting values, 96 records a second.
#include "bench/support/measuring.h"
#include "charts/chartcursor.h"
#include "charts/chartfeeder.h"
#include "charts/chartview.h"
#include "charts/envelopegraph.h"
#include "charts/valuefit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

void measure(qint64 records)
{
    QVector<double> time;
    std::array<QVector<double>, 2 * Sensors> channels;
    RecordedSeries series;
    series.time = &time;
    for (int c = 0; c < 2 * Sensors; ++c)
        series.channels[size_t(c)] = &channels[size_t(c)];

    // The acquisition window's charts: two of them, one above the other, at their size there.
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *flux = new QCustomPlot;
    auto *temperature = new QCustomPlot;
    layout->addWidget(flux);
    layout->addWidget(temperature);
    window.resize(431, 531);
    const QColor colours[Sensors] = {QColor(255, 0, 0), QColor(0, 155, 0), QColor(0, 0, 255),
                                     QColor(255, 0, 255)};
    for (QCustomPlot *c : {flux, temperature}) {
        for (int s = 0; s < Sensors; ++s)
            (new EnvelopeGraph(c->xAxis, c->yAxis))->setPen(QPen(QBrush(colours[s]), 2));
    }
    ChartFeeder feeder(flux, temperature, series);
    ChartViewController view(&feeder, &window);
    for (int s = 1; s <= Sensors; ++s)
        feeder.applySensor(s, true);
    window.show();

    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0, 1);
    for (qint64 i = 0; i < records; ++i) {
        RecordValues values{};
        for (int s = 0; s < Sensors; ++s) {
            values[size_t(2 * s)] = 40 * std::sin(double(i) / 3000.0 + s) + noise(gen) * 5;
            values[size_t(2 * s + 1)] = 22 + s + std::sin(double(i) / 9000.0) + noise(gen) * 0.2;
        }
        time.append(double(i) / LineRate);
        for (int c = 0; c < 2 * Sensors; ++c)
            channels[size_t(c)].append(values[size_t(c)]);
        feeder.append(Sensors, time.last(), values);
    }
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
        time.append(time.last() + 1 / LineRate);
        for (int c = 0; c < 2 * Sensors; ++c)
            channels[size_t(c)].append(values[size_t(c)]);
        feeder.append(Sensors, time.last(), values);
        feeder.redraw();
    });
    std::printf("%10lld records: value axes fitted %7.1f us; cursor moved %7.1f us; redraw after a record "
                "%7.1f us\n",
                records, fit, cursor, redraw);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    std::printf("Looking at the charts (medians; 4 sensors shown; %s platform)\n",
                qPrintable(QGuiApplication::platformName()));
    for (qint64 records : {qint64(10000), qint64(100000), qint64(1000000), qint64(4000000)}) {
        if (quick && records > 100000)
            break;
        measure(records);
    }
    return 0;
}

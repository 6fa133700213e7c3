// SPDX-License-Identifier: GPL-3.0-or-later
// The charts' drawing against the plain way: the same data drawn by a QCustomPlot graph holding
// every point, stroked with the same 2-px pen, and by the envelope graph drawing from the series.
// Both are rendered off screen and compared pixel column by pixel column.
#include "chartrecording.h"
#include "charts/chartdata.h"
#include "charts/envelopegraph.h"

#include <QtTest>
#include <qcustomplot.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>

namespace {

const QColor Red(255, 0, 0);
const QSize ChartSize(520, 320);

// How much of the curve's colour a pixel holds (0 = background or the axes' black ticks, 1 = the
// colour itself): red over white keeps the red and loses green and blue.
double ink(QRgb pixel)
{
    return std::max(0.0, (qRed(pixel) - (qGreen(pixel) + qBlue(pixel)) / 2.0) / 255.0);
}

struct Comparison
{
    int columns = 0;         // columns painted in either picture
    int worstExtent = 0;     // rows one picture paints beyond the other, at worst
    int paintedPixels = 0;   // pixels inked in either picture
    int differingPixels = 0; // pixels whose ink differs by more than a third
    double differingShare() const { return paintedPixels ? double(differingPixels) / paintedPixels : 0; }
};

// The first and last row of columns x0..x1 within area with at least the given ink (-1 if none).
std::pair<int, int> extent(const QImage &image, int x0, int x1, const QRect &area, double least)
{
    int top = -1, bottom = -1;
    for (int x = std::max(x0, area.left()); x <= std::min(x1, area.right()); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if (ink(image.pixel(x, y)) >= least) {
                top = top < 0 ? y : std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return {top, bottom};
}

// How many rows the painted extent of column x in one picture (at least half ink) reaches beyond
// the other picture's, area.height() if the other has nothing there. Antialiased edges differ in
// shade and by a fraction of a pixel in place between two ways of drawing, so the other picture's
// extent is taken generously: at least a quarter of ink, in the column or a neighbouring one.
int overreach(const QImage &one, const QImage &other, int x, const QRect &area)
{
    const auto [top, bottom] = extent(one, x, x, area, 0.5);
    if (top < 0)
        return 0;
    const auto [otherTop, otherBottom] = extent(other, x - 1, x + 1, area, 0.25);
    if (otherTop < 0)
        return area.height();
    return std::max({0, otherTop - top, bottom - otherBottom});
}

// Compares two renderings inside area, column by column and pixel by pixel.
Comparison compare(const QImage &plain, const QImage &drawn, const QRect &area, QString *worstColumn)
{
    Comparison c;
    for (int x = area.left(); x <= area.right(); ++x) {
        bool any = false;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const double a = ink(plain.pixel(x, y)), b = ink(drawn.pixel(x, y));
            if (a > 0.1 || b > 0.1) {
                any = true;
                ++c.paintedPixels;
                if (std::abs(a - b) > 1.0 / 3)
                    ++c.differingPixels;
            }
        }
        if (!any)
            continue;
        ++c.columns;
        const int worst = std::max(overreach(plain, drawn, x, area), overreach(drawn, plain, x, area));
        if (worst > c.worstExtent) {
            c.worstExtent = worst;
            const auto p = extent(plain, x, x, area, 0.5), d = extent(drawn, x, x, area, 0.5);
            *worstColumn = QStringLiteral("column %1: plain rows %2..%3, drawn rows %4..%5")
                               .arg(x)
                               .arg(p.first)
                               .arg(p.second)
                               .arg(d.first)
                               .arg(d.second);
        }
    }
    return c;
}

// A chart like the window's, without grid lines and tick marks (they are drawn over the curves).
std::unique_ptr<QCustomPlot> makeChart(const QCPRange &keys, const QCPRange &values,
                                       const QSize &size = ChartSize)
{
    auto chart = std::make_unique<QCustomPlot>();
    chart->resize(size);
    for (QCPAxis *axis : {chart->xAxis, chart->yAxis}) {
        axis->grid()->setVisible(false);
        axis->setTicks(false);
        axis->setSubTicks(false);
    }
    chart->xAxis->setRange(keys);
    chart->yAxis->setRange(values);
    return chart;
}

using Generator = std::function<double(int index, double time, std::mt19937 &random)>;

} // namespace

Q_DECLARE_METATYPE(QCPRange)
Q_DECLARE_METATYPE(Generator)

class TestChartDrawing : public QObject
{
    Q_OBJECT

private slots:
    void looksLikeEveryPointStroked_data();
    void looksLikeEveryPointStroked();
    void drawnAsRecordsArriveLikeAtOnce_data();
    void drawnAsRecordsArriveLikeAtOnce();
};

void TestChartDrawing::looksLikeEveryPointStroked_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<double>("pauseFrom"); // no records from here for a while (negative: no pause)
    QTest::addColumn<bool>("broken");      // the pause breaks the curve (the plain graph: a NaN in it)
    QTest::addColumn<QCPRange>("view");    // the time range drawn (the run is 0..100 s)
    QTest::addColumn<QCPRange>("values");
    QTest::addColumn<Generator>("generator");
    QTest::addColumn<int>("scale"); // device pixels per pixel (2 on a high-DPI screen)

    const Generator smooth = [](int, double t, std::mt19937 &) {
        return 40 * std::sin(t / 7) + 15 * std::sin(t / 1.3);
    };
    const Generator noisy = [](int, double t, std::mt19937 &random) {
        return 20 * std::sin(t / 20) + std::normal_distribution<double>(0, 12)(random);
    };
    const Generator steps = [](int, double t, std::mt19937 &random) {
        return (int(t / 8) % 2 ? 45.0 : -30.0) + std::normal_distribution<double>(0, 1.5)(random);
    };
    // Stretches of non-finite values (never a lone finite value between two: a plain graph draws
    // nothing for it, these charts a dot).
    const Generator gappy = [](int index, double t, std::mt19937 &random) {
        if (index % 53 < 3 || (t > 70 && t < 71))
            return index % 2 ? qQNaN() : -qInf();
        return 30 * std::sin(t / 4) + std::normal_distribution<double>(0, 3)(random);
    };
    const QCPRange whole(0, 100), part(41, 47), values(-80, 80);
    for (int records : {300, 1000, 20000, 200000}) {
        const QByteArray n = QByteArray::number(records);
        QTest::newRow("smooth " + n) << records << -1.0 << false << whole << values << smooth << 1;
        QTest::newRow("noisy " + n) << records << -1.0 << false << whole << values << noisy << 1;
        QTest::newRow("steps " + n) << records << -1.0 << false << whole << values << steps << 1;
    }
    QTest::newRow("noisy with a pause") << 50000 << 60.0 << false << whole << values << noisy << 1;
    QTest::newRow("smooth, part of the run") << 200000 << -1.0 << false << part << values << smooth << 1;
    QTest::newRow("noisy, part of the run") << 200000 << -1.0 << false << part << values << noisy << 1;
    QTest::newRow("steps, part of the run")
        << 20000 << -1.0 << false << QCPRange(38, 42) << values << steps << 1;
    QTest::newRow("noisy, a few records in view")
        << 20000 << -1.0 << false << QCPRange(50, 50.2) << values << noisy << 1;
    QTest::newRow("smooth, high-DPI") << 20000 << -1.0 << false << whole << values << smooth << 2;
    QTest::newRow("noisy, high-DPI") << 50000 << -1.0 << false << whole << values << noisy << 2;
    QTest::newRow("steps, part of the run, high-DPI")
        << 20000 << -1.0 << false << QCPRange(38, 42) << values << steps << 2;
    // Breaks: at a pause told to the charts, and at non-finite values.
    QTest::newRow("smooth, broken at a pause") << 300 << 40.0 << true << whole << values << smooth << 1;
    QTest::newRow("noisy, broken at a pause") << 50000 << 60.0 << true << whole << values << noisy << 1;
    QTest::newRow("noisy, broken at a pause, part of the run")
        << 50000 << 60.0 << true << QCPRange(55, 75) << values << noisy << 1;
    QTest::newRow("smooth, broken at a pause, high-DPI")
        << 1000 << 40.0 << true << whole << values << smooth << 2;
    QTest::newRow("non-finite values 500") << 500 << -1.0 << false << whole << values << gappy << 1;
    QTest::newRow("non-finite values 20000") << 20000 << -1.0 << false << whole << values << gappy << 1;
    QTest::newRow("non-finite values, part of the run")
        << 20000 << -1.0 << false << QCPRange(67, 72) << values << gappy << 1;
    QTest::newRow("non-finite values, high-DPI") << 500 << -1.0 << false << whole << values << gappy << 2;
}

void TestChartDrawing::looksLikeEveryPointStroked()
{
    QFETCH(int, records);
    QFETCH(double, pauseFrom);
    QFETCH(bool, broken);
    QFETCH(QCPRange, view);
    QFETCH(QCPRange, values);
    QFETCH(Generator, generator);
    QFETCH(int, scale);

    ChartRecording run;
    std::mt19937 random(7);
    // The plain graph's points: a break is a NaN in them.
    QVector<double> plainTimes, plainValues;
    // A pause that breaks the curves is a long one; one that does not is shorter than a step in
    // time that breaks them by itself.
    const double pause = broken ? 10 : 0.75 * MeasuringGaps::MinGapSeconds;
    for (int i = 0; i < records; ++i) {
        const double t = 100.0 * i / records;
        if (pauseFrom >= 0 && t >= pauseFrom && t < pauseFrom + pause)
            continue;
        if (broken && t >= pauseFrom + pause && run.times.last() < pauseFrom) {
            run.data.breakCurves();
            plainTimes.append(pauseFrom + pause / 2);
            plainValues.append(qQNaN());
        }
        run.add(t, generator(i, t, random), 0);
        plainTimes.append(t);
        plainValues.append(run.flux.last());
    }
    ChartData &data = run.data;

    const QPen pen(QBrush(Red), 2);
    auto plainChart = makeChart(view, values);
    QCPGraph *plain = plainChart->addGraph();
    plain->setPen(pen);
    plain->setAdaptiveSampling(false); // every point, as stroked
    plain->setData(plainTimes, plainValues, true);

    auto drawnChart = makeChart(view, values);
    auto *drawn = new EnvelopeGraph(drawnChart->xAxis, drawnChart->yAxis);
    drawn->setPen(pen);
    drawn->setSource(&data, 0);
    // As the feeder does before a redraw: buckets for the whole run at this width.
    drawnChart->replot();
    data.fitEnvelope(0, 100, drawnChart->axisRect()->width() * scale);

    const QImage a = plainChart->toPixmap(0, 0, scale).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage b = drawnChart->toPixmap(0, 0, scale).toImage().convertToFormat(QImage::Format_RGB32);
    // QCustomPlot's graph leaves out all but one record beyond each end of the view, so near the
    // plot area's left and right edges it lacks some of the pen's reach: those two columns are
    // not compared.
    const QRect plotArea = drawnChart->axisRect()->rect();
    const QRect area = QRect(plotArea.topLeft() * scale, plotArea.size() * scale)
                           .adjusted(2 * scale, scale, -2 * scale, -scale);
    QCOMPARE(plainChart->axisRect()->rect(), drawnChart->axisRect()->rect());

    QString worst;
    const Comparison c = compare(a, b, area, &worst);
    qInfo("%d columns, worst extent difference %d px (%s), %d of %d inked pixels differ (%.2f %%)", c.columns,
          c.worstExtent, qPrintable(worst), c.differingPixels, c.paintedPixels, 100 * c.differingShare());
    if (qEnvironmentVariableIsSet("CHART_DRAWING_PICTURES")) {
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_').remove(',');
        a.save(QStringLiteral("/tmp/chart-%1-plain.png").arg(tag));
        b.save(QStringLiteral("/tmp/chart-%1-drawn.png").arg(tag));
    }
    QVERIFY(c.columns > 0);
    QVERIFY2(c.worstExtent <= scale, qPrintable(worst)); // a pixel of the screen, scale device pixels
    QVERIFY2(c.differingShare() <= 0.05, qPrintable(QString::number(c.differingShare())));
    if (broken) {
        // Nothing in the pause beyond the pen's reach from the records on either side of it.
        const double before = *std::prev(std::lower_bound(run.times.begin(), run.times.end(), pauseFrom));
        const double after = *std::lower_bound(run.times.begin(), run.times.end(), pauseFrom);
        const int x0 = int(std::ceil(drawnChart->xAxis->coordToPixel(before) * scale)) + 2 * scale;
        const int x1 = int(std::floor(drawnChart->xAxis->coordToPixel(after) * scale)) - 2 * scale;
        QVERIFY(x1 - x0 > 10);
        QCOMPARE(extent(b, x0, x1, area, 0.05).first, -1);
        // ...and the curve reaches it from both sides.
        QVERIFY(extent(b, x0 - 3 * scale, x0 - 2 * scale, area, 0.5).first >= 0);
        QVERIFY(extent(b, x1 + 2 * scale, x1 + 3 * scale, area, 0.5).first >= 0);
    }
}

// Between redraws only the columns new records change are drawn again, band and lines alike. A
// chart redrawn that way as records arrive must look exactly like the same records drawn at once:
// two curves sharing one canvas (the later over the earlier), noisy and smooth; records close
// together (the band), far apart (lines) and both; the summary's buckets merged as the run grows;
// a pause that breaks the curves and non-finite values; redraws with nothing new; records arriving
// one at a time or hundreds at once; zoomed in, at scale 2, and the chart resized on the way.
void TestChartDrawing::drawnAsRecordsArriveLikeAtOnce_data()
{
    QTest::addColumn<QCPRange>("view");
    // dense: records a fraction of a pixel apart, then a pause, then a few pixels apart;
    // sparse: a few pixels apart from the start.
    QTest::addColumn<bool>("sparse");
    QTest::addColumn<bool>("resize"); // the chart resized half-way
    // Redraws that must have drawn only the columns that changed, and of those, how many had
    // new records in view.
    QTest::addColumn<int>("leastPartial");
    QTest::addColumn<int>("leastInView");
    QTest::addColumn<int>("scale"); // device pixels per pixel
    QTest::newRow("mixed, the whole run") << QCPRange(0, 100) << false << false << 40 << 35 << 1;
    QTest::newRow("mixed, the whole run, high-DPI") << QCPRange(0, 100) << false << false << 40 << 35 << 2;
    // Finer than the summary: drawn from the series; records pass through the view.
    QTest::newRow("mixed, part of the run") << QCPRange(58.5, 62.5) << false << false << 10 << 3 << 1;
    QTest::newRow("mixed, records far apart in view")
        << QCPRange(80.5, 83.5) << false << false << 10 << 3 << 1;
    QTest::newRow("sparse, the whole run") << QCPRange(0, 100) << true << false << 50 << 45 << 1;
    QTest::newRow("sparse, resized, high-DPI") << QCPRange(0, 100) << true << true << 50 << 45 << 2;
    QTest::newRow("sparse, part of the run") << QCPRange(20, 35) << true << false << 30 << 10 << 1;
}

void TestChartDrawing::drawnAsRecordsArriveLikeAtOnce()
{
    QFETCH(QCPRange, view);
    QFETCH(bool, sparse);
    QFETCH(bool, resize);
    QFETCH(int, leastPartial);
    QFETCH(int, leastInView);
    QFETCH(int, scale);
    ChartRecording run;
    const QCPRange values(-80, 80);
    QSize size = ChartSize;
    auto makeDrawn = [&] {
        auto chart = makeChart(view, values, size);
        const auto shared = std::make_shared<BandCanvas>();
        for (int channel : {0, 1}) {
            auto *g = new EnvelopeGraph(chart->xAxis, chart->yAxis);
            g->setPen(QPen(QBrush(channel == 0 ? Red : QColor(0, 0, 255)), 2));
            g->setSource(&run.data, channel);
            g->shareCanvas(shared);
        }
        return chart;
    };
    auto live = makeDrawn();
    live->replot();
    const auto *first = qobject_cast<EnvelopeGraph *>(live->graph(0));

    std::mt19937 random(11);
    double t = 0;
    int partial = 0, inView = 0;
    for (int step = 0; step < 60; ++step) {
        const int arriving = step % 7 == 3   ? 0
                             : step % 5 == 1 ? 1
                             : sparse        ? 1 + step % 3
                                             : 1 + (step * 37) % 400;
        for (int k = 0; k < arriving && !(t >= 80 && k >= 8); ++k) {
            if (sparse) {
                t += 0.6; // about 3 pixels apart on the whole run
            } else if (t >= 50 && t < 58) {
                t += 8; // a pause, told to the charts
                run.data.breakCurves();
            } else {
                t += t >= 80 ? 0.1 : 0.012;
            }
            const double flux = sparse && run.times.size() % 17 == 5
                                    ? qQNaN()
                                    : 20 * std::sin(t / 20) + std::normal_distribution<double>(0, 12)(random);
            run.add(t, flux, 30 * std::sin(t / 3));
        }
        if (resize && step == 30) {
            size += QSize(37, -23);
            live->resize(size);
            live->replot();
        }
        // As the feeder does: buckets for the run so far, merged as it grows (that is drawn whole).
        run.data.fitEnvelope(0, std::max(10.0, t), live->axisRect()->width() * scale);
        const QImage drawn = live->toPixmap(0, 0, scale).toImage();
        const int from = first->bandCanvas().lastRewrittenFrom();
        partial += from > 0;
        inView += from > 0 && from < first->bandCanvas().area().width();
        const QImage atOnce = makeDrawn()->toPixmap(0, 0, scale).toImage();
        QCOMPARE(drawn.size(), atOnce.size());
        int differing = 0;
        QPoint where;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                if (drawn.pixel(x, y) != atOnce.pixel(x, y) && !differing++)
                    where = QPoint(x, y);
            }
        }
        QVERIFY2(differing == 0,
                 qPrintable(QStringLiteral("after %1 records (%2 s): %3 pixels differ, first at %4, %5")
                                .arg(run.times.size())
                                .arg(t)
                                .arg(differing)
                                .arg(where.x())
                                .arg(where.y())));
    }
    qInfo("%d of 60 redraws drew only the columns that changed, %d with new records in view (%d records to "
          "%.1f s)",
          partial, inView, int(run.times.size()), t);
    QVERIFY(partial >= leastPartial); // the pause, the first records and a resize are drawn whole
    QVERIFY(inView >= leastInView);
}

QTEST_MAIN(TestChartDrawing)
#include "tst_chartdrawing.moc"

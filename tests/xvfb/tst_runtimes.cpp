// SPDX-License-Identifier: GPL-3.0-or-later
// A run of days as people read it, on a real (virtual) X server: the time axis's tick texts in
// seconds, hours, days and hours and clock time over 30 s, 3 h and 3 days, the cursor's box in the
// chosen style, the choice remembered; and a run's gaps (a pause, a silent unit) drawn the same
// when the run is read back in a review window as they were drawn live.

#include "acquisition/runsafety/liverecorder.h"
#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/chartview.h"
#include "charts/envelopegraph.h"
#include "review/reviewwindow.h"
#include "shell/rememberedsettings.h"
#include "support/acquisitionrig.h"
#include "support/chartmouse.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// One channel of a run's summaries drawn on a chart of a fixed size, as a window draws it.
struct ChannelPicture
{
    QCustomPlot chart;
    QImage image;

    ChannelPicture(const ChartData &data, int channel, const QCPRange &keys, const QCPRange &values)
    {
        chart.resize(600, 240);
        chart.xAxis->setRange(keys);
        chart.yAxis->setRange(values);
        auto *graph = new EnvelopeGraph(chart.xAxis, chart.yAxis);
        graph->setPen(QPen(QBrush(Qt::red), 2));
        graph->setSource(&data, channel);
        chart.replot();
        const_cast<ChartData &>(data).fitEnvelope(keys.lower, keys.upper, chart.axisRect()->width());
        image = chart.toPixmap(600, 240).toImage().convertToFormat(QImage::Format_RGB32);
    }
    int x(double t) const { return int(chart.xAxis->coordToPixel(t)); }
};

int redPixels(const QImage &image, int x0, int x1)
{
    int n = 0;
    for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb p = image.pixel(x, y);
            n += qRed(p) - (qGreen(p) + qBlue(p)) / 2 > 80 ? 1 : 0;
        }
    }
    return n;
}

} // namespace

Q_DECLARE_METATYPE(TimeStyle)

class TestRunTimes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void timeAxisTicksInEveryStyle_data();
    void timeAxisTicksInEveryStyle();
    void theChoiceIsEveryWindowsAndRemembered();
    void gapsAreDrawnTheSameInReviewAndLive();

private:
    QTemporaryDir folder;
    std::unique_ptr<ReviewWindow> threeDays;
};

void TestRunTimes::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "this check needs a real X server");
    QVERIFY(folder.isValid());
    RememberedSettings::followTimeStyle();
    // Three days, a record a minute; its name tells its start (14:05:09 local time).
    const QString file = folder.filePath(QStringLiteral("2026-12-07_14-05-09.csv"));
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    for (int i = 0; i <= 3 * 24 * 60; ++i)
        csv.write(QByteArray::number(i * 60) + ',' + QByteArray::number(10 + std::sin(i / 100.0)) + ",20\n");
    csv.close();
    threeDays = std::make_unique<ReviewWindow>(file);
    threeDays->show();
    QTRY_VERIFY(threeDays->recording() != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(threeDays.get()));
}

void TestRunTimes::timeAxisTicksInEveryStyle_data()
{
    QTest::addColumn<TimeStyle>("style");
    QTest::addColumn<double>("span");
    QTest::addColumn<QStringList>("ticks");
    const double hour = 3600, day = 86400;
    QTest::newRow("30 s in seconds") << TimeStyle::Seconds << 30.0
                                     << QStringList{"0", "5", "10", "15", "20", "25", "30"};
    QTest::newRow("30 s in hours") << TimeStyle::Hours << 30.0
                                   << QStringList{"0:00:00", "0:00:10", "0:00:20", "0:00:30"};
    QTest::newRow("30 s in days") << TimeStyle::DaysHours << 30.0
                                  << QStringList{"0 d 00:00:00", "0 d 00:00:10", "0 d 00:00:20",
                                                 "0 d 00:00:30"};
    QTest::newRow("30 s of the clock")
        << TimeStyle::ClockTime << 30.0 << QStringList{"14:05:10\n2026-12-07", "14:05:20", "14:05:30"};
    QTest::newRow("3 h in seconds") << TimeStyle::Seconds << 3 * hour
                                    << QStringList{"0", "2000", "4000", "6000", "8000", "10000"};
    QTest::newRow("3 h in hours") << TimeStyle::Hours << 3 * hour
                                  << QStringList{"0:00", "1:00", "2:00", "3:00"};
    QTest::newRow("3 h in days") << TimeStyle::DaysHours << 3 * hour
                                 << QStringList{"0 d 00:00", "0 d 01:00", "0 d 02:00", "0 d 03:00"};
    QTest::newRow("3 h of the clock")
        << TimeStyle::ClockTime << 3 * hour << QStringList{"15:00\n2026-12-07", "16:00", "17:00"};
    QTest::newRow("3 days in seconds")
        << TimeStyle::Seconds << 3 * day << QStringList{"0", "50000", "100000", "150000", "200000", "250000"};
    QTest::newRow("3 days in hours") << TimeStyle::Hours << 3 * day
                                     << QStringList{"0:00", "24:00", "48:00", "72:00"};
    QTest::newRow("3 days in days") << TimeStyle::DaysHours << 3 * day
                                    << QStringList{"0 d", "1 d", "2 d", "3 d"};
    QTest::newRow("3 days of the clock")
        << TimeStyle::ClockTime << 3 * day << QStringList{"2026-12-08", "2026-12-09", "2026-12-10"};
}

void TestRunTimes::timeAxisTicksInEveryStyle()
{
    QFETCH(TimeStyle, style);
    QFETCH(double, span);
    QFETCH(QStringList, ticks);
    TimeStyleChoice::instance()->setStyle(style);
    for (const char *name : {"plot", "plot2"}) {
        auto *chart = threeDays->findChild<QCustomPlot *>(QLatin1String(name));
        chart->xAxis->setRange(0, span);
        chart->replot();
        QCOMPARE(chart->xAxis->tickVectorLabels().toList(), ticks);
    }
}

void TestRunTimes::theChoiceIsEveryWindowsAndRemembered()
{
    auto *view = threeDays->findChild<ChartViewController *>();
    QCustomPlot *flux = threeDays->findChild<QCustomPlot *>(QStringLiteral("plot"));
    // Chosen in the menu: ticked there, remembered, and the cursor's box says it too.
    view->timeAxisAction()->menu()->findChild<QAction *>(QStringLiteral("actionTimeHours"))->trigger();
    QCOMPARE(RememberedSettings().timeStyle(), TimeStyle::Hours);
    QVERIFY(
        view->timeAxisAction()->menu()->findChild<QAction *>(QStringLiteral("actionTimeHours"))->isChecked());
    flux->xAxis->setRange(0, 3 * 86400);
    flux->replot();
    const QPoint at(int(flux->xAxis->coordToPixel(61440)), flux->axisRect()->center().y());
    mouse(flux, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    QVERIFY(view->hoverLabel(0)->isShown());
    const double t = view->hoverLabel(0)->key(); // a whole minute of the run
    const int minutes = int(t / 60);
    QCOMPARE(view->hoverLabel(0)->lines().constFirst().text,
             QStringLiteral("t = %1:%2:00.000").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0')));
    // Another window's menu shows the same choice; choosing there changes this window too.
    ReviewWindow other(threeDays->fileName());
    other.show();
    QTRY_VERIFY(other.recording() != nullptr);
    auto *otherView = other.findChild<ChartViewController *>();
    QVERIFY(otherView->timeAxisAction()
                ->menu()
                ->findChild<QAction *>(QStringLiteral("actionTimeHours"))
                ->isChecked());
    otherView->timeAxisAction()->menu()->findChild<QAction *>(QStringLiteral("actionTimeClock"))->trigger();
    QCOMPARE(RememberedSettings().timeStyle(), TimeStyle::ClockTime);
    QTRY_COMPARE(flux->xAxis->tickVectorLabels().constFirst(), QStringLiteral("2026-12-08"));
    TimeStyleChoice::instance()->setStyle(TimeStyle::Seconds);
}

void TestRunTimes::gapsAreDrawnTheSameInReviewAndLive()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    // Low values before each gap, high ones after: a line across a gap would cross every column.
    auto send = [&](std::initializer_list<int> values) {
        for (int v : values) {
            const int before = rig.records();
            QVERIFY(rig.pty.write(QByteArray::number(v) + ",20\n"));
            QTRY_COMPARE(rig.records(), before + 1);
            QTest::qWait(100);
        }
    };
    send({5, 6, 5, 6, 5, 6, 5, 6});
    rig.pause();
    QTest::qWait(1200);
    rig.start();
    send({40, 42, 41, 43, 40, 42, 41, 43});
    QTest::qWait(3000); // the unit sends nothing for 3 s: 30 times its spacing
    send({8, 7, 8, 7, 8, 7, 8, 7});
    rig.pause(); // the live recording is written out
    const QVector<double> times = rig.window->recordedTimes();
    QCOMPARE(times.size(), 24);

    const QString recording = rig.window->liveRecorder()->fileName();
    QTRY_COMPARE(QFileInfo(recording).size(), qint64(rig.expectedCsv(1).size()));
    auto review = std::make_unique<ReviewWindow>(recording);
    review->show();
    QTRY_VERIFY(review->recording() != nullptr);
    QCOMPARE(review->recording()->data.rows(), 24);

    // The same breaks, where the run had its gaps (after the pause and the silence).
    const ChartData &live = rig.window->chartFeeder()->data();
    const ChartData &read = review->chartFeeder()->data();
    QCOMPARE(live.breaks().marks(), (std::vector<qint64>{8, 16}));
    QCOMPARE(read.breaks().marks(), live.breaks().marks());

    // Drawn alike: the same pixels, and nothing in the gaps.
    const QCPRange keys(times.first() - 0.5, times.last() + 0.5), values(0, 45);
    const ChannelPicture a(live, 0, keys, values), b(read, 0, keys, values);
    QCOMPARE(a.image, b.image);
    for (int after : {8, 16}) {
        const int x0 = a.x(times[after - 1]), x1 = a.x(times[after]);
        QVERIFY(x1 - x0 > 20);
        QCOMPARE(redPixels(a.image, x0 + 3, x1 - 3), 0);
        QVERIFY(redPixels(a.image, x0 - 2, x0) > 0);
        QVERIFY(redPixels(a.image, x1, x1 + 2) > 0);
    }
}

QTEST_MAIN(TestRunTimes)
#include "tst_runtimes.moc"

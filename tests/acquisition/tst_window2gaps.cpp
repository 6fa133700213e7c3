// SPDX-License-Identifier: GPL-3.0-or-later
// No data is taken during a pause or while the unit is unplugged: the curves break there instead
// of joining the records on either side with a line, as if the unit had measured in between.
#include "charts/chartfeeder.h"
#include "support/acquisitionrig.h"

#include <QStatusBar>
#include <QtTest>
#include <qcustomplot.h>

namespace {

// Pixels of the curve (red over white: more red than green and blue) in columns x0..x1 of the
// chart's plot area.
int redPixels(const QImage &image, QCustomPlot *chart, int x0, int x1)
{
    const QRect area = chart->axisRect()->rect();
    int n = 0;
    for (int x = std::max(x0, area.left()); x <= std::min(x1, area.right()); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const QRgb p = image.pixel(x, y);
            n += qRed(p) - (qGreen(p) + qBlue(p)) / 2 > 80 ? 1 : 0;
        }
    }
    return n;
}

} // namespace

class TestWindow2Gaps : public QObject
{
    Q_OBJECT

private slots:
    void aPauseAndAnUnplugBreakTheCurves();
};

void TestWindow2Gaps::aPauseAndAnUnplugBreakTheCurves()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    QStatusBar *status = rig.widget<QStatusBar>("statusbar");
    // Low values before each gap, high ones after: a line across a gap would cross every column.
    auto send = [&](PseudoTerminal &unit, std::initializer_list<int> values) {
        for (int v : values) {
            const int before = rig.records();
            QVERIFY(unit.write(QByteArray::number(v) + ",20\n"));
            QTRY_COMPARE(rig.records(), before + 1);
            QTest::qWait(80);
        }
    };
    send(rig.pty, {12, 8, 5});
    const double beforePause = rig.window->recordedTimes().last();
    rig.pause();
    QTest::qWait(1500);
    rig.start();
    send(rig.pty, {25, 22, 24, 6});
    const double afterPause = rig.window->recordedTimes()[3];
    const double beforeUnplug = rig.window->recordedTimes().last();

    // Unplugged, and back on another line after a while.
    rig.pty.closeMaster();
    rig.pty.closeSlave();
    QTRY_VERIFY_WITH_TIMEOUT(
        status->currentMessage().startsWith(QStringLiteral("The measuring unit is gone")), 3000);
    QTest::qWait(1200);
    PseudoTerminal back;
    const QString path = back.slavePath();
    setPortListSource(
        [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("test unit"))}; });
    QTRY_VERIFY_WITH_TIMEOUT(
        status->currentMessage().startsWith(QStringLiteral("The measuring unit is back")), 8000);
    setPortListSource(nullptr);
    send(back, {27, 25, 26});
    const double afterUnplug = rig.window->recordedTimes()[7];
    QCOMPARE(rig.records(), 10);

    ChartFeeder *feeder = rig.window->chartFeeder();
    feeder->redraw(true);
    QCustomPlot *flux = rig.widget<QCustomPlot>("plot");
    const QImage image = flux->grab().toImage();
    for (const auto &[from, to] :
         {std::pair{beforePause, afterPause}, std::pair{beforeUnplug, afterUnplug}}) {
        const int x0 = int(std::ceil(flux->xAxis->coordToPixel(from))),
                  x1 = int(flux->xAxis->coordToPixel(to));
        qInfo("a gap from %.2f s to %.2f s: columns %d to %d", from, to, x0, x1);
        QVERIFY2(x1 - x0 > 10, qPrintable(QStringLiteral("%1 .. %2 (%3 .. %4 s, %5 px wide)")
                                              .arg(x0)
                                              .arg(x1)
                                              .arg(from)
                                              .arg(to)
                                              .arg(flux->axisRect()->width())));
        // Nothing drawn in the gap beyond the pen's reach; the curve on both sides of it.
        QCOMPARE(redPixels(image, flux, x0 + 3, x1 - 3), 0);
        QVERIFY(redPixels(image, flux, x0 - 2, x0) > 0);
        QVERIFY(redPixels(image, flux, x1, x1 + 2) > 0);
    }
    // Between the records on either side of a gap nothing else is broken.
    QVERIFY(redPixels(image, flux, int(flux->xAxis->coordToPixel(afterPause)),
                      int(flux->xAxis->coordToPixel(beforeUnplug))) > 20);
}

QTEST_MAIN(TestWindow2Gaps)
#include "tst_window2gaps.moc"

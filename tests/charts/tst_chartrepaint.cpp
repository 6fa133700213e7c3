// SPDX-License-Identifier: GPL-3.0-or-later
// What the charts of a running acquisition repaint: after a record only the pixels it changed
// (and those are all repainted, so the window shows what a whole redraw shows), lines and band
// alike, with the values under the mouse over them, zoomed in, across a pause; and nothing at all
// while nobody can see the window, which is brought up to date at once when shown again.
#include "acquisition/runsafety/liverecorder.h"
#include "charts/chartfeeder.h"
#include "charts/chartimage.h"
#include "support/acquisitionrig.h"

#include <QLCDNumber>
#include <QPaintEvent>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

namespace {

// The regions of a widget's paint events while collecting.
class PaintedRegions : public QObject
{
public:
    explicit PaintedRegions(QWidget *widget) { widget->installEventFilter(this); }
    QRegion painted;
    bool collecting = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (collecting && event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

QPoint inside(QCustomPlot *c, double fx, double fy)
{
    const QRect r = c->axisRect()->rect();
    return QPoint(r.left() + int(fx * r.width()), r.top() + int(fy * r.height()));
}

} // namespace

class TestChartRepaint : public QObject
{
    Q_OBJECT

private slots:
    void aRecordRepaintsOnlyWhatItChanged();
    void nothingIsDrawnWhileNobodySeesTheWindow();
};

void TestChartRepaint::aRecordRepaintsOnlyWhatItChanged()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    ChartFeeder *feeder = rig.window->chartFeeder();
    QCustomPlot *flux = rig.widget<QCustomPlot>("plot");
    QTRY_VERIFY(feeder->isSeen());
    PaintedRegions regions(flux);
    const int widgetArea = flux->width() * flux->height();
    int records = 0, small = 0;

    auto record = [&](const char *when) {
        ++records;
        const QByteArray line = QByteArray::number(5 + (records * 7) % 19) + ",20\n";
        const quint64 redraws = feeder->redrawCount();
        const QImage before = flux->grab().toImage();
        regions.painted = QRegion();
        regions.collecting = true;
        rig.send(line);
        QTRY_VERIFY(feeder->redrawCount() > redraws);
        QTest::qWait(20); // the widget's repaint
        regions.collecting = false;
        const QImage after = flux->grab().toImage();
        // Every pixel the record changed was repainted.
        for (int y = 0; y < after.height(); ++y) {
            for (int x = 0; x < after.width(); ++x) {
                if (before.pixel(x, y) != after.pixel(x, y) && !regions.painted.contains(QPoint(x, y)))
                    QFAIL(qPrintable(QStringLiteral("%1: pixel %2, %3 changed but was not repainted")
                                         .arg(QLatin1String(when))
                                         .arg(x)
                                         .arg(y)));
            }
        }
        int area = 0;
        for (const QRect &r : regions.painted)
            area += r.width() * r.height();
        small += area < widgetArea / 10;
        // And it shows what drawing everything anew shows.
        feeder->redraw(true);
        if (flux->grab().toImage() != after)
            QFAIL(qPrintable(
                QStringLiteral("%1: the chart differs from a whole redraw").arg(QLatin1String(when))));
    };

    // Records a few pixels apart: lines.
    for (int i = 0; i < 6; ++i) {
        record("a record");
        QTest::qWait(100);
    }
    // The values under the mouse where the next records go.
    const QPoint mouseAt(int(flux->xAxis->coordToPixel(1.2)), inside(flux, 0, 0.5).y());
    QMouseEvent move(QEvent::MouseMove, mouseAt, flux->mapToGlobal(mouseAt), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(flux, &move);
    for (int i = 0; i < 4; ++i) {
        record("a record under the values under the mouse");
        QTest::qWait(100);
    }
    // Zoomed in on the records to come.
    const QPoint at(int(flux->xAxis->coordToPixel(flux->xAxis->range().lower + 2)), inside(flux, 0, 0.5).y());
    QWheelEvent wheel(at, flux->mapToGlobal(at), QPoint(), QPoint(0, 600), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(flux, &wheel);
    QVERIFY(!feeder->isFollowing());
    for (int i = 0; i < 4; ++i) {
        record("a record in a zoomed view");
        QTest::qWait(100);
    }
    // Drawn first into a picture of the charts (made between the record and its redraw).
    QTemporaryDir dir;
    const auto picture = connect(feeder, &ChartFeeder::redrawDue, this, [&] {
        QString error;
        QVERIFY(saveChartsImage({flux, rig.widget<QCustomPlot>("plot2")}, ChartsPicture(),
                                dir.filePath("charts.png"), &error));
    });
    record("a record drawn into a picture first");
    disconnect(picture);
    // Across a pause.
    rig.pause();
    QTest::qWait(300);
    rig.start();
    for (int i = 0; i < 3; ++i) {
        record("a record after a pause");
        QTest::qWait(100);
    }
    // Most records repainted a small part of the chart (the others moved an axis).
    QVERIFY2(small >= records / 2, qPrintable(QStringLiteral("%1 of %2").arg(small).arg(records)));
}

void TestChartRepaint::nothingIsDrawnWhileNobodySeesTheWindow()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    ChartFeeder *feeder = rig.window->chartFeeder();
    QCustomPlot *flux = rig.widget<QCustomPlot>("plot");
    auto *readout = rig.widget<QLCDNumber>("LCD1");
    QTRY_VERIFY(feeder->isSeen());
    rig.send("3,20\n");
    QTest::qWait(100);
    rig.send("8,21\n");
    QTRY_COMPARE(readout->value(), 8.0);

    const struct
    {
        const char *how;
        std::function<void()> hide, show;
    } ways[] = {
        {"minimised", [&] { rig.window->showMinimized(); }, [&] { rig.window->showNormal(); }},
        {"hidden", [&] { rig.window->hide(); }, [&] { rig.window->show(); }},
    };
    int value = 10;
    for (const auto &way : ways) {
        way.hide();
        QTRY_VERIFY2(!feeder->isSeen(), way.how);
        const quint64 redraws = feeder->redrawCount();
        const int records = rig.records();
        for (int i = 0; i < 5; ++i) {
            rig.send(QByteArray::number(++value) + ",22\n");
            QTest::qWait(60);
        }
        // Records, the recording and the summaries go on...
        QTRY_COMPARE(rig.records(), records + 5);
        QCOMPARE(feeder->data().recordCount(), qint64(rig.records()));
        QTRY_COMPARE(rig.window->liveRecorder()->recordedSamples(), quint64(rig.records()));
        // ...but neither the charts nor the readouts are drawn.
        QTest::qWait(200);
        QVERIFY2(feeder->redrawCount() == redraws, way.how);
        QVERIFY2(readout->value() < value - 4, way.how);

        // Shown again: one redraw, the readouts with the latest values, the charts as drawn anew.
        way.show();
        QTRY_VERIFY2(feeder->isSeen(), way.how);
        QCOMPARE(feeder->redrawCount(), redraws + 1);
        QCOMPARE(readout->value(), double(value));
        const QImage shown = flux->grab().toImage();
        feeder->redraw(true);
        QVERIFY2(flux->grab().toImage() == shown, way.how);
    }
}

QTEST_MAIN(TestChartRepaint)
#include "tst_chartrepaint.moc"

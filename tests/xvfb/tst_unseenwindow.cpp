// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window on a real (virtual) X server, where nobody can see it: unmapped, as a
// window manager unmaps a minimised window, and covered whole by another window. While so, records
// go on and nothing is drawn; shown again, one redraw brings it up to date and the screen shows
// what a whole redraw shows.
#include "charts/chartfeeder.h"
#include "support/acquisitionrig.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QtTest>
#include <xcb/xcb.h>

class TestUnseenWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void nothingIsDrawnForAnUnmappedOrCoveredWindow();
};

void TestUnseenWindow::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "this check needs a real X server (run it under xvfb-run with QT_QPA_PLATFORM=xcb)");
}

void TestUnseenWindow::nothingIsDrawnForAnUnmappedOrCoveredWindow()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    Window2 *window = rig.window;
    ChartFeeder *feeder = window->chartFeeder();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY(feeder->isSeen());
    int value = 0;
    auto sendRecords = [&](int n) {
        const int before = rig.records();
        for (int i = 0; i < n; ++i) {
            rig.send(QByteArray::number(5 + (++value * 7) % 20) + ",20\n");
            QTest::qWait(40);
        }
        QTRY_COMPARE(rig.records(), before + n);
    };
    // The charts as the screen shows them (the time readout ticks on by itself: left out).
    auto screenShows = [&] {
        QTest::qWait(300);
        QVector<QImage> charts;
        for (int i = 0; i < 2; ++i) {
            QWidget *chart = feeder->chart(i);
            const QRect r(chart->mapTo(window, QPoint(0, 0)), chart->size());
            charts.append(QGuiApplication::primaryScreen()
                              ->grabWindow(window->winId(), r.x(), r.y(), r.width(), r.height())
                              .toImage());
        }
        return charts;
    };
    sendRecords(4);

    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    QVERIFY(!xcb_connection_has_error(x));
    QWidget cover;
    const struct
    {
        const char *how;
        std::function<void()> hide, show;
    } ways[] = {
        {"unmapped",
         [&] {
             xcb_unmap_window(x, xcb_window_t(window->winId()));
             xcb_flush(x);
         },
         [&] {
             xcb_map_window(x, xcb_window_t(window->winId()));
             xcb_flush(x);
         }},
        {"covered",
         [&] {
             cover.setGeometry(window->frameGeometry().adjusted(-20, -20, 20, 20));
             cover.show();
             cover.raise();
         },
         [&] { cover.hide(); }},
    };
    // Repaints asked of the window and its widgets.
    struct PaintCount : QObject
    {
        QWidget *window = nullptr;
        int asked = 0;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            auto *widget = qobject_cast<QWidget *>(watched);
            asked += (event->type() == QEvent::UpdateRequest || event->type() == QEvent::Paint) && widget &&
                     (widget == window || window->isAncestorOf(widget));
            return false;
        }
    } paints;
    paints.window = window;
    qApp->installEventFilter(&paints);
    for (const auto &way : ways) {
        way.hide();
        QTRY_VERIFY2(!feeder->isSeen(), way.how);
        QTest::qWait(100);
        const quint64 redraws = feeder->redrawCount();
        paints.asked = 0;
        sendRecords(6);
        QTest::qWait(200);
        QVERIFY2(feeder->redrawCount() == redraws, way.how);
        // Nothing is painted: the elapsed time, the readouts and the charts wait.
        QVERIFY2(paints.asked == 0,
                 qPrintable(QStringLiteral("%1: %2 repaints").arg(way.how).arg(paints.asked)));
        QCOMPARE(feeder->data().recordCount(), qint64(rig.records()));

        way.show();
        QTRY_VERIFY2(feeder->isSeen(), way.how);
        QCOMPARE(feeder->redrawCount(), redraws + 1);
        const QVector<QImage> shown = screenShows();
        feeder->redraw(true);
        QVERIFY2(screenShows() == shown, way.how);
    }
    qApp->removeEventFilter(&paints);
    xcb_disconnect(x);
}

QTEST_MAIN(TestUnseenWindow)
#include "tst_unseenwindow.moc"

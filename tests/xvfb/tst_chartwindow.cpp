// SPDX-License-Identifier: GPL-3.0-or-later
// The charts of a run in a window of their own, on a real (virtual) X server: they follow the run
// from the acquisition window's own summaries, their plot areas start at the same x however the
// window is sized (also in a review window), the cursor follows the run under a resting mouse
// while acquiring, and Reset ends a selection. Screenshots stay in a temporary folder.

#include "analysis/panels/statisticspanel.h"
#include "charts/chartcursor.h"
#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/chartselection.h"
#include "charts/chartview.h"
#include "chartwindow/chartwindow.h"
#include "placement/windowplacement.h"
#include "review/reviewwindow.h"
#include "support/acquisitionrig.h"
#include "support/chartmouse.h"

#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Where the plot area of a chart starts, and where time t is, in the coordinates of its window.
int plotLeft(QCustomPlot *chart)
{
    return chart->mapTo(chart->window(), chart->axisRect()->rect().topLeft()).x();
}
double timeX(QCustomPlot *chart, double t)
{
    return chart->mapTo(chart->window(), QPoint(0, 0)).x() + chart->xAxis->coordToPixel(t);
}

} // namespace

class TestChartWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followsTheRunAlignedAtAnySize();
    void theCursorFollowsTheRunUnderARestingMouse();
    void resetEndsTheSelection();
    void reviewChartsGrowAligned();
    void secondaryWindowsWholeOnScreen();

private:
    void save(QWidget *window, const QString &name);
    // Records of two sensors with heat fluxes of six digits and temperatures of two, so that the
    // two charts' value labels differ in width.
    void sendRecords(AcquisitionRig &rig, int count);

    QTemporaryDir pictures{QDir::tempPath() + QStringLiteral("/quellspan-chartwindow-XXXXXX")};
    int sent = 0;
};

void TestChartWindow::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "this check needs a real X server");
    QVERIFY(pictures.isValid());
    pictures.setAutoRemove(false); // for a person to look at
}

void TestChartWindow::save(QWidget *window, const QString &name)
{
    QTest::qWait(300); // drawn whole after the last resize
    const QString path = QDir(pictures.path()).filePath(name);
    if (QGuiApplication::primaryScreen()->grabWindow(window->winId()).save(path, "PNG"))
        qInfo("screenshot: %s", qPrintable(path));
}

void TestChartWindow::sendRecords(AcquisitionRig &rig, int count)
{
    QByteArray lines;
    for (int i = 0; i < count; ++i, ++sent)
        lines += QByteArray::number(100000 + 500 * std::sin(sent / 5.0), 'f', 1) + ",20.5," +
                 QByteArray::number(95000 + sent % 40) + ",21\n";
    rig.send(lines);
}

void TestChartWindow::followsTheRunAlignedAtAnySize()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.tick(2);
    rig.start();
    for (int i = 0; i < 10; ++i)
        sendRecords(rig, 3);
    QTRY_COMPARE(rig.records(), 30);

    rig.widget<QAction>("actionChartsInWindow")->trigger();
    auto *charts = rig.window->findChild<ChartWindow *>();
    QVERIFY(charts);
    QVERIFY(QTest::qWaitForWindowExposed(charts));
    QVERIFY2(isWhollyOn(charts, rig.window->screen()), "the chart window runs off its screen");
    // Asked again: the same window, raised.
    rig.widget<QAction>("actionChartsInWindow")->trigger();
    QCOMPARE(rig.window->findChildren<ChartWindow *>().size(), 1);

    // One summary of the run for both windows, no copy of it; the window follows the run.
    ChartFeeder *own = rig.window->chartFeeder(), *big = charts->chartFeeder();
    QCOMPARE(&big->data(), &own->data());
    for (int i = 0; i < 10; ++i)
        sendRecords(rig, 3);
    QTRY_COMPARE(rig.records(), 60);
    QTRY_VERIFY(big->chart(0)->xAxis->range().upper >= rig.window->recordedTimes().last());
    QVERIFY(big->isSensorShown(1) && big->isSensorShown(2));

    // The plot areas start at the same x at every size, and a time is at the same x on both.
    QCustomPlot *flux = charts->chart(0), *temperature = charts->chart(1);
    const double t = rig.window->recordedTimes()[20];
    for (const QSize size : {QSize(700, 500), QSize(1200, 900), QSize(500, 420), charts->size()}) {
        charts->resize(size);
        QTRY_COMPARE(charts->size(), size);
        QTRY_VERIFY2(std::abs(plotLeft(flux) - plotLeft(temperature)) <= 1,
                     qPrintable(QStringLiteral("%1x%2: plot areas start at %3 and %4")
                                    .arg(size.width())
                                    .arg(size.height())
                                    .arg(plotLeft(flux))
                                    .arg(plotLeft(temperature))));
        QVERIFY(std::abs(timeX(flux, t) - timeX(temperature, t)) <= 1);
        // The charts take the window's room, half of it each.
        QVERIFY(flux->width() >= size.width() - 16);
        QVERIFY(std::abs(flux->height() - temperature->height()) <= 2);
        QVERIFY(flux->height() >= size.height() / 2 - 16);
    }
    save(charts, QStringLiteral("chart-window.png"));
    // A new widest label on one chart: both still start together.
    rig.send("-1000000,20,1,21\n");
    QTRY_COMPARE(rig.records(), 61);
    QTRY_VERIFY(std::abs(plotLeft(flux) - plotLeft(temperature)) <= 1);
    QTRY_VERIFY(flux->yAxis->range().lower <= -1000000);
}

void TestChartWindow::theCursorFollowsTheRunUnderARestingMouse()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.start();
    sendRecords(rig, 20);
    rig.widget<QAction>("actionChartsInWindow")->trigger();
    auto *charts = rig.window->findChild<ChartWindow *>();
    QVERIFY(QTest::qWaitForWindowExposed(charts));
    rig.window->activateWindow();

    // The mouse rests near the charts' right end in both windows while records come.
    struct Watched
    {
        ChartViewController *view;
        QCustomPlot *chart;
    };
    auto *windowView = rig.window->findChild<ChartViewController *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(windowView);
    for (const Watched &w :
         {Watched{windowView, rig.widget<QCustomPlot>("plot")}, Watched{charts->view(), charts->chart(0)}}) {
        const QCPRange keys = w.chart->xAxis->range();
        const double latest = rig.window->recordedTimes().last();
        const QPoint at(int(w.chart->xAxis->coordToPixel(latest)), w.chart->axisRect()->center().y());
        QVERIFY(keys.contains(latest));
        mouse(w.chart, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        QVERIFY(w.view->cursor()->isShown());
        int shownThroughout = 0;
        for (int i = 0; i < 8; ++i) {
            sendRecords(rig, 2);
            QTest::qWait(60);
            shownThroughout += w.view->hoverLabel(0)->isShown() ? 1 : 0;
        }
        QCOMPARE(shownThroughout, 8);
        // The box names the record nearest to the mouse now, at the place the axis has now.
        const ChartData &data = rig.window->chartFeeder()->data();
        const auto nearest = [&] {
            return data.times()[int(data.nearestRecord(w.chart->xAxis->pixelToCoord(at.x())))];
        };
        QTRY_COMPARE(w.view->hoverLabel(0)->key(), nearest());
        QVERIFY(w.view->hoverLabel(0)->lines().constFirst().text.startsWith(QStringLiteral("t = ")));
        mouse(w.chart, QEvent::Leave, at, Qt::NoButton, Qt::NoButton);
    }
}

void TestChartWindow::resetEndsTheSelection()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    for (int i = 0; i < 5; ++i) {
        rig.send("10,20\n11,21\n");
        QTest::qWait(80);
    }
    rig.widget<QAction>("actionStatistics")->trigger();
    auto *statistics = rig.window->findChild<StatisticsPanel *>();
    QVERIFY(QTest::qWaitForWindowExposed(statistics));
    QCustomPlot *flux = rig.widget<QCustomPlot>("plot");
    drag(flux, inside(flux, 0.05, 0.5), inside(flux, 0.6, 0.5), Qt::ShiftModifier);
    ChartSelection *selection = statistics->chartSelection();
    QVERIFY(selection->isActive());
    QCOMPARE(statistics->range(), StatisticsPanel::Range::Selection);
    rig.widget<QAction>("actionChartsInWindow")->trigger();
    auto *charts = rig.window->findChild<ChartWindow *>();
    QVERIFY(charts->selection()->isActive()); // the same stretch there
    const QString before = statistics->findChild<QLabel *>(QStringLiteral("rangeLabel"))->text();

    rig.reset();
    QVERIFY(!selection->isActive());
    QVERIFY(!charts->selection()->isActive());
    QCOMPARE(statistics->range(), StatisticsPanel::Range::View);
    // Nothing of the run before: the new run's view, no samples yet, and not the old stretch.
    QTRY_VERIFY(statistics->findChild<QLabel *>(QStringLiteral("rangeLabel"))->text() != before);
    QCOMPARE(statistics->shownStatistics().rows(), 0);
    QCOMPARE(statistics->rangeFrom(), ChartFeeder::InitialRangeLower);
    // No tint of the old stretch on either window's charts.
    for (QCustomPlot *chart : {flux, charts->chart(0)}) {
        for (int i = 0; i < chart->itemCount(); ++i)
            QVERIFY(!chart->item(i)->visible());
    }
}

void TestChartWindow::reviewChartsGrowAligned()
{
    // A recording whose heat fluxes need far wider labels than its temperatures.
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("run.csv"));
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    for (int i = 0; i < 500; ++i)
        csv.write(QByteArray::number(i * 0.5) + ',' + QByteArray::number(250000 + 1000 * std::sin(i / 30.0)) +
                  ",21.5\n");
    csv.close();
    auto *review = new ReviewWindow(file);
    review->show();
    QTRY_VERIFY(review->recording() != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(review));
    QCustomPlot *flux = review->findChild<QCustomPlot *>(QStringLiteral("plot"));
    QCustomPlot *temperature = review->findChild<QCustomPlot *>(QStringLiteral("plot2"));
    for (const QSize size : {QSize(800, 600), QSize(1200, 950)}) {
        review->resize(size);
        QTRY_COMPARE(review->size(), size);
        QTRY_VERIFY(std::abs(plotLeft(flux) - plotLeft(temperature)) <= 1);
        QVERIFY(std::abs(timeX(flux, 100) - timeX(temperature, 100)) <= 1);
        QVERIFY(flux->width() >= size.width() - 40);
    }
    save(review, QStringLiteral("review-window.png"));
    // Its charts in a window of their own too.
    review->findChild<QAction *>(QStringLiteral("actionChartsInWindow"))->trigger();
    auto *charts = review->findChild<ChartWindow *>();
    QVERIFY(QTest::qWaitForWindowExposed(charts));
    QTRY_VERIFY(std::abs(plotLeft(charts->chart(0)) - plotLeft(charts->chart(1))) <= 1);
    QVERIFY(charts->chartFeeder()->isSensorShown(1));
    save(charts, QStringLiteral("review-chart-window.png"));
    review->close();
}

void TestChartWindow::secondaryWindowsWholeOnScreen()
{
    // A screen 1000 pixels high (ctest runs this on one): Statistics, Wall Test and Marks open
    // wholly on it, the statistics table shows its eight rows without scrolling and no column of
    // either table is narrower than its text.
    AcquisitionRig rig(4);
    for (int sensor = 1; sensor <= 4; ++sensor)
        rig.tick(sensor);
    rig.start();
    rig.send("1.5,20.25,-2.125,21.5,3000.75,22.125,-4e-05,23.5\n");
    QTest::qWait(100);
    rig.pause();
    rig.start();
    rig.send("1.25,20.5,-2.5,21.25,3100.5,22.25,-5e-05,23.25\n");
    QTRY_COMPARE(rig.records(), 2);
    QScreen *screen = QGuiApplication::primaryScreen();
    auto shownWindows = [] {
        QSet<QWidget *> shown;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible())
                shown.insert(w);
        }
        return shown;
    };
    for (const char *action : {"actionStatistics", "actionWallTest", "actionMarks"}) {
        const QSet<QWidget *> before = shownWindows();
        rig.widget<QAction>(action)->trigger();
        QTRY_COMPARE((shownWindows() - before).size(), 1);
        QWidget *opened = *(shownWindows() - before).begin();
        QVERIFY(QTest::qWaitForWindowExposed(opened));
        QTest::qWait(100);
        QVERIFY2(isWhollyOn(opened, screen), qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                                            .arg(action)
                                                            .arg(opened->frameGeometry().x())
                                                            .arg(opened->frameGeometry().y())
                                                            .arg(opened->frameGeometry().width())
                                                            .arg(opened->frameGeometry().height())));
        save(opened, QStringLiteral("%1.png").arg(QLatin1String(action)));
    }
    auto fits = [](QTableView *table) {
        QAbstractItemView *view = table;
        for (int column = 0; column < table->model()->columnCount(); ++column) {
            if (table->columnWidth(column) < view->sizeHintForColumn(column))
                return QStringLiteral("column %1: %2 < %3")
                    .arg(column)
                    .arg(table->columnWidth(column))
                    .arg(view->sizeHintForColumn(column));
        }
        return QString();
    };
    auto *statistics = rig.window->findChild<QTableView *>(QStringLiteral("statisticsTable"));
    QCOMPARE(statistics->model()->rowCount(), 8);
    QTRY_VERIFY(!statistics->verticalScrollBar()->isVisible());
    QVERIFY(statistics->rowViewportPosition(7) + statistics->rowHeight(7) <=
            statistics->viewport()->height());
    QTRY_COMPARE(fits(statistics), QString());
    auto *marks = rig.window->findChild<QTableView *>(QStringLiteral("marksTable"));
    QVERIFY(marks->model()->rowCount() >= 3); // started, paused, started
    QTRY_COMPARE(fits(marks), QString());
}

QTEST_MAIN(TestChartWindow)
#include "tst_chartwindow.moc"

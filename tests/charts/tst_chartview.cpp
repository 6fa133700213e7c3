// SPDX-License-Identifier: GPL-3.0-or-later
// Looking at the charts of a running acquisition: zooming and panning with the mouse, value axes
// that fit the time in view, following the run again, the cursor with the values on both charts,
// a picture that can't be saved, axes that take any value, and the charts' summaries of hidden
// sensors and after Reset. (What a saved picture holds: tst_chartimage.)
#include "charts/chartcursor.h"
#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/chartrecording.h"
#include "charts/chartview.h"
#include "support/acquisitionrig.h"
#include "support/chartmouse.h"
#include "support/followedaxis.h"
#include "support/imagedifference.h"
#include "support/modalcloser.h"

#include <QAction>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>
#include <sys/stat.h>

namespace {

QCustomPlot *chart(const AcquisitionRig &rig, const char *name)
{
    return rig.widget<QCustomPlot>(name);
}

// Pixels of exactly this colour in a part of an image (all of it by default).
int pixelsOf(const QImage &image, const QColor &colour, const QRect &part = QRect())
{
    return countPixels(
        image, [&](const QColor &c) { return c.rgb() == colour.rgb(); }, part);
}

// The first and last row of a chart's plot area with a pixel at least half of a sensor's colour
// (nearer to it than to white, greys, black or another sensor's colour); -1 if none.
std::pair<int, int> inkedRows(QCustomPlot *chart, const QColor &colour)
{
    const QRect area = chart->axisRect()->rect();
    const QImage image = chart->toPixmap().toImage().copy(area);
    const QList<QColor> others{Qt::white,         Qt::lightGray,     Qt::gray,
                               Qt::darkGray,      Qt::black,         QColor(255, 0, 0),
                               QColor(0, 155, 0), QColor(0, 0, 255), QColor(255, 0, 255)};
    auto distance = [](QRgb a, const QColor &b) {
        const int r = qRed(a) - b.red(), g = qGreen(a) - b.green(), bl = qBlue(a) - b.blue();
        return r * r + g * g + bl * bl;
    };
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int own = distance(p, colour);
            if (std::all_of(others.begin(), others.end(),
                            [&](const QColor &o) { return o == colour || distance(p, o) > own; })) {
                top = top < 0 ? y + area.top() : top;
                bottom = y + area.top();
            }
        }
    }
    return {top, bottom};
}

// Pixels of exactly this colour in the chart as it draws itself now.
int pixelsOf(QCustomPlot *c, const QColor &colour)
{
    return pixelsOf(c->toPixmap().toImage(), colour);
}

// Whether a chart shows the value range that fits the shown sensors' curves in its time range,
// worked out plainly: their extent there with a twentieth of its height free above and below.
bool fitsInView(const AcquisitionRig &rig, QCustomPlot *c, int chart, const QList<int> &sensors)
{
    QCPRange all, extent;
    bool any = false;
    for (int sensor : sensors) {
        if (plainExtent(rig.window->recordedTimes(), rig.window->channelSeries(2 * sensor - 1 + chart),
                        c->xAxis->range(), &extent)) {
            all =
                any ? QCPRange(std::min(all.lower, extent.lower), std::max(all.upper, extent.upper)) : extent;
            any = true;
        }
    }
    const QCPRange shown = c->yAxis->range();
    const double margin = all.size() / 20, tolerance = 1e-9 * std::max(1.0, all.size());
    if (any && std::abs(shown.lower - (all.lower - margin)) < tolerance &&
        std::abs(shown.upper - (all.upper + margin)) < tolerance)
        return true;
    qWarning("%s shows %.12g .. %.12g", qPrintable(c->objectName()), shown.lower, shown.upper);
    return false;
}

} // namespace

class TestChartView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }
    void theContextMenuFollowsAndSavesImages();
    void wheelDragAndDoubleClick();
    void valueAxesFitTheTimeInViewUntilTheOperatorZoomsThem();
    void valuesUnderTheMouseOnBothCharts();
    void theCursorBoxKeepsOffTheCurves();
    void aBoxIsPlacedBesideTheLineWhereTheCurvesAreNot();
    void saveImageFailsVisiblyAndCancelWritesNothing();
    void hugeAndNonFiniteValuesNeverFreezeAnAxis();
    void hiddenSensorsAreKeptUpToDateAndResetStartsAfresh();
    void aRedrawShowsWhatAWholeRedrawWould();
};

void TestChartView::theContextMenuFollowsAndSavesImages()
{
    AcquisitionRig rig(1);
    for (const char *name : {"plot", "plot2"}) {
        QCustomPlot *c = chart(rig, name);
        QCOMPARE(c->contextMenuPolicy(), Qt::ActionsContextMenu);
        QStringList texts;
        for (QAction *a : c->actions())
            texts << a->text();
        // The charts' own actions, then the window's.
        QCOMPARE(texts, QStringList({QStringLiteral("Follow the run"), QStringLiteral("Save Image..."),
                                     QStringLiteral("Image Size"), QStringLiteral("Time Axis"),
                                     QStringLiteral("Statistics..."), QStringLiteral("Wall Test..."),
                                     QStringLiteral("Open Recording..."), QStringLiteral("Watch a Rig..."),
                                     QStringLiteral("Mark"), QStringLiteral("Marks..."),
                                     QStringLiteral("Publish..."), QStringLiteral("Charts in a Window")}));
    }
}

void TestChartView::wheelDragAndDoubleClick()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.tick(2);
    rig.start();
    for (int i = 1; i <= 4; ++i) {
        rig.send(QByteArray::number(10 * i) + ',' + QByteArray::number(i) + ",1,2\n");
        QTest::qWait(100);
    }
    QTRY_COMPARE(rig.records(), 4);
    ChartFeeder *feeder = rig.window->chartFeeder();
    QCustomPlot *flux = chart(rig, "plot");
    QCustomPlot *temperature = chart(rig, "plot2");
    QVERIFY(feeder->isFollowing());
    QCOMPARE(flux->xAxis->range(), QCPRange(0, 30));
    const auto &flux1 = rig.window->channelSeries(1), &flux2 = rig.window->channelSeries(3);
    QVERIFY(showsWithRoom(flux->yAxis->range(), {&flux1, &flux2}));
    const QCPRange followedFlux = flux->yAxis->range();

    // The wheel zooms the time axis of both charts around the mouse.
    const QPoint at = inside(flux, 0.25, 0.5);
    const double keyAtMouse = flux->xAxis->pixelToCoord(at.x());
    wheel(flux, at, 120);
    const QCPRange zoomed = flux->xAxis->range();
    QVERIFY(std::abs(zoomed.size() - 30 * ChartViewController::ZoomPerNotch) < 1e-9);
    QVERIFY(std::abs(flux->xAxis->pixelToCoord(at.x()) - keyAtMouse) < 0.1);
    QCOMPARE(temperature->xAxis->range(), zoomed);
    QVERIFY(!feeder->isFollowing());

    // A record that would widen both axes leaves the zoomed view where it is (no record is in it).
    rig.send("500,3,4,5\n");
    QTRY_COMPARE(rig.records(), 5);
    AcquisitionRig::settle(120);
    QCOMPARE(flux->xAxis->range(), zoomed);
    QCOMPARE(flux->yAxis->range(), followedFlux);

    // Dragging pans the time axis: the curves follow the mouse.
    drag(flux, inside(flux, 0.5, 0.5), inside(flux, 0.5, 0.5) + QPoint(60, 0));
    const double shift = 60 * zoomed.size() / flux->axisRect()->width();
    QVERIFY(std::abs(flux->xAxis->range().lower - (zoomed.lower - shift)) < 1e-6);
    QCOMPARE(temperature->xAxis->range(), flux->xAxis->range());
    const QCPRange panned = flux->xAxis->range();
    // The records are in view now: the value axes fit them.
    QVERIFY(fitsInView(rig, flux, 0, {1, 2}) && fitsInView(rig, temperature, 1, {1, 2}));
    const QCPRange fluxFit = flux->yAxis->range(), temperatureFit = temperature->yAxis->range();

    // With Ctrl, the value axis of that chart: zoom, then pan.
    wheel(temperature, inside(temperature, 0.5, 0.5), -120, Qt::ControlModifier);
    QVERIFY(std::abs(temperature->yAxis->range().size() -
                     temperatureFit.size() / ChartViewController::ZoomPerNotch) < 1e-9);
    QCOMPARE(temperature->xAxis->range(), panned);
    QCOMPARE(flux->yAxis->range(), fluxFit);
    const QCPRange values = flux->yAxis->range();
    drag(flux, inside(flux, 0.5, 0.5), inside(flux, 0.5, 0.5) + QPoint(0, 26), Qt::ControlModifier);
    const double up = 26 * values.size() / flux->axisRect()->height();
    QVERIFY(std::abs(flux->yAxis->range().lower - (values.lower + up)) < 1e-6);
    QCOMPARE(flux->xAxis->range(), panned);

    // A double-click follows the whole run again, new records included.
    const QPoint middle = inside(flux, 0.5, 0.5);
    mouse(flux, QEvent::MouseButtonPress, middle, Qt::LeftButton, Qt::LeftButton);
    mouse(flux, QEvent::MouseButtonRelease, middle, Qt::LeftButton, Qt::NoButton);
    mouse(flux, QEvent::MouseButtonDblClick, middle, Qt::LeftButton, Qt::LeftButton);
    mouse(flux, QEvent::MouseButtonRelease, middle, Qt::LeftButton, Qt::NoButton);
    QVERIFY(feeder->isFollowing());
    QCOMPARE(flux->xAxis->range(), QCPRange(0, 30));
    QVERIFY(flux->yAxis->range().upper > 500 && showsWithRoom(flux->yAxis->range(), {&flux1, &flux2}));
    QCOMPARE(temperature->xAxis->range(), QCPRange(0, 30));
    QCOMPARE(temperature->yAxis->range(), QCPRange(0, 30));
    // A click without moving is not a drag.
    QVERIFY(feeder->isFollowing());

    // "Follow the run" from the context menu does the same.
    wheel(flux, inside(flux, 0.5, 0.5), 240);
    QVERIFY(!feeder->isFollowing());
    flux->actions().first()->trigger();
    QVERIFY(feeder->isFollowing());
    QCOMPARE(flux->xAxis->range(), QCPRange(0, 30));
}

void TestChartView::valueAxesFitTheTimeInViewUntilTheOperatorZoomsThem()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.start();
    // A spike first, then a slow drift: the followed axes stretch to the spike.
    rig.send("5,60,100,25\n");
    QTest::qWait(400);
    for (int i = 0; i < 30; ++i) {
        rig.pty.write(QByteArray::number(10 + i) + ',' + QByteArray::number(20 + i / 15.0) + ',' +
                      QByteArray::number(100 + i) + ",25\n");
        QTest::qWait(i % 5 == 4 ? 100 : 0);
    }
    QTRY_COMPARE(rig.records(), 31);
    auto *controller = rig.window->findChild<ChartViewController *>();
    QCustomPlot *flux = chart(rig, "plot");
    QCustomPlot *temperature = chart(rig, "plot2");
    const QVector<double> &t = rig.window->recordedTimes();
    const auto &flux1 = rig.window->channelSeries(1), &temperature1 = rig.window->channelSeries(2);
    QVERIFY(showsWithRoom(temperature->yAxis->range(), {&temperature1}));
    QVERIFY(temperature->yAxis->range().upper > 60);
    const QCPRange followedTemperature = temperature->yAxis->range();

    // Zoomed in on the drift: each value axis fits the curves in view, with a small margin.
    wheel(flux, QPoint(int(flux->xAxis->coordToPixel((t[1] + t.last()) / 2)), inside(flux, 0, 0.5).y()),
          15 * 120);
    QVERIFY(!flux->xAxis->range().contains(t[0]) && flux->xAxis->range().contains(t.last()));
    QVERIFY(fitsInView(rig, temperature, 1, {1}) && fitsInView(rig, flux, 0, {1}));
    QVERIFY(temperature->yAxis->range().size() < 2.5); // the 2-degree drift fills the chart

    // The operator's own zoom of a value axis holds while the time axis is panned and a sensor is
    // shown; the other axis fits each time.
    wheel(temperature, inside(temperature, 0.5, 0.5), 2 * 120, Qt::ControlModifier);
    const QCPRange ownZoom = temperature->yAxis->range();
    drag(flux, inside(flux, 0.5, 0.5), inside(flux, 0.5, 0.5) + QPoint(50, 0));
    QVERIFY(fitsInView(rig, flux, 0, {1}));
    rig.tick(2);
    QVERIFY(fitsInView(rig, flux, 0, {1, 2}));
    QCOMPARE(temperature->yAxis->range(), ownZoom);
    QVERIFY(controller->holdsValueAxis(1) && !controller->holdsValueAxis(0));

    // Following the whole run: the followed ranges as before, and the hold is over.
    flux->actions().first()->trigger();
    QCOMPARE(temperature->yAxis->range(), followedTemperature);
    const auto &flux2 = rig.window->channelSeries(3);
    QVERIFY(showsWithRoom(flux->yAxis->range(), {&flux1, &flux2}));
    wheel(temperature, QPoint(int(temperature->xAxis->coordToPixel(t[20])), inside(temperature, 0, 0.5).y()),
          14 * 120);
    QVERIFY(fitsInView(rig, temperature, 1, {1, 2}));

    // A Reset ends a hold as well.
    wheel(temperature, inside(temperature, 0.5, 0.5), 120, Qt::ControlModifier);
    QVERIFY(controller->holdsValueAxis(1));
    rig.reset();
    wheel(temperature, inside(temperature, 0.5, 0.5), 120);
    QVERIFY(!controller->holdsValueAxis(1));
}

void TestChartView::valuesUnderTheMouseOnBothCharts()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.start();
    for (const char *line : {"1.5,20.25,7,8\n", "-3.75,21,9,10\n", "12,22.5,11,12\n"}) {
        rig.send(line);
        QTest::qWait(300);
    }
    QTRY_COMPARE(rig.records(), 3);
    const QVector<double> &t = rig.window->recordedTimes();
    QCustomPlot *charts[] = {chart(rig, "plot"), chart(rig, "plot2")};
    auto *controller = rig.window->findChild<ChartViewController *>();
    ChartHoverLabel *labels[] = {controller->hoverLabel(0), controller->hoverLabel(1)};
    int wholeRedraws = 0;
    for (QCustomPlot *c : charts)
        connect(c, &QCustomPlot::afterReplot, [&] { ++wholeRedraws; });
    // The mouse a little after a record, over one chart: both show that record's values.
    auto hover = [&](int index, int record, const QStringList &flux, const QStringList &temperature) {
        QCustomPlot *c = charts[index];
        mouse(c, QEvent::MouseMove, QPoint(int(c->xAxis->coordToPixel(t[record])) + 1, inside(c, 0, 0.5).y()),
              Qt::NoButton, Qt::NoButton);
        for (int i = 0; i < 2; ++i) {
            QStringList texts{QStringLiteral("t = %1 s").arg(t[record], 0, 'f', 3)};
            texts << (i == 0 ? flux : temperature);
            QVERIFY(labels[i]->isShown());
            QCOMPARE(labels[i]->key(), t[record]);
            for (int k = 0; k < texts.size(); ++k) {
                QCOMPARE(labels[i]->lines().value(k).text, texts[k]);
                QCOMPARE(labels[i]->lines().value(k).colour,
                         k == 0 ? QColor(Qt::black) : charts[i]->graph(k - 1)->pen().color());
            }
            QCOMPARE(labels[i]->lines().size(), texts.size()); // shown sensors only
        }
    };
    const QImage unlabelled = charts[1]->grab().toImage();
    hover(0, 1, {QStringLiteral("Sensor 1: -3.75 W/m2")}, {QStringLiteral("Sensor 1: 21 C")});
    QVERIFY(charts[1]->grab().toImage() != unlabelled);
    hover(1, 2, {QStringLiteral("Sensor 1: 12 W/m2")}, {QStringLiteral("Sensor 1: 22.5 C")});
    // Moving the mouse drew the curves' layers only, never a whole chart.
    QCOMPARE(wholeRedraws, 0);
    rig.tick(2);
    hover(1, 0, {QStringLiteral("Sensor 1: 1.5 W/m2"), QStringLiteral("Sensor 2: 7 W/m2")},
          {QStringLiteral("Sensor 1: 20.25 C"), QStringLiteral("Sensor 2: 8 C")});

    // Leaving a chart takes the cursor away from both; so does the mouse outside the plot area.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(charts[1], &leave);
    QVERIFY(!labels[0]->isShown() && !labels[1]->isShown());
    hover(0, 1, {QStringLiteral("Sensor 1: -3.75 W/m2"), QStringLiteral("Sensor 2: 9 W/m2")},
          {QStringLiteral("Sensor 1: 21 C"), QStringLiteral("Sensor 2: 10 C")});
    mouse(charts[0], QEvent::MouseMove, QPoint(2, 2), Qt::NoButton, Qt::NoButton);
    QVERIFY(!labels[0]->isShown() && !labels[1]->isShown());
    // ...and leaves no trace: the charts show what drawing them all anew shows.
    const QImage unlabelledAgain[] = {charts[0]->grab().toImage(), charts[1]->grab().toImage()};
    rig.window->chartFeeder()->redraw(true);
    QCOMPARE(unlabelledAgain[0], charts[0]->grab().toImage());
    QCOMPARE(unlabelledAgain[1], charts[1]->grab().toImage());
}

void TestChartView::theCursorBoxKeepsOffTheCurves()
{
    // Level curves with a drop (heat flux) or a rise (temperature) at the end; the time axis zoomed
    // onto the run, the value axes fitted: the flux curve runs along the top of its chart, where a
    // box at the top would cover it, the temperature near the bottom, with the mouse a little
    // above it, where a box below the mouse would cover it.
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    for (int chunk = 0; chunk < 18; ++chunk) {
        rig.send(chunk < 16 ? "50,20\n50,20.5\n" : "0,21\n0,22\n");
        QTest::qWait(80);
    }
    QTRY_COMPARE(rig.records(), 36);
    const QVector<double> &t = rig.window->recordedTimes();
    auto *controller = rig.window->findChild<ChartViewController *>();
    for (int index = 0; index < 2; ++index) {
        QCustomPlot *c = chart(rig, index == 0 ? "plot" : "plot2");
        wheel(c, inside(c, 0, 0.5), 10 * 120); // about the start: the run fills the view
        QVERIFY(c->xAxis->range().contains(t.last()));
        const QImage curves = c->grab().toImage();
        for (int i : {2, 6}) {
            const double y = index == 0 ? c->yAxis->coordToPixel(50) + 25 : c->yAxis->coordToPixel(20.5) - 25;
            mouse(c, QEvent::MouseMove, QPointF(c->xAxis->coordToPixel(t[i]), y).toPoint(), Qt::NoButton,
                  Qt::NoButton);
            const QRectF box = controller->hoverLabel(index)->box();
            const double line = c->xAxis->coordToPixel(t[i]);
            QVERIFY(QRectF(c->axisRect()->rect()).contains(box) && (box.left() > line || box.right() < line));
            QCOMPARE(pixelsOf(curves, QColor(255, 0, 0), box.toAlignedRect()), 0);
        }
        rig.window->chartFeeder()->setFollowing(true);
    }
}

void TestChartView::aBoxIsPlacedBesideTheLineWhereTheCurvesAreNot()
{
    // Curves: their vertical extents beside the line, on the right and on the left.
    const QRectF area(50, 10, 400, 200);
    const QSizeF size(120, 44);
    auto place = [&](double x, const QVector<QCPRange> &right, const QVector<QCPRange> &left) {
        return placeBesideLine(area, x, size, ChartCursor::Gap, {right, left});
    };
    auto clear = [](const QRectF &box, const QVector<QCPRange> &curves) {
        return std::all_of(curves.begin(), curves.end(), [&](const QCPRange &c) {
            return box.bottom() <= c.lower || box.top() >= c.upper;
        });
    };
    const QVector<QCPRange> top{QCPRange(10, 90)}, both{QCPRange(10, 70), QCPRange(140, 210)};
    const QVector<QCPRange> all{QCPRange(10, 210)};
    // On the right when it can, clear of the curves: below, between or above them.
    for (const QVector<QCPRange> &right : {QVector<QCPRange>(), top, both}) {
        const QRectF box = place(200, right, all);
        QVERIFY(area.contains(box) && box.left() >= 200 + ChartCursor::Gap && clear(box, right));
    }
    // On the left when the right is full of curves or has no room.
    for (double x : {200.0, 440.0}) {
        const QRectF box = place(x, x < 400 ? all : QVector<QCPRange>(), top);
        QVERIFY(area.contains(box) && box.right() <= x - ChartCursor::Gap && clear(box, top));
    }
    // No place free of curves: the gap between them, covering as little as it can.
    const QRectF box = place(200, {QCPRange(10, 150), QCPRange(170, 210)}, all);
    QVERIFY2(box.left() > 200 && box.top() >= 120 && box.bottom() <= 200,
             qPrintable(QString::number(box.top())));
}

void TestChartView::saveImageFailsVisiblyAndCancelWritesNothing()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    AcquisitionRig rig(1);
    rig.start();
    rig.send("1,2\n");
    QTRY_COMPARE(rig.records(), 1);

    QList<ModalCloser::Seen> boxes = rig.runAsking("actionSaveImage", QString());
    QCOMPARE(boxes.size(), 1);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // A folder that is a regular file: nothing can be created in it (even by root).
    QFile notAFolder(dir.filePath(QStringLiteral("plain file")));
    QVERIFY(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    for (const char *name : {"charts.png", "charts.pdf"}) {
        const QString path = dir.filePath(QStringLiteral("plain file/") + QLatin1String(name));
        boxes = rig.runAsking("actionSaveImage", path);
        const auto warning = std::find_if(boxes.begin(), boxes.end(), [](const ModalCloser::Seen &s) {
            return s.title == QStringLiteral("Save Error");
        });
        QVERIFY2(warning != boxes.end(), "no Save Error box");
        QCOMPARE(warning->className, QStringLiteral("QMessageBox"));
        QVERIFY(warning->text.contains(path));
        QVERIFY(!QFile::exists(path));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("plain file")});

    // A name that is a pipe (as a device would be) is refused, not replaced by a regular file.
    const QString pipe = dir.filePath(QStringLiteral("pipe.png"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    boxes = rig.runAsking("actionSaveImage", pipe);
    const auto warning = std::find_if(boxes.begin(), boxes.end(), [](const ModalCloser::Seen &s) {
        return s.title == QStringLiteral("Save Error");
    });
    QVERIFY2(warning != boxes.end(), "no Save Error box");
    QVERIFY(warning->text.contains(QStringLiteral("not a regular file")));
    struct stat st
    {
    };
    QCOMPARE(::stat(QFile::encodeName(pipe).constData(), &st), 0);
    QVERIFY(S_ISFIFO(st.st_mode));
}

void TestChartView::hugeAndNonFiniteValuesNeverFreezeAnAxis()
{
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    rig.send("1e300,20\n");
    QTRY_COMPARE(rig.records(), 1);
    QCustomPlot *flux = chart(rig, "plot");
    QVERIFY(flux->yAxis->range().upper > 1e200);
    QCOMPARE(flux->yAxis->range().lower, 0.0);
    // Later ordinary values still widen the axis: it follows on.
    rig.send("-40,20\n");
    QTRY_COMPARE(rig.records(), 2);
    QVERIFY(flux->yAxis->range().lower < -40);
    QVERIFY(flux->yAxis->range().upper > 1e200);
    // Non-finite values stretch nothing.
    const QCPRange before = flux->yAxis->range();
    rig.send("nan,inf\n-inf,-inf\n");
    QTRY_COMPARE(rig.records(), 4);
    QCOMPARE(flux->yAxis->range(), before);
    QCOMPARE(chart(rig, "plot2")->yAxis->range(), QCPRange(0, 30));
    // Drawing such a run works (nothing to see of the huge value but the axis).
    rig.window->chartFeeder()->redraw();
    QVERIFY(pixelsOf(flux, QColor(255, 0, 0)) > 0);
}

void TestChartView::hiddenSensorsAreKeptUpToDateAndResetStartsAfresh()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.start();
    // The first record starts the run's clock, and the others come later: records stamped at 0 s
    // lie on the chart's left frame, where the value axis's line covers the curve. Sensor 2's
    // values are below the others, away from the run's Start mark, whose label covers the top of
    // the charts' first seconds. (The bursts may be read at once and stamped alike on a busy
    // machine: one stroke, not three.)
    rig.send("8,5,-42,6\n");
    QTRY_COMPARE(rig.records(), 1);
    QTest::qWait(300);
    QByteArray burst;
    for (int i = 0; i < 300; ++i)
        burst += QByteArray::number(i % 17) + ",5," + QByteArray::number(-40 - i % 5) + ",6\n";
    for (int part = 0; part < 3; ++part) {
        rig.send(burst.mid(part * burst.size() / 3, burst.size() / 3));
        QTest::qWait(100);
    }
    QTRY_COMPARE(rig.records(), 301);
    ChartFeeder *feeder = rig.window->chartFeeder();
    const ChartData &data = feeder->data();
    QCustomPlot *flux = chart(rig, "plot");
    const QColor green(0, 155, 0);
    // Sensor 2 is hidden, but its envelope holds every record...
    quint64 records = 0;
    for (int i = 0; i < data.envelope().size(); ++i) {
        records += data.envelope().at(2, i).records;
        if (data.envelope().at(2, i).hasValues()) {
            QVERIFY(data.envelope().at(2, i).lowest >= -44);
            QVERIFY(data.envelope().at(2, i).highest <= -40);
        }
    }
    QCOMPARE(records, quint64(301));
    QCOMPARE(pixelsOf(flux, green), 0);
    QVERIFY(flux->yAxis->range().lower > -40); // hidden curves do not stretch the axes
    // ...so showing it draws the whole curve at once: from -40 to -44 W/m2, however its records
    // were bunched in time.
    rig.tick(2);
    QVERIFY(
        showsWithRoom(flux->yAxis->range(), {&rig.window->channelSeries(1), &rig.window->channelSeries(3)}));
    const auto [top, bottom] = inkedRows(flux, green);
    const double y40 = flux->yAxis->coordToPixel(-40), y44 = flux->yAxis->coordToPixel(-44);
    QVERIFY2(std::abs(top - y40) <= 2 && std::abs(bottom - y44) <= 2,
             qPrintable(QStringLiteral("green rows %1..%2 for -40..-44 at %3..%4")
                            .arg(top)
                            .arg(bottom)
                            .arg(y40)
                            .arg(y44)));

    // Zoomed in, then Reset: the charts forget the run, follow the new one from 0..30.
    wheel(flux, inside(flux, 0.5, 0.5), 360);
    QVERIFY(!feeder->isFollowing());
    rig.reset();
    QVERIFY(feeder->isFollowing());
    QCOMPARE(data.recordCount(), qint64(0));
    QVERIFY(data.envelope().isEmpty());
    QCOMPARE(flux->xAxis->range(), QCPRange(0, 30));
    QCOMPARE(flux->yAxis->range(), QCPRange(0, 30));
    rig.send("3,4,5,6\n");
    QTRY_COMPARE(rig.records(), 1);
    QCOMPARE(data.recordCount(), qint64(1));
    QCOMPARE(flux->graph(1)->dataCount(), 1);
}

// Most redraws draw only the curves and leave the axes, grid and labels as they were drawn last.
// What the chart widget shows must still be what drawing everything anew would show, also after
// the value axis widened, after an image of another size was made and after a resize.
void TestChartView::aRedrawShowsWhatAWholeRedrawWould()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.tick(2);
    rig.start();
    ChartFeeder *feeder = rig.window->chartFeeder();
    QCustomPlot *flux = chart(rig, "plot");
    int wholeReplots = 0, curvesOnly = 0;
    connect(flux, &QCustomPlot::afterReplot, [&] { ++wholeReplots; });
    auto redrawShowsWhole = [&](const char *after) {
        const int before = wholeReplots;
        feeder->redraw();
        curvesOnly += wholeReplots == before;
        const QImage shown = flux->grab().toImage();
        feeder->redraw(true);
        if (shown != flux->grab().toImage())
            QFAIL(qPrintable(QStringLiteral("the chart differs from a whole redraw after %1").arg(after)));
    };

    for (int i = 1; i <= 6; ++i) {
        rig.send(QByteArray::number(3 * i) + ",20," + QByteArray::number(10 - i) + ",21\n");
        redrawShowsWhole("a record");
    }
    rig.send("500,20,1,21\n");
    redrawShowsWhole("the value axis widened");

    rig.send("7,20,2,21\n");
    flux->toPixmap(200, 120); // as "Save Image..." does, at another size
    rig.send("8,20,3,21\n");
    redrawShowsWhole("an image of another size");

    rig.window->resize(rig.window->size() + QSize(40, 30));
    QTest::qWait(50);
    rig.send("9,20,4,21\n");
    redrawShowsWhole("a resize");
    // The records that moved no axis were drawn without the axes.
    QVERIFY2(curvesOnly >= 5, qPrintable(QString::number(curvesOnly)));
    QCOMPARE(rig.records(), 10);
}

QTEST_MAIN(TestChartView)
#include "tst_chartview.moc"

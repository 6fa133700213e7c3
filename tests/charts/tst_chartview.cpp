// SPDX-License-Identifier: GPL-3.0-or-later
// Looking at the charts of a running acquisition: zooming and panning with the mouse, following
// the run again, the values under the mouse, saving the charts as a picture, axes that take any
// value, and the charts' summaries of hidden sensors and after Reset.
#include "charts/chartfeeder.h"
#include "charts/charthover.h"
#include "charts/chartimage.h"
#include "charts/chartview.h"
#include "support/acquisitionrig.h"
#include "support/modalcloser.h"

#include <QAction>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>
#include <sys/stat.h>

namespace {

QCustomPlot *chart(const AcquisitionRig &rig, const char *name)
{
    return rig.widget<QCustomPlot>(name);
}

// A point inside the chart's plot area, at fractions of its width and height.
QPoint inside(QCustomPlot *c, double fx, double fy)
{
    const QRect r = c->axisRect()->rect();
    return QPoint(r.left() + int(fx * r.width()), r.top() + int(fy * r.height()));
}

void wheel(QCustomPlot *c, const QPoint &pos, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWheelEvent event(pos, c->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(c, &event);
}

void mouse(QCustomPlot *c, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
           Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, pos, c->mapToGlobal(pos), button, buttons, modifiers);
    QApplication::sendEvent(c, &event);
}

void drag(QCustomPlot *c, const QPoint &from, const QPoint &to,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    mouse(c, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
    for (int i = 1; i <= 4; ++i)
        mouse(c, QEvent::MouseMove, from + (to - from) * i / 4, Qt::NoButton, Qt::LeftButton, modifiers);
    mouse(c, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
}

// Pixels of exactly this colour in the chart as it draws itself now.
int pixelsOf(QCustomPlot *c, const QColor &colour)
{
    const QImage image = c->toPixmap().toImage().convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) | 0xff000000u) == colour.rgb() ? 1 : 0;
    }
    return n;
}

} // namespace

class TestChartView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }
    void theContextMenuFollowsAndSavesImages();
    void wheelDragAndDoubleClick();
    void valuesUnderTheMouse();
    void saveImageWritesPngAndPdf();
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
        // The charts' own first; the window's own (marks) follow.
        QCOMPARE(texts.mid(0, 2),
                 QStringList({QStringLiteral("Follow the run"), QStringLiteral("Save Image...")}));
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
    QCOMPARE(flux->yAxis->range(), QCPRange(0, 40));

    // The wheel zooms the time axis of both charts around the mouse.
    const QPoint at = inside(flux, 0.25, 0.5);
    const double keyAtMouse = flux->xAxis->pixelToCoord(at.x());
    wheel(flux, at, 120);
    const QCPRange zoomed = flux->xAxis->range();
    QVERIFY(std::abs(zoomed.size() - 30 * ChartViewController::ZoomPerNotch) < 1e-9);
    QVERIFY(std::abs(flux->xAxis->pixelToCoord(at.x()) - keyAtMouse) < 0.1);
    QCOMPARE(temperature->xAxis->range(), zoomed);
    QVERIFY(!feeder->isFollowing());

    // A record that would widen both axes leaves the zoomed view where it is.
    rig.send("500,3,4,5\n");
    QTRY_COMPARE(rig.records(), 5);
    AcquisitionRig::settle(120);
    QCOMPARE(flux->xAxis->range(), zoomed);
    QCOMPARE(flux->yAxis->range(), QCPRange(0, 40));

    // Dragging pans the time axis: the curves follow the mouse.
    drag(flux, inside(flux, 0.5, 0.5), inside(flux, 0.5, 0.5) + QPoint(60, 0));
    const double shift = 60 * zoomed.size() / flux->axisRect()->width();
    QVERIFY(std::abs(flux->xAxis->range().lower - (zoomed.lower - shift)) < 1e-6);
    QCOMPARE(temperature->xAxis->range(), flux->xAxis->range());
    const QCPRange panned = flux->xAxis->range();

    // With Ctrl, the value axis of that chart: zoom, then pan.
    wheel(temperature, inside(temperature, 0.5, 0.5), -120, Qt::ControlModifier);
    QVERIFY(std::abs(temperature->yAxis->range().size() - 30 / ChartViewController::ZoomPerNotch) < 1e-9);
    QCOMPARE(temperature->xAxis->range(), panned);
    QCOMPARE(flux->yAxis->range(), QCPRange(0, 40));
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
    QCOMPARE(flux->yAxis->range(), QCPRange(0, 500));
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

void TestChartView::valuesUnderTheMouse()
{
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.start();
    const QByteArray lines[] = {"1.5,20.25,7,8\n", "-3.75,21,9,10\n", "12,22.5,11,12\n"};
    for (const QByteArray &line : lines) {
        rig.send(line);
        QTest::qWait(300);
    }
    QTRY_COMPARE(rig.records(), 3);
    const QVector<double> &t = rig.window->recordedTimes();
    QCustomPlot *flux = chart(rig, "plot");
    QCustomPlot *temperature = chart(rig, "plot2");
    auto *controller = rig.window->findChild<ChartViewController *>();
    QVERIFY(controller);

    // Nearest to the mouse: the second record (the mouse is a little after it).
    auto hover = [&](QCustomPlot *c, double time) {
        const QPoint pos(int(c->xAxis->coordToPixel(time)) + 1, inside(c, 0, 0.5).y());
        mouse(c, QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
    };
    const QImage unlabelled = flux->grab().toImage();
    hover(flux, t[1]);
    QVERIFY(flux->grab().toImage() != unlabelled);
    ChartHoverLabel *label = controller->hoverLabel(0);
    QVERIFY(label->isShown());
    QList<ChartHoverLabel::Line> shown = label->lines();
    QCOMPARE(shown.size(), 2); // sensor 2 is not shown
    QCOMPARE(shown[0].text, QStringLiteral("t = %1 s").arg(t[1], 0, 'f', 3));
    QCOMPARE(shown[1].text, QStringLiteral("Sensor 1: -3.75 W/m2"));
    QCOMPARE(shown[1].colour, QColor(255, 0, 0));

    hover(temperature, t[2]);
    shown = controller->hoverLabel(1)->lines();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].text, QStringLiteral("Sensor 1: 22.5 C"));

    // Shown sensors only, each in its colour.
    rig.tick(2);
    hover(temperature, t[0]);
    shown = controller->hoverLabel(1)->lines();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown[0].text, QStringLiteral("t = %1 s").arg(t[0], 0, 'f', 3));
    QCOMPARE(shown[1].text, QStringLiteral("Sensor 1: 20.25 C"));
    QCOMPARE(shown[2].text, QStringLiteral("Sensor 2: 8 C"));
    QCOMPARE(shown[2].colour, QColor(0, 155, 0));

    // Leaving the chart takes the label away; so does the mouse outside the plot area.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(temperature, &leave);
    QVERIFY(!controller->hoverLabel(1)->isShown());
    mouse(flux, QEvent::MouseMove, QPoint(2, 2), Qt::NoButton, Qt::NoButton);
    QVERIFY(!label->isShown());
    // ...and leaves no trace: the chart shows what drawing it all anew shows.
    const QImage unlabelledAgain = flux->grab().toImage();
    rig.window->chartFeeder()->redraw(true);
    QCOMPARE(unlabelledAgain, flux->grab().toImage());
}

void TestChartView::saveImageWritesPngAndPdf()
{
    QTemporaryDir dir;
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    rig.send("10,5\n");
    QTest::qWait(200);
    rig.send("25,25\n");
    QTRY_COMPARE(rig.records(), 2);
    QCustomPlot *flux = chart(rig, "plot");
    QCustomPlot *temperature = chart(rig, "plot2");
    const QSize expected(std::max(flux->width(), temperature->width()),
                         flux->height() + temperature->height());
    QCOMPARE(chartsImageSize({flux, temperature}), expected);

    const QString png = dir.filePath(QStringLiteral("both charts.png"));
    QList<ModalCloser::Seen> boxes = rig.runAsking("actionSaveImage", png);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QStringLiteral("Save Image"));
    const QImage image(png);
    QCOMPARE(image.size(), expected);
    // Both charts are in it, one above the other: the red curve in each half.
    int upper = 0, lower = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) | 0xff000000u) == QColor(255, 0, 0).rgb())
                ++(y < flux->height() ? upper : lower);
        }
    }
    QVERIFY2(upper > 10 && lower > 10,
             qPrintable(QStringLiteral("%1 and %2 red pixels").arg(upper).arg(lower)));

    const QString pdf = dir.filePath(QStringLiteral("charts.PDF"));
    boxes = rig.runAsking("actionSaveImage", pdf);
    QCOMPARE(boxes.size(), 1);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    // One page, as large (in points) as the charts on screen (in pixels).
    const QRegularExpression mediaBox(QStringLiteral("/MediaBox \\[\\s*0 0 ([0-9.]+) ([0-9.]+)\\s*\\]"));
    const QString text = QString::fromLatin1(bytes.constData(), bytes.size()); // binary, with NULs
    const QRegularExpressionMatch m = mediaBox.match(text);
    QVERIFY(m.hasMatch());
    QVERIFY(std::abs(m.captured(1).toDouble() - expected.width()) < 1);
    QVERIFY(std::abs(m.captured(2).toDouble() - expected.height()) < 1);
    QCOMPARE(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))), 1);
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
    QCOMPARE(flux->yAxis->range().lower, -40.0);
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
    QByteArray burst;
    for (int i = 0; i < 300; ++i)
        burst += QByteArray::number(i % 17) + ",5," + QByteArray::number(40 + i % 5) + ",6\n";
    for (int part = 0; part < 3; ++part) {
        rig.send(burst.mid(part * burst.size() / 3, burst.size() / 3));
        QTest::qWait(100);
    }
    QTRY_COMPARE(rig.records(), 300);
    ChartFeeder *feeder = rig.window->chartFeeder();
    const ChartData &data = feeder->data();
    QCustomPlot *flux = chart(rig, "plot");
    const QColor green(0, 155, 0);
    // Sensor 2 is hidden, but its envelope holds every record...
    quint64 records = 0;
    for (int i = 0; i < data.envelope().size(); ++i) {
        records += data.envelope().at(2, i).records;
        if (data.envelope().at(2, i).hasValues()) {
            QVERIFY(data.envelope().at(2, i).lowest >= 40);
            QVERIFY(data.envelope().at(2, i).highest <= 44);
        }
    }
    QCOMPARE(records, quint64(300));
    QCOMPARE(pixelsOf(flux, green), 0);
    QVERIFY(flux->yAxis->range().upper < 40); // hidden curves do not stretch the axes
    // ...so showing it draws the whole curve at once.
    rig.tick(2);
    QCOMPARE(flux->yAxis->range().upper, 44.0);
    QVERIFY(pixelsOf(flux, green) > 20);

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

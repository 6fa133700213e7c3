// SPDX-License-Identifier: GPL-3.0-or-later
// "Save Image..." at the scale of the screen the charts are on (ctest runs this at scale 1 and 2,
// through QT_SCALE_FACTOR): both charts in one picture under a title line (the live recording and
// the run's start) and a legend of the shown sensors in their colours, with "Time (s)" under each
// chart; at scale 2 twice the pixels and 192 dpi; at a chosen ratio, that. The PDF likewise.
#include "acquisition/runsafety/liverecorder.h"
#include "charts/chartview.h"
#include "charts/imagesizemenu.h"
#include "support/acquisitionrig.h"
#include "support/imagedifference.h"

#include <QBuffer>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

namespace {

// The part of picture at rect (chart pixels), in the picture's pixels.
QImage part(const QImage &picture, const QRectF &rect, int scale)
{
    return picture.copy(QRectF(rect.topLeft() * scale, rect.size() * scale).toAlignedRect());
}

// Whether part of the picture shows text drawn plainly, centred in it (on as many lines as it needs).
QString differsFromText(const QImage &shown, const QString &text, const QFont &font, int scale)
{
    QImage image(shown.size(), QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.drawText(QRectF(QPointF(0, 0), QSizeF(shown.size()) / scale), Qt::AlignCenter | Qt::TextWordWrap,
                     text);
    painter.end();
    return blendingDifference(shown, image);
}

int pixelsWhere(const QImage &image, bool (*test)(QRgb, QRgb), QRgb colour = 0)
{
    return countPixels(image, [&](const QColor &c) { return test(c.rgb(), colour); });
}
bool same(QRgb a, QRgb b)
{
    return a == b;
}
bool dark(QRgb a, QRgb)
{
    return qGray(a) < 100;
}

} // namespace

class TestChartImage : public QObject
{
    Q_OBJECT

private slots:
    void titleLegendChartsAndTimeLabelsAtTheScreensScale();
    void wholeLegendAndAChosenSize();
};

void TestChartImage::titleLegendChartsAndTimeLabelsAtTheScreensScale()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const int scale = qEnvironmentVariableIntValue("QUELLSPAN_EXPECT_SCALE");
    QVERIFY2(scale >= 1, "QUELLSPAN_EXPECT_SCALE (1 or 2) is not set");
    QTemporaryDir dir;
    // The title, on its own: a known start with its offset from UTC, kept together on a line.
    const QDateTime start(QDate(2026, 12, 7), QTime(14, 5, 9), Qt::OffsetFromUTC, -9000);
    QCOMPARE(chartsTitleText({QStringLiteral("a.csv"), start}),
             QStringLiteral("a.csv, started\u00a02026-12-07\u00a014:05:09\u00a0UTC-02:30"));

    // A run of three sensors, sensors 1 and 3 shown.
    AcquisitionRig rig(3);
    rig.tick(1);
    rig.tick(3);
    rig.start();
    rig.send("10,5,1,2,3,4\n");
    QTest::qWait(200);
    rig.send("25,25,2,3,4,5\n");
    QTRY_COMPARE(rig.records(), 2);
    QCustomPlot *charts[] = {rig.widget<QCustomPlot>("plot"), rig.widget<QCustomPlot>("plot2")};
    auto *controller = rig.window->findChild<ChartViewController *>();
    QCOMPARE(charts[0]->devicePixelRatioF(), qreal(scale));
    const ChartsPicture picture = controller->picture();
    QCOMPARE(picture.pixelRatio, double(scale));
    QVERIFY(picture.title.startsWith(QFileInfo(rig.window->liveRecorder()->fileName()).fileName() +
                                     QStringLiteral(", started\u00a0")));

    const QString png = dir.filePath(QStringLiteral("both charts.png"));
    QCOMPARE(rig.runAsking("actionSaveImage", png).size(), 1);
    const QImage image(png);
    const QImage measure(1, 1, QImage::Format_RGB32);
    const ChartsPictureLayout layout = layOutChartsPicture({charts[0], charts[1]}, picture, &measure);
    // The charts at their size on screen with rows of text above and below, at the screen's scale,
    // and a file that says so: 96 dpi times the scale.
    QCOMPARE(layout.size.width(), charts[0]->width());
    QVERIFY(layout.size.height() > charts[0]->height() + charts[1]->height() + 40);
    QCOMPARE(image.size(), layout.size * scale);
    QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), 96 * scale);
    QCOMPARE(qRound(image.dotsPerMeterY() * 0.0254), 96 * scale);

    // The title line, all of it (not cut at the picture's edges: it wraps).
    QFont bold = charts[0]->font();
    bold.setBold(true);
    const QImage title = part(image, layout.title, scale);
    QVERIFY(pixelsWhere(title, dark) > 100 * scale);
    QString how = differsFromText(title, picture.title, bold, scale);
    QVERIFY2(how.isEmpty(), qPrintable(how));
    QCOMPARE(pixelsWhere(title.copy(0, 0, 1, title.height()), dark), 0);
    QCOMPARE(pixelsWhere(title.copy(title.width() - 1, 0, 1, title.height()), dark), 0);
    // The legend: the shown sensors' lines in their colours, with names; no hidden sensor.
    QCOMPARE(layout.legend.size(), 2);
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
    for (int i = 0; i < 2; ++i) {
        const QImage entry = part(image, layout.legend[i], scale);
        QVERIFY(pixelsWhere(entry, same, colours[i]) >= 20 * scale * scale &&
                pixelsWhere(entry, dark) > 30 * scale);
    }
    const QRectF legend = layout.legend[0].united(layout.legend[1]);
    QCOMPARE(pixelsWhere(part(image, legend, scale), same, qRgb(0, 155, 0)), 0);
    QVERIFY(layout.title.bottom() <= legend.top() && legend.bottom() <= layout.charts[0].top());
    // Both charts, one above the other (the red curve in each), each with "Time (s)" under it.
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(layout.charts[i].size(), QSizeF(charts[i]->size()));
        QVERIFY(pixelsWhere(part(image, layout.charts[i], scale), same, colours[0]) > 10 * scale);
        QVERIFY(layout.timeLabels[i].top() >= layout.charts[i].bottom());
        QCOMPARE(layout.timeLabels[i].center().x(), QRectF(charts[i]->axisRect()->rect()).center().x());
        how = differsFromText(part(image, layout.timeLabels[i], scale), QStringLiteral("Time (s)"),
                              charts[i]->xAxis->labelFont(), scale);
        QVERIFY2(how.isEmpty(), qPrintable(how));
    }
    QVERIFY(layout.charts[1].top() >= layout.timeLabels[0].bottom());

    // A chosen pixel ratio instead of the screen's.
    controller->setImagePixelRatio(3);
    const QString larger = dir.filePath(QStringLiteral("three times.png"));
    rig.runAsking("actionSaveImage", larger);
    QCOMPARE(QImage(larger).size(), layout.size * 3);
    QCOMPARE(qRound(QImage(larger).dotsPerMeterX() * 0.0254), 288);

    // The PDF: one page, as large (in points) as the picture measured for 72 points per inch.
    const QString pdf = dir.filePath(QStringLiteral("charts.PDF"));
    QCOMPARE(rig.runAsking("actionSaveImage", pdf).size(), 1);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QPdfWriter points(&sink);
    points.setResolution(72);
    const QSize size = layOutChartsPicture({charts[0], charts[1]}, picture, &points).size;
    QVERIFY(size.width() == charts[0]->width() &&
            size.height() > charts[0]->height() + charts[1]->height() + 30);
    const QString content = QString::fromLatin1(bytes.constData(), bytes.size()); // binary, with NULs
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("/MediaBox \\[\\s*0 0 ([0-9.]+) ([0-9.]+)\\s*\\]")).match(content);
    QVERIFY(m.hasMatch());
    QVERIFY(std::abs(m.captured(1).toDouble() - size.width()) < 1 &&
            std::abs(m.captured(2).toDouble() - size.height()) < 1);
    QCOMPARE(content.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))), 1);
}

void TestChartImage::wholeLegendAndAChosenSize()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const int scale = qEnvironmentVariableIntValue("QUELLSPAN_EXPECT_SCALE");
    QTemporaryDir dir;
    AcquisitionRig rig(4);
    for (int sensor = 1; sensor <= 4; ++sensor)
        rig.tick(sensor);
    rig.start();
    rig.send("1,20,2,21,3,22,4,23\n");
    QTRY_COMPARE(rig.records(), 1);
    QCustomPlot *charts[] = {rig.widget<QCustomPlot>("plot"), rig.widget<QCustomPlot>("plot2")};
    auto *controller = rig.window->findChild<ChartViewController *>();
    // Text large for the chart's width: the legend takes two rows or more, every entry whole.
    QFont large = charts[0]->font();
    large.setPointSizeF(large.pointSizeF() * 2.2);
    charts[0]->setFont(large);
    const ChartsPicture picture = controller->picture();
    QCOMPARE(picture.legend.size(), 4);
    const QImage measure(1, 1, QImage::Format_RGB32);
    const ChartsPictureLayout layout = layOutChartsPicture({charts[0], charts[1]}, picture, &measure);
    QCOMPARE(layout.legend.size(), 4);
    QVERIFY(layout.legend.first().top() < layout.legend.last().top());
    const QFontMetricsF metrics(large, &measure);
    for (int i = 0; i < 4; ++i) {
        const QRectF entry = layout.legend[i];
        QVERIFY2(entry.left() >= 0 && entry.right() <= charts[0]->width(),
                 qPrintable(picture.legend[i].name));
        QVERIFY(entry.width() >= metrics.horizontalAdvance(picture.legend[i].name) + 24);
        for (int j = 0; j < i; ++j)
            QVERIFY(!entry.intersects(layout.legend[j]));
        QVERIFY(entry.bottom() <= layout.charts[0].top());
    }
    const QString png = dir.filePath(QStringLiteral("legend.png"));
    rig.runAsking("actionSaveImage", png);
    const QImage image(png);
    QCOMPARE(image.size(), layout.size * scale);
    for (int i = 0; i < 4; ++i) {
        // The name, right of the line, drawn in full: dark pixels up to its end.
        const QRectF name = layout.legend[i].adjusted(29, 0, 0, 0);
        const QImage tail = part(image, name.adjusted(name.width() * 0.75, 0, 0, 0), scale);
        QVERIFY2(pixelsWhere(tail, dark) > 5 * scale, qPrintable(picture.legend[i].name));
    }

    // 1600 x 1200 pixels: the picture scaled to fill it, its text with it.
    controller->imageSizeMenu()->setSize(QSize(1600, 1200));
    const QString big = dir.filePath(QStringLiteral("big.png"));
    rig.runAsking("actionSaveImage", big);
    const QImage large1600(big);
    QCOMPARE(large1600.size(), QSize(1600, 1200));
    const double ratio = std::min(1600.0 / layout.size.width(), 1200.0 / layout.size.height());
    QVERIFY(ratio > 1.5);
    // The legend's first entry, where the scaled picture puts it, holds sensor 1's red line.
    const QPointF origin((1600 / ratio - layout.size.width()) / 2, (1200 / ratio - layout.size.height()) / 2);
    const QRectF first = layout.legend[0].translated(origin);
    const QImage entry =
        large1600.copy(QRectF(first.topLeft() * ratio, first.size() * ratio).toAlignedRect());
    QVERIFY(pixelsWhere(entry, same, qRgb(255, 0, 0)) >= int(20 * ratio * ratio));
    // Sizes typed for Custom...
    QCOMPARE(ImageSizeMenu::parse(QStringLiteral(" 1920 x 1080 ")), QSize(1920, 1080));
    QCOMPARE(ImageSizeMenu::parse(QString::fromUtf8("800\u00d7600")), QSize(800, 600));
    for (const char *wrong : {"1920", "0 x 100", "20000 x 100", "a x b", "-5 x 10", ""})
        QVERIFY2(ImageSizeMenu::parse(QLatin1String(wrong)).isEmpty(), wrong);
}

QTEST_MAIN(TestChartImage)
#include "tst_chartimage.moc"

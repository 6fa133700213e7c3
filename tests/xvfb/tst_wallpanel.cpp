// SPDX-License-Identifier: GPL-3.0-or-later
// The wall-test panel on a real (virtual) X server, showing a synthetic five-day run of a wall
// that settles: the window fits the screen, no text in it is cut, and its chart shows R(t) and
// the band of criterion B. The screenshot stays in a temporary folder whose path is printed.

#include "analysis/panels/walltestchart.h"
#include "analysis/panels/walltestpanel.h"
#include "support/imagedifference.h"
#include "support/recordedrun.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <cmath>

class TestWallPanel : public QObject
{
    Q_OBJECT

private slots:
    void showsAFiveDayRun();
};

void TestWallPanel::showsAFiveDayRun()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "this check needs a real X server");
    // A record every 5 s for five days: the flux settles over the first day under a daily swing,
    // the outside cools a little. Sensor 1 on the warm side, sensor 2's temperature outside.
    RecordedRun run;
    for (double t = 0; t <= 5 * 86400; t += 5) {
        const double day = std::sin(2 * M_PI * t / 86400);
        const double q = (9 + 2.5 * day) * (1 + 0.3 * std::exp(-t / 25000));
        run.append(t, {q, 20 + 0.4 * day, 0, -3 + 5 * day - 0.1 * t / 86400});
    }
    WallTestSetup setup;
    setup.settings.capacity = 30;
    WallTestPanel panel(run.view(), [] { return 2; },
                        {[setup] { return setup; }, [](const WallTestSetup &) {}});
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QTRY_VERIFY(!panel.isCatchingUp() && panel.isShowingAllTaken());
    auto *chart = panel.findChild<WallTestChart *>();
    QTRY_VERIFY(chart->isUpToDate());
    QVERIFY(chart->pointsShown() > WallTest::MaxHistoryPoints / 2);
    QTest::qWait(200);

    QScreen *screen = QGuiApplication::primaryScreen();
    QVERIFY2(screen->availableGeometry().contains(panel.frameGeometry()),
             qPrintable(QStringLiteral("%1x%2").arg(panel.width()).arg(panel.height())));
    // No text cut, once the window has taken the size its texts ask for.
    auto cutText = [&panel] {
        for (const QLabel *label : panel.findChildren<QLabel *>()) {
            const bool fits = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                                : label->width() >= label->sizeHint().width();
            if (label->isVisible() && !fits)
                return label->text();
        }
        return QString();
    };
    QTRY_COMPARE(cutText(), QString());

    QTemporaryDir pictures(QDir::tempPath() + QStringLiteral("/quellspan-wallpanel-XXXXXX"));
    QVERIFY(pictures.isValid());
    pictures.setAutoRemove(false); // for a person to look at
    const QImage image = screen->grabWindow(panel.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QString path = QDir(pictures.path()).filePath(QStringLiteral("wall-test-panel.png"));
    QVERIFY(image.save(path, "PNG"));
    qInfo("screenshot: %s", qPrintable(path));

    const QRect area = chart->axisRect()->rect().translated(chart->mapTo(&panel, QPoint(0, 0)));
    const int curve = countPixels(
        image, [](QColor c) { return c.rgb() == QColor(0, 0, 200).rgb(); }, area);
    const int band = countPixels(
        image, [](QColor c) { return c.rgb() == QColor(0, 155, 0).rgb(); }, area);
    qInfo("R(t) chart: %d pixels of the curve, %d of the band's edges", curve, band);
    QVERIFY2(curve > area.width() / 2, "no R(t) curve");
    QVERIFY2(band > area.width() / 2, "no band of criterion B");
}

QTEST_MAIN(TestWallPanel)
#include "tst_wallpanel.moc"

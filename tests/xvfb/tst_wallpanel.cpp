// SPDX-License-Identifier: GPL-3.0-or-later
// The wall-test panel on a real (virtual) X server, at 96 and at 192 dpi (scale 1 and 2): a
// synthetic five-day run of a wall that settles, and half a day of heat flowing the other way.
// The window fits the screen, no text in it is cut (each label at least as large as it asks to
// be), criteria not judged yet say so, and the chart shows R(t) and the band of criterion B. The
// screenshots stay in a temporary folder whose path is printed.

#include "analysis/panels/walltestchart.h"
#include "analysis/panels/walltestpanel.h"
#include "placement/windowplacement.h"
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

namespace {

// The first visible label of window whose text does not fit it, or an empty text.
QString cutText(const QWidget &window)
{
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (!label->isVisibleTo(&window) || label->text().isEmpty())
            continue;
        const QSize hint = label->sizeHint();
        const bool fits = label->wordWrap()
                              ? label->height() >= label->heightForWidth(label->width())
                              : label->width() >= hint.width() && label->height() >= hint.height();
        if (!fits)
            return QStringLiteral("%1 (%2x%3, asks %4x%5)")
                .arg(label->text())
                .arg(label->width())
                .arg(label->height())
                .arg(hint.width())
                .arg(label->wordWrap() ? label->heightForWidth(label->width()) : hint.height());
    }
    return QString();
}

} // namespace

class TestWallPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsAFiveDayRun();
    void saysHeatFlowsTheOtherWayInFull();

private:
    QString save(QWidget &panel, const QString &name);

    QTemporaryDir pictures{QDir::tempPath() + QStringLiteral("/quellspan-wallpanel-XXXXXX")};
    int scale = 1;
};

void TestWallPanel::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "this check needs a real X server");
    bool ok = false;
    scale = qEnvironmentVariableIntValue("QUELLSPAN_EXPECT_SCALE", &ok);
    QVERIFY2(ok && scale >= 1, "QUELLSPAN_EXPECT_SCALE (1 or 2) is not set");
    QCOMPARE(qRound(QGuiApplication::primaryScreen()->devicePixelRatio()), scale);
    QVERIFY(pictures.isValid());
    pictures.setAutoRemove(false); // for a person to look at
}

QString TestWallPanel::save(QWidget &panel, const QString &name)
{
    const QString path = QDir(pictures.path()).filePath(QStringLiteral("%1-x%2.png").arg(name).arg(scale));
    if (QGuiApplication::primaryScreen()->grabWindow(panel.winId()).save(path, "PNG"))
        qInfo("screenshot: %s", qPrintable(path));
    return path;
}

void TestWallPanel::showsAFiveDayRun()
{
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
    QTRY_COMPARE(cutText(panel), QString());
    const QImage image =
        QImage(save(panel, QStringLiteral("wall-test-panel"))).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!image.isNull());

    const QRect logical = chart->axisRect()->rect().translated(chart->mapTo(&panel, QPoint(0, 0)));
    const QRect area(logical.topLeft() * scale, logical.size() * scale);
    const int curve = countPixels(
        image, [](QColor c) { return c.rgb() == QColor(0, 0, 200).rgb(); }, area);
    const int band = countPixels(
        image, [](QColor c) { return c.rgb() == QColor(0, 155, 0).rgb(); }, area);
    qInfo("R(t) chart: %d pixels of the curve, %d of the band's edges", curve, band);
    QVERIFY2(curve > area.width() / 2, "no R(t) curve");
    QVERIFY2(band > area.width() / 2, "no band of criterion B");
}

void TestWallPanel::saysHeatFlowsTheOtherWayInFull()
{
    // Twelve hours of a heat-flux plate mounted the wrong way round: every criterion is too early
    // to judge, and the reason there is no R is said in full.
    RecordedRun run;
    for (double t = 0; t <= 12 * 3600; t += 10)
        run.append(t, {-8 - std::sin(t / 5000), 20, 0, 2});
    WallTestSetup setup;
    setup.settings.capacity = 150; // criterion D is assessed, from 48 h on
    WallTestPanel panel(run.view(), [] { return 2; },
                        {[setup] { return setup; }, [](const WallTestSetup &) {}});
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QTRY_VERIFY(!panel.isCatchingUp() && panel.isShowingAllTaken());
    QTest::qWait(200);
    auto *flow = panel.findChild<QLabel *>(QStringLiteral("flowProblem"));
    QVERIFY(flow->isVisible());
    QVERIFY2(flow->text().startsWith(QStringLiteral("Heat flows the other way")), qPrintable(flow->text()));
    const QString expected[] = {
        QStringLiteral("not yet (from 72 h on)"), QStringLiteral("not yet (from 24 h on)"),
        QStringLiteral("not yet (from 36 h on)"), QStringLiteral("not yet (from 48 h on)")};
    for (int c = 0; c < 4; ++c) {
        const QString name = QStringLiteral("criterion%1Verdict").arg(QChar('A' + c));
        QCOMPARE(panel.findChild<QLabel *>(name)->text(), expected[c]);
    }
    QVERIFY(!panel.findChild<QLabel *>(QStringLiteral("mayStop"))->text().contains(QStringLiteral("fail")));
    QVERIFY2(isWhollyOn(&panel, QGuiApplication::primaryScreen()),
             qPrintable(QStringLiteral("%1x%2").arg(panel.width()).arg(panel.height())));
    QTRY_COMPARE(cutText(panel), QString());
    save(panel, QStringLiteral("heat-flows-the-other-way"));
}

int main(int argc, char *argv[])
{
    // As the program starts: scaled as a whole on a high-DPI screen.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    TestWallPanel test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_wallpanel.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The program's windows on a real X server (a virtual one, under xvfb-run): the control panel
// on the simulated unit, configured for two sensors through its buttons, then the acquisition
// window recording both. What the screen shows is read back from the server and checked pixel
// by pixel; the screenshots are kept in a temporary folder whose path is printed. Long status
// messages read whole or cut short with their text at hand, at the windows' own sizes.

#include "acquisition/runstate/runstate.h"
#include "acquisition/window2.h"
#include "charts/chartfeeder.h"
#include "control_panel/mainwindow.h"
#include "simunit/simulatedunit.h"
#include "support/messagecheck.h"
#include "support/modalcloser.h"
#include "unit/portlist.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <qcustomplot.h>

#include <array>
#include <memory>

namespace {

constexpr int Sensors = 2;
const QSize ScreenSize(1280, 1024); // as xvfb-run is told to make it
const QColor SensorColours[4] = {QColor(255, 0, 0), QColor(0, 155, 0), QColor(0, 0, 255),
                                 QColor(255, 0, 255)};

// Pixels of exactly each sensor colour within area of the image.
std::array<int, 4> countSensorColours(const QImage &image, const QRect &area)
{
    std::array<int, 4> counts{};
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb pixel = image.pixel(x, y) | 0xFF000000u;
            for (int s = 0; s < 4; ++s)
                counts[size_t(s)] += pixel == SensorColours[s].rgb() ? 1 : 0;
        }
    }
    return counts;
}

// The data area of a chart (inside its axes), in screen coordinates.
QRect chartArea(QCustomPlot *chart)
{
    const QRect area = chart->axisRect()->rect();
    return QRect(chart->mapToGlobal(area.topLeft()), area.size());
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    }
    return colours.size();
}

} // namespace

class TestRealWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void controlPanelIsShownAndConfiguresTwoSensors();
    void acquisitionWindowDrawsBothSensorsCurves();
    void longMessagesAreReadableAtTheWindowsOwnSizes();

private:
    QImage grabScreen(const QString &pictureName);
    template <typename T> T *child(QWidget *parent, const QString &name)
    {
        T *widget = parent->findChild<T *>(name);
        if (!widget)
            qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
        return widget;
    }

    QTemporaryDir pictures{QDir::tempPath() + QStringLiteral("/quellspan-realwindow-XXXXXX")};
    std::unique_ptr<SimulatedUnit> unit;
    std::unique_ptr<ModalCloser> unexpectedBoxes;
    std::unique_ptr<MainWindow> panel;
};

void TestRealWindow::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             qPrintable(QStringLiteral("this check needs a real X server (run it under xvfb-run with "
                                       "QT_QPA_PLATFORM=xcb); the platform is \"%1\"")
                            .arg(QGuiApplication::platformName())));
    QVERIFY(pictures.isValid());
    pictures.setAutoRemove(false); // the pictures are for a person to look at
    QApplication::setQuitOnLastWindowClosed(false);

    unit = std::make_unique<SimulatedUnit>();
    QVERIFY2(unit->isOpen(), qPrintable(unit->errorString()));
    unit->setRate(20);
    const PortEntry entry = measuringUnitPort(unit->portPath(), QStringLiteral("simulated unit"));
    setPortListSource([entry] { return QList<PortEntry>{entry}; });
    unexpectedBoxes = std::make_unique<ModalCloser>();
    // As main() starts the program.
    panel = std::make_unique<MainWindow>();
    panel->setWindowTitle(QStringLiteral("Quellspan"));
    panel->show();
    setPortListSource(nullptr);
}

void TestRealWindow::cleanupTestCase()
{
    panel.reset();
    unit.reset();
    if (!pictures.autoRemove())
        qInfo("screenshots in %s", qPrintable(pictures.path()));
}

QImage TestRealWindow::grabScreen(const QString &pictureName)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QImage image = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    const QString path = QDir(pictures.path()).filePath(pictureName);
    if (image.save(path, "PNG"))
        qInfo("screenshot: %s", qPrintable(path));
    else
        qWarning("could not write %s", qPrintable(path));
    return image;
}

void TestRealWindow::controlPanelIsShownAndConfiguresTwoSensors()
{
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
    QVERIFY(panel->serialPort()->isOpen());
    QCOMPARE(panel->windowHandle()->title(), QStringLiteral("Quellspan"));
    QVERIFY(!panel->windowHandle()->icon().isNull());
    QVERIFY(!panel->windowHandle()->icon().availableSizes().isEmpty()); // the icon file was read

    // The operator: the count, then each sensor's sensitivity, with the mouse and the keyboard.
    auto *countSpin = child<QSpinBox>(panel.get(), QStringLiteral("sensNumSpin"));
    auto *countButton = child<QPushButton>(panel.get(), QStringLiteral("sensNumBtn"));
    QVERIFY(countSpin && countButton);
    countSpin->setValue(Sensors);
    QTest::mouseClick(countButton, Qt::LeftButton);
    QTRY_COMPARE(unit->sensorCount(), Sensors);
    const char *texts[Sensors] = {"12.5", "13"};
    for (int s = 1; s <= Sensors; ++s) {
        auto *edit = child<QLineEdit>(panel.get(), QStringLiteral("setS%1Edit").arg(s));
        auto *button = child<QPushButton>(panel.get(), QStringLiteral("setS%1Btn").arg(s));
        QVERIFY(edit && button);
        QVERIFY(button->isEnabled());
        edit->clear();
        QTest::keyClicks(edit, QLatin1String(texts[s - 1]));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QTRY_COMPARE(unit->sensitivityBytes(), QByteArray("12.513"));
    QCOMPARE(unexpectedBoxes->count(), 0);

    // The panel as the screen shows it: a window of its own size, not a blank square.
    const QImage screen = grabScreen(QStringLiteral("control-panel-screen.png"));
    QCOMPARE(screen.size(), ScreenSize);
    const QImage window = QGuiApplication::primaryScreen()->grabWindow(panel->winId()).toImage();
    QCOMPARE(window.size(), panel->size());
    QVERIFY2(distinctColours(window) > 10, "the control panel shows next to nothing");
}

void TestRealWindow::acquisitionWindowDrawsBothSensorsCurves()
{
    auto *graphButton = child<QPushButton>(panel.get(), QStringLiteral("plotWindowBtn"));
    QVERIFY(graphButton);
    QTest::mouseClick(graphButton, Qt::LeftButton);
    Window2 *window = panel->findChild<Window2 *>();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY(!panel->isVisible());
    QCOMPARE(window->size(), QSize(866, 618));
    QVERIFY(!window->windowHandle()->icon().isNull());
    QVERIFY(!window->windowHandle()->icon().availableSizes().isEmpty());

    for (int s = 1; s <= Sensors; ++s) {
        auto *box = child<QCheckBox>(window, QStringLiteral("toggle%1").arg(s));
        QVERIFY(box);
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
    }
    auto *start = child<QPushButton>(window, QStringLiteral("startData"));
    QVERIFY(start);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(window->isAcquiring());
    // Six seconds of records: the curves reach past the run's Start mark, whose label, at the top
    // of the charts, covers what is beneath it (the simulated sensor 2 starts near 30 degrees,
    // up there).
    QTRY_VERIFY_WITH_TIMEOUT(!window->recordedTimes().isEmpty() && window->recordedTimes().last() >= 6,
                             20000);
    // A redraw that holds them, and its pixels on the server.
    const quint64 redraws = window->chartFeeder()->redrawCount();
    QTRY_VERIFY(window->chartFeeder()->redrawCount() > redraws);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(200);

    // The X window itself is 866 x 618.
    const QImage windowPicture = QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage();
    QCOMPARE(windowPicture.size(), QSize(866, 618));

    const QImage screen = grabScreen(QStringLiteral("acquisition-screen.png"));
    QCOMPARE(screen.size(), ScreenSize);
    for (const char *name : {"plot", "plot2"}) {
        auto *chart = child<QCustomPlot>(window, QLatin1String(name));
        QVERIFY(chart);
        const QRect area = chartArea(chart);
        QVERIFY2(screen.rect().contains(area), qPrintable(QStringLiteral("%1 is off the screen").arg(name)));
        const std::array<int, 4> counts = countSensorColours(screen, area);
        qInfo("%s: %d red, %d green, %d blue, %d magenta pixels in %dx%d at (%d, %d)", name, counts[0],
              counts[1], counts[2], counts[3], area.width(), area.height(), area.x(), area.y());
        QVERIFY2(counts[0] >= 10, "no red curve of sensor 1");
        QVERIFY2(counts[1] >= 10, "no green curve of sensor 2");
        // Sensors 3 and 4 are not connected: no curve of theirs.
        QCOMPARE(counts[2], 0);
        QCOMPARE(counts[3], 0);
    }
    QCOMPARE(unexpectedBoxes->count(), 0);
}

// The program's longest messages, with long names in them, on the screen's own fonts: each
// whole or cut short with its text in the tooltip and the history.
void TestRealWindow::longMessagesAreReadableAtTheWindowsOwnSizes()
{
    Window2 *window = panel->findChild<Window2 *>();
    QVERIFY(window);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
    MessageCheck windowMessages(window->statusBar());
    MessageCheck panelMessages(panel->statusBar());
    const QString port =
        QStringLiteral("/dev/serial/by-id/usb-Quellspan_Measuring_Unit_85735313932351F0A1B2-if00");
    RunState *state = window->runState();
    state->unitSilent(12.0, 5);
    state->unitSending(19.0);
    state->unitLost(20.0, QStringLiteral("Resource temporarily unavailable"));
    state->unitBack(26.5, port, 6512);
    emit panel->portWatcher()->openFailed(
        port,
        QStringLiteral("held by another program (lock /var/lock/LCK..ttyACM0, process 4242 quellspan)"));
    window->statusBar()->showMessage(QStringLiteral(
        "Live recording stopped: No space left on device. The samples before are in "
        "/home/operator/.local/share/quellspan/recordings/2026-12-07_22-05-53.csv; the run goes on "
        "in memory and File > Save as... still saves every sample."));
    QVERIFY(windowMessages.seen().size() >= 6); // the port that does not open is said in both windows
    QVERIFY(panelMessages.seen().size() >= 1);
    QVERIFY2(windowMessages.problems().isEmpty(), qPrintable(windowMessages.problems().join('\n')));
    QVERIFY2(panelMessages.problems().isEmpty(), qPrintable(panelMessages.problems().join('\n')));
    QTest::qWait(200); // drawn
    grabScreen(QStringLiteral("long-messages-screen.png"));
    panel->hide();
}

QTEST_MAIN(TestRealWindow)
#include "tst_realwindow.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The autopilot driving the real windows in this process, against the simulated unit.

#include "control_panel/mainwindow.h"
#include "simunit/autopilot.h"
#include "simunit/simulatedunit.h"
#include "unit/portlist.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestAutopilot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void playsTheOperator_data();
    void playsTheOperator();
    void failsWhenThePortIsNotOpen();
};

void TestAutopilot::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestAutopilot::cleanup()
{
    setPortListSource(nullptr);
}

void TestAutopilot::playsTheOperator_data()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<QByteArray>("commands");
    QTest::newRow("1 sensor") << 1 << QByteArray("112.5");
    QTest::newRow("4 sensors") << 4 << QByteArray("412.5139.8711");
}

void TestAutopilot::playsTheOperator()
{
    QFETCH(int, sensors);
    QFETCH(QByteArray, commands);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("run"));
    // A stale file from an earlier run must not count as this run's save.
    QVERIFY(QDir().mkpath(out));
    {
        QFile stale(QDir(out).filePath(Autopilot::csvFileName()));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("stale\n");
    }

    SimulatedUnit unit;
    QVERIFY(unit.isOpen());
    const PortEntry entry = measuringUnitPort(unit.portPath(), QStringLiteral("simulated"));
    setPortListSource([entry] { return QList<PortEntry>{entry}; });
    MainWindow panel;
    panel.show();
    Autopilot pilot(&panel, {out, sensors, 1.0});
    QSignalSpy finished(&pilot, &Autopilot::finished);
    pilot.start();
    QTRY_VERIFY_WITH_TIMEOUT(pilot.isFinished(), 30000);
    QVERIFY2(pilot.succeeded(), qPrintable(pilot.message()));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toBool(), true);

    // The unit got exactly what an operator's presses send.
    QCOMPARE(unit.receivedBytes(), commands);
    QCOMPARE(panel.sensorCount(), sensors);
    QVERIFY(!panel.isVisible());
    QWidget *acquisition = nullptr;
    for (QWidget *w : panel.findChildren<QWidget *>()) {
        if (w->inherits("Window2"))
            acquisition = w;
    }
    QVERIFY(acquisition && acquisition->isVisible());
    for (int s = 1; s <= 4; ++s)
        QCOMPARE(acquisition->findChild<QCheckBox *>(QStringLiteral("toggle%1").arg(s))->isChecked(),
                 s <= sensors);

    QFile csv(QDir(out).filePath(Autopilot::csvFileName()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().trimmed().split('\n');
    QVERIFY2(lines.size() >= 3, qPrintable(QString::number(lines.size())));
    for (const QByteArray &line : lines)
        QCOMPARE(line.trimmed().split(',').size(), 2 * sensors + 1);
    for (const QString &picture :
         {Autopilot::controlPanelPictureName(), Autopilot::acquisitionPictureName()}) {
        const QImage image(QDir(out).filePath(picture));
        QVERIFY2(!image.isNull() && image.width() > 100 && image.height() > 100, qPrintable(picture));
    }
    QVERIFY(pilot.message().contains(Autopilot::csvFileName()));
}

void TestAutopilot::failsWhenThePortIsNotOpen()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const PortEntry entry =
        measuringUnitPort(dir.filePath(QStringLiteral("no-such-tty")), QStringLiteral("absent"));
    setPortListSource([entry] { return QList<PortEntry>{entry}; });
    MainWindow panel;
    panel.show();
    Autopilot pilot(&panel, {dir.path(), 2, 0.2});
    QSignalSpy finished(&pilot, &Autopilot::finished);
    pilot.start();
    QTRY_VERIFY_WITH_TIMEOUT(pilot.isFinished(), 5000);
    QVERIFY(!pilot.succeeded());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY2(pilot.message().contains(QStringLiteral("not open")), qPrintable(pilot.message()));
    // It stopped before touching anything: the count button was never pressed, no box came up.
    QCOMPARE(panel.sensorCount(), 0);
    QVERIFY(panel.isVisible());
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(Autopilot::csvFileName())));
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(Autopilot::controlPanelPictureName())));
}

QTEST_MAIN(TestAutopilot)
#include "tst_autopilot.moc"

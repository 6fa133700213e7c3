// SPDX-License-Identifier: GPL-3.0-or-later
// quellspan-demo --port PATH finds its unit again when PATH goes away and comes back: a link to a
// simulated unit's line is removed with the unit unplugged, then pointed at a new unit's line, as
// a replugged device comes back. This process plays both units; the demo's autopilot records
// throughout and saves what it took.

#include "simunit/simulatedunit.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestDemoReconnect : public QObject
{
    Q_OBJECT

private slots:
    void findsTheUnitAgainWhenItsPathComesBack();
    void aHeldPortIsSaidInPlainWords();
};

void TestDemoReconnect::findsTheUnitAgainWhenItsPathComesBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("unit"));
    auto first = std::make_unique<SimulatedUnit>();
    first->setNumberedRecords(true);
    QVERIFY(QFile::link(first->portPath(), link));

    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    demo.setProcessEnvironment(environment);
    demo.start(QStringLiteral(QUELLSPAN_DEMO),
               {QStringLiteral("--port"), link, QStringLiteral("--autopilot"),
                dir.filePath(QStringLiteral("out")), QStringLiteral("--sensors"), QStringLiteral("2"),
                QStringLiteral("--seconds"), QStringLiteral("10")});
    QVERIFY(demo.waitForStarted(10000));
    const auto finishDemo = qScopeGuard([&demo] {
        if (demo.state() != QProcess::NotRunning) {
            demo.kill();
            demo.waitForFinished(5000);
        }
    });

    const QByteArray configuration("212.513");
    QTRY_COMPARE_WITH_TIMEOUT(first->receivedBytes(), configuration, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(first->counters().goodRecords >= 10, 10000);
    first->unplug();
    QVERIFY(QFile::remove(link));
    QTest::qWait(1500);

    SimulatedUnit second;
    second.setNumberedRecords(true);
    QVERIFY(QFile::link(second.portPath(), link));
    // Reopened, given time to start, and sent everything again, byte for byte.
    QTRY_COMPARE_WITH_TIMEOUT(second.receivedBytes(), configuration, 10000);

    QTRY_VERIFY_WITH_TIMEOUT(demo.state() == QProcess::NotRunning, 60000);
    const QByteArray err = demo.readAllStandardError();
    QVERIFY2(demo.exitStatus() == QProcess::NormalExit && demo.exitCode() == 0, err.right(2000).constData());
    QVERIFY(second.counters().goodRecords > 0);

    // The saved run: each unit numbers its records from 1, so the numbers climb one by one,
    // drop once where the second unit took over, and climb again; the time runs on across.
    QFile csv(dir.filePath(QStringLiteral("out/data.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().trimmed().split('\n');
    int restarts = 0;
    double previousNumber = 0;
    double previousTime = -1;
    double gap = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(',');
        QCOMPARE(fields.size(), 5);
        const double time = fields[0].toDouble();
        const double number = fields[1].toDouble();
        QVERIFY2(time >= previousTime, line.constData());
        if (number < previousNumber) {
            ++restarts;
            gap = time - previousTime;
        } else if (previousTime >= 0) {
            QVERIFY2(number == previousNumber + 1, line.constData());
        }
        previousNumber = number;
        previousTime = time;
    }
    QCOMPARE(restarts, 1);
    QVERIFY2(gap >= 1.5, qPrintable(QString::number(gap)));
    qInfo("%d records saved; %.1f s between the last record of the first unit and the first of the second",
          int(lines.size()), gap);
}

// A port another program holds: the error output names the holder, as the status bar does, and
// not Qt's bare "Permission error while locking the device".
void TestDemoReconnect::aHeldPortIsSaidInPlainWords()
{
    SimulatedUnit unit;
    QSerialPort holder;
    holder.setPortName(unit.portPath());
    QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    demo.setProcessEnvironment(environment);
    demo.start(QStringLiteral(QUELLSPAN_DEMO), {QStringLiteral("--port"), unit.portPath()});
    QVERIFY(demo.waitForStarted(10000));
    QByteArray said;
    for (int waited = 0; !said.contains("cannot open") && waited < 20000; waited += 100) {
        demo.waitForReadyRead(100);
        said += demo.readAllStandardError();
    }
    demo.kill();
    demo.waitForFinished(5000);
    QVERIFY2(said.contains("held by another program (lock "), said.constData());
    QVERIFY2(!said.contains("Permission error"), said.constData());
}

QTEST_MAIN(TestDemoReconnect)
#include "tst_demoreconnect.moc"

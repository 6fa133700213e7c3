// SPDX-License-Identifier: GPL-3.0-or-later
// The quellspan-demo program run as a person (or a headless machine) runs it, with --autopilot,
// followed by a check of what it left: the CSV and the two pictures.

#include "acquisition/runsafety/liverecorder.h"
#include "data/csvwriter.h"
#include "data/recordingsfolder.h"
#include "simunit/simulatedunit.h"
#include "simunit/unitstream.h"
#include "support/acquisitionrig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the demo with the event loop of this process turning, so that a unit here can answer it.
Run runDemo(const QStringList &arguments, int timeoutMs = 90000,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess demo;
    demo.setProcessEnvironment(environment);
    demo.start(QStringLiteral(QUELLSPAN_DEMO), arguments);
    Run run;
    if (!demo.waitForStarted(10000))
        return run;
    QElapsedTimer timer;
    timer.start();
    while (demo.state() != QProcess::NotRunning && timer.elapsed() < timeoutMs)
        QTest::qWait(20);
    if (demo.state() != QProcess::NotRunning) {
        demo.kill();
        demo.waitForFinished(5000);
        run.err = "timed out\n";
        return run;
    }
    run.out = demo.readAllStandardOutput();
    run.err = demo.readAllStandardError();
    run.exitCode = demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -1;
    return run;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The one CSV file in a recordings folder (empty if there is none or more than one).
QString onlyRecording(const QString &folder)
{
    const QStringList csv = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    return csv.size() == 1 ? QDir(folder).filePath(csv.first()) : QString();
}

double lastTime(const QByteArray &text)
{
    const int end = text.lastIndexOf('\n');
    const int start = text.lastIndexOf('\n', end - 1) + 1;
    return end > 0 ? text.mid(start, end - start).split(',').first().toDouble() : -1;
}

QString why(const Run &run)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr (end): %3")
        .arg(run.exitCode)
        .arg(QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err.right(2000)));
}

} // namespace

class TestDemoAutopilot : public QObject
{
    Q_OBJECT

private slots:
    void recordsAndSaves();
    void usesTheUnitAtPort();
    void failsLoudlyWithoutAUnit();
    void killedMidRunLosesAtMostTheLastSecond();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
};

void TestDemoAutopilot::recordsAndSaves()
{
    const int sensors = 3;
    const double seconds = 2;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString recordings = dir.filePath(QStringLiteral("recordings"));
    const Run run = runDemo({QStringLiteral("--autopilot"), dir.path(), QStringLiteral("--sensors"),
                             QString::number(sensors), QStringLiteral("--seconds"), QString::number(seconds),
                             QStringLiteral("--recordings"), recordings});
    QVERIFY2(run.exitCode == 0, qPrintable(why(run)));

    QFile csv(dir.filePath(QStringLiteral("data.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray text = csv.readAll();
    QVERIFY(text.endsWith('\n'));
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    // The unit sends ten records a second; allow for a slow machine.
    QVERIFY2(lines.size() >= 5, qPrintable(QString::number(lines.size())));
    double previousTime = -1;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(',');
        QVERIFY2(fields.size() == 2 * sensors + 1, line.constData());
        QList<double> v;
        for (const QByteArray &f : fields) {
            bool ok = false;
            v << f.toDouble(&ok);
            QVERIFY2(ok, line.constData());
        }
        // Time: from about 0, never backwards (records taken together share their time), within the run.
        QVERIFY2(v[0] >= 0 && v[0] >= previousTime && v[0] <= seconds + 2, line.constData());
        previousTime = v[0];
        for (int s = 0; s < sensors; ++s) {
            const double flux = v[1 + 2 * s], temperature = v[2 + 2 * s];
            QVERIFY2(flux >= UnitStream::MinHeatFlux && flux <= UnitStream::MaxHeatFlux, line.constData());
            QVERIFY2(temperature >= UnitStream::MinTemperature && temperature <= UnitStream::MaxTemperature,
                     line.constData());
        }
    }
    QVERIFY(lines.last().split(',').first().toDouble() > lines.first().split(',').first().toDouble());

    for (const char *picture : {"control-panel.png", "acquisition.png"}) {
        const QImage image(dir.filePath(QLatin1String(picture)));
        QVERIFY2(!image.isNull() && image.width() > 100 && image.height() > 100, picture);
    }
    QVERIFY2(run.out.contains("data.csv"), run.out.constData());

    // The live recording of the run, closed at the end, holds the same bytes as the save.
    const QString recording = onlyRecording(recordings);
    QVERIFY2(!recording.isEmpty(), qPrintable(QDir(recordings).entryList().join(' ')));
    QCOMPARE(readAll(recording), text);
    const QString base = recording.left(recording.size() - 4);
    QVERIFY(!QFile::exists(base + QStringLiteral(".lock")));
    const QByteArray description = readAll(base + QStringLiteral(".txt"));
    for (const QByteArray &expected : {QByteArray("Sensors: 3\n"), QByteArray("sensor 1 (uV/(W/m2)): 12.5\n"),
                                       QByteArray("sensor 3 (uV/(W/m2)): 9.87\n"),
                                       QByteArray("Program: quellspan-demo "), QByteArray("Closed: ")})
        QVERIFY2(description.contains(expected), description.constData());
}

void TestDemoAutopilot::killedMidRunLosesAtMostTheLastSecond()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString recordings = dir.filePath(QStringLiteral("recordings"));
    QProcess demo;
    demo.start(QStringLiteral(QUELLSPAN_DEMO),
               {QStringLiteral("--autopilot"), dir.path(), QStringLiteral("--seconds"), QStringLiteral("120"),
                QStringLiteral("--recordings"), recordings});
    QVERIFY(demo.waitForStarted(10000));
    // Once a second of the run is on disk, let it run on a while, then pull the plug on the program.
    QString recording;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(recording = onlyRecording(recordings)).isEmpty() && readAll(recording).count('\n') >= 10, 60000);
    const double seenBefore = lastTime(readAll(recording));
    const int runOnMs = 4000;
    QTest::qWait(runOnMs);
    demo.kill();
    QVERIFY(demo.waitForFinished(10000));

    // Every complete line is a record as Save as writes it, in order; a torn last line may follow.
    QByteArray text = readAll(recording);
    const QByteArray complete = text.left(text.lastIndexOf('\n') + 1);
    double previous = -1;
    for (const QByteArray &line : complete.trimmed().split('\n')) {
        QByteArray again;
        const QList<QByteArray> fields = line.split(',');
        QCOMPARE(fields.size(), 5);
        for (const QByteArray &field : fields)
            again += (again.isEmpty() ? "" : ",") + formatCsvNumber(field.toDouble());
        QCOMPARE(again, line);
        QVERIFY(fields.first().toDouble() >= previous);
        previous = fields.first().toDouble();
    }
    const double lost = seenBefore + runOnMs / 1000.0 - previous;
    qInfo("killed %.1f s after the file showed t = %.3f s; the last record kept is t = %.3f s (about %.2f s "
          "before the kill)",
          runOnMs / 1000.0, seenBefore, previous, lost);
    QVERIFY2(lost < 2.0, qPrintable(QString::number(lost)));

    // A torn write, as a power cut can leave; the next start cuts it off and says where the run is.
    QFile torn(recording);
    QVERIFY(torn.open(QIODevice::Append));
    torn.write("123.4,5");
    torn.close();
    setRecordingsFolder(recordings);
    LiveRecorder::recoverAbandoned();
    QCOMPARE(readAll(recording), complete);
    QVERIFY(!QFile::exists(recording.left(recording.size() - 4) + QStringLiteral(".lock")));
    AcquisitionRig rig(1);
    const QString report = rig.widget<QStatusBar>("statusbar")->currentMessage();
    QVERIFY2(report.contains(QStringLiteral("was not closed properly")) &&
                 report.contains(QStringLiteral("its %1 samples are kept in %2")
                                     .arg(complete.count('\n'))
                                     .arg(QDir::toNativeSeparators(recording))),
             qPrintable(report));
}

void TestDemoAutopilot::usesTheUnitAtPort()
{
    // This process plays the unit on a pseudo-terminal; the demo is told to use it. No display and
    // no platform chosen: the autopilot draws off screen by itself.
    SimulatedUnit unit;
    QVERIFY(unit.isOpen());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        headless.remove(QLatin1String(name));
    const Run run = runDemo({QStringLiteral("--port"), unit.portPath(), QStringLiteral("--autopilot"),
                             dir.path(), QStringLiteral("--seconds"), QStringLiteral("1")},
                            90000, headless);
    QVERIFY2(run.exitCode == 0, qPrintable(why(run)));
    // The default two sensors, configured through this unit.
    QCOMPARE(unit.receivedBytes(), QByteArray("212.513"));
    QFile csv(dir.filePath(QStringLiteral("data.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray first = csv.readLine();
    QCOMPARE(first.trimmed().split(',').size(), 5);
    QVERIFY(unit.counters().goodRecords > 0);
}

void TestDemoAutopilot::failsLoudlyWithoutAUnit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("no-such-tty"));
    const Run run = runDemo({QStringLiteral("--port"), missing, QStringLiteral("--autopilot"), dir.path(),
                             QStringLiteral("--seconds"), QStringLiteral("1")});
    QVERIFY2(run.exitCode != 0 && run.exitCode != -1, qPrintable(why(run)));
    QVERIFY2(run.err.contains("autopilot failed") && run.err.contains(missing.toLocal8Bit()),
             qPrintable(why(run)));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data.csv"))));
}

void TestDemoAutopilot::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("complaint");
    QTest::newRow("5 sensors") << QStringList{"--autopilot", "DIR", "--sensors", "5"}
                               << QByteArray("--sensors");
    QTest::newRow("0 sensors") << QStringList{"--autopilot", "DIR", "--sensors", "0"}
                               << QByteArray("--sensors");
    QTest::newRow("words for seconds")
        << QStringList{"--autopilot", "DIR", "--seconds", "ten"} << QByteArray("--seconds");
    QTest::newRow("negative seconds")
        << QStringList{"--autopilot", "DIR", "--seconds", "-1"} << QByteArray("--seconds");
    QTest::newRow("sensors without autopilot") << QStringList{"--sensors", "3"} << QByteArray("--autopilot");
    QTest::newRow("stray argument") << QStringList{"--autopilot", "DIR", "extra"} << QByteArray("extra");
}

void TestDemoAutopilot::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, complaint);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    arguments.replaceInStrings(QStringLiteral("DIR"), dir.path());
    const Run run = runDemo(arguments, 20000);
    QVERIFY2(run.exitCode == 2, qPrintable(why(run)));
    QVERIFY2(run.err.contains(complaint), qPrintable(why(run)));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data.csv"))));
}

QTEST_MAIN(TestDemoAutopilot)
#include "tst_demoautopilot.moc"

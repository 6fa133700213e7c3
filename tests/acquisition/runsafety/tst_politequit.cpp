// SPDX-License-Identifier: GPL-3.0-or-later
// Asked to quit by the system (SIGTERM, SIGINT, SIGHUP), the program closes its run as on a normal
// close: quellspan-demo, recording with its autopilot, is sent each signal mid-run and leaves a
// closed recording that holds every record it took, no lock, and nothing for the next start to
// recover. A second signal while the first is dealt with ends the program at once.

#include "acquisition/runsafety/politequit.h"
#include "support/demorecording.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>

namespace {

// Child mode: quits politely, but takes forever to close its run.
int slowToClose()
{
    PoliteQuit::instance()->install();
    QObject::connect(PoliteQuit::instance(), &PoliteQuit::requested, [](const QString &why) {
        std::printf("closing %s\n", qPrintable(why));
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    });
    QTimer::singleShot(0, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return QCoreApplication::exec();
}

} // namespace

class TestPoliteQuit : public QObject
{
    Q_OBJECT

private slots:
    void signalMidRunClosesTheRecording_data();
    void signalMidRunClosesTheRecording();
    void secondSignalEndsAtOnce();
    void signalIgnoredAtStartStaysIgnored();
};

void TestPoliteQuit::signalMidRunClosesTheRecording_data()
{
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestPoliteQuit::signalMidRunClosesTheRecording()
{
    QFETCH(int, signo);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    DemoRecording demo(QStringLiteral(QUELLSPAN_DEMO), dir.path(), environment);
    QVERIFY2(demo.waitForRecordedLines(10), demo.process.readAllStandardError().constData());
    QCOMPARE(::kill(pid_t(demo.process.processId()), signo), 0);
    QVERIFY(demo.process.waitForFinished(20000));
    QCOMPARE(demo.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.process.exitCode(), 128 + signo);

    // Closed as on a normal close, holding every record the window took.
    const QString log = QString::fromLocal8Bit(demo.process.readAllStandardError());
    QVERIFY2(log.contains(QStringLiteral("asked to quit (%1)").arg(name)), qPrintable(log));
    const QRegularExpressionMatch taken =
        QRegularExpression(
            QStringLiteral("closed with all (\\d+) samples of the run, (\\d+) of them not saved"))
            .match(log);
    QVERIFY2(taken.hasMatch(), qPrintable(log));
    QCOMPARE(DemoRecording::readAll(demo.csv).count('\n'), taken.captured(2).toInt());
    const QString problem =
        demo.problemWithClosedRecording(QStringLiteral("the program was asked to quit (%1)").arg(name));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(QDir(demo.recordings).entryList({QStringLiteral("*.csv")}).size(), 1);
}

void TestPoliteQuit::secondSignalEndsAtOnce()
{
    for (const int second : {SIGTERM, SIGINT}) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--slow-to-close")});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        QCOMPARE(::kill(pid_t(child.processId()), SIGTERM), 0);
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("closing SIGTERM"));
        // Stuck closing: the second one is not waited for.
        QCOMPARE(::kill(pid_t(child.processId()), second), 0);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit); // ended by the signal itself
    }
}

// Started to ignore SIGHUP (nohup), the program keeps ignoring it.
void TestPoliteQuit::signalIgnoredAtStartStaysIgnored()
{
    QProcess child;
    std::signal(SIGHUP, SIG_IGN); // inherited by the child
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--slow-to-close")});
    std::signal(SIGHUP, SIG_DFL);
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
    QCOMPARE(::kill(pid_t(child.processId()), SIGHUP), 0);
    QCOMPARE(::kill(pid_t(child.processId()), SIGTERM), 0);
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readLine().trimmed(), QByteArray("closing SIGTERM")); // not SIGHUP
    child.kill();
    QVERIFY(child.waitForFinished(10000));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && QByteArray(argv[1]) == "--slow-to-close")
        return slowToClose();
    // A signal this test was started to ignore (as a background job ignores SIGINT) would be
    // ignored by the programs it starts too, which keep it so: they get the default.
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signo, SIG_DFL);
    TestPoliteQuit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_politequit.moc"

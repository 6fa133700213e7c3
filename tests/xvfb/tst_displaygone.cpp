// SPDX-License-Identifier: GPL-3.0-or-later
// The display going away mid-run: quellspan-demo records with its autopilot on an X server of
// this test's own, which is then killed. Qt ends the program when its display connection breaks
// (through exit(), with "The X11 connection broke"); the recording is closed on the way out, as
// on a normal close, holding every record taken, with no lock and nothing to recover.

#include "support/demorecording.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

class TestDisplayGone : public QObject
{
    Q_OBJECT

private slots:
    void recordingIsClosedWhenTheDisplayGoes();
};

void TestDisplayGone::recordingIsClosedWhenTheDisplayGoes()
{
    QTemporaryDir dir;
    // An X server of our own, on the first free display it finds.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    QVERIFY2(server.waitForStarted(10000), "Xvfb not found: install the package xvfb");
    const auto stopServer = qScopeGuard([&server] {
        server.kill();
        server.waitForFinished(5000);
    });
    QVERIFY(server.waitForReadyRead(20000));
    const QByteArray display = server.readLine().trimmed();
    QVERIFY2(!display.isEmpty(), "Xvfb gave no display number");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromLatin1(display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    // In a sanitizer build, as run-under-xvfb.sh sets it for the X libraries.
    const auto addOption = [&environment](const QString &name, const QString &option) {
        const QString before = environment.value(name);
        environment.insert(name, before.isEmpty() ? option : before + QLatin1Char(':') + option);
    };
    if (environment.contains(QStringLiteral("ASAN_OPTIONS"))) {
        addOption(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("strict_string_checks=0"));
        addOption(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("fast_unwind_on_malloc=0"));
    }
    DemoRecording demo(QStringLiteral(QUELLSPAN_DEMO), dir.path(), environment);
    QVERIFY2(demo.waitForRecordedLines(10), demo.process.readAllStandardError().constData());

    server.kill();
    QVERIFY(demo.process.waitForFinished(20000));
    const QString log = QString::fromLocal8Bit(demo.process.readAllStandardError());
    QVERIFY2(log.contains(QStringLiteral("X11 connection broke")), qPrintable(log));
    const QString problem =
        demo.problemWithClosedRecording(QStringLiteral("the program was ended while recording"));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestDisplayGone)
#include "tst_displaygone.moc"

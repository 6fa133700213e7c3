// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop notification over a session bus of the test's own (a dbus-daemon started here, with
// a stand-in notification server on it): what arrives is a freedesktop Notify call with the
// program's name, the summary and the body. Without a bus, nothing happens and nothing waits.

#include "analysis/panels/desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

// Answers Notify on the bus as a notification server would, and keeps what it was told.
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QVariantList told;

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        told = {app, replaces, icon, summary, body, actions, hints, timeout};
        return 7;
    }
};

} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

private slots:
    void noBusNoWait();
    void notifiesOverTheSessionBus();
};

void TestDesktopNotifier::noBusNoWait()
{
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", QByteArray("/nonexistent-quellspan-runtime"));
    QElapsedTimer timer;
    timer.start();
    notifyDesktop(QStringLiteral("The wall test may stop"), QStringLiteral("body"));
    QVERIFY(timer.elapsed() < 1000);
}

void TestDesktopNotifier::notifiesOverTheSessionBus()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        QFAIL("dbus-daemon is needed (Debian dbus-daemon, scripts/install-deps.sh installs it)");
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address"});
    QVERIFY(bus.waitForStarted());
    QVERIFY(bus.waitForReadyRead(10000));
    const QByteArray address = bus.readLine().trimmed();
    QVERIFY2(address.startsWith("unix:"), address.constData());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    // The server on a connection of its own, as another program would be.
    QDBusConnection server =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("server"));
    QVERIFY(server.isConnected());
    NotificationServer notifications;
    QVERIFY(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                  QDBusConnection::ExportAllSlots));

    QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
    notifyDesktop(QStringLiteral("The wall test may stop"),
                  QStringLiteral("All criteria held since 72.00 h."));
    QTRY_VERIFY(!notifications.told.isEmpty());
    QCOMPARE(notifications.told[0].toString(), QStringLiteral("quellspan"));
    QCOMPARE(notifications.told[3].toString(), QStringLiteral("The wall test may stop"));
    QCOMPARE(notifications.told[4].toString(), QStringLiteral("All criteria held since 72.00 h."));
    QCOMPARE(notifications.told[7].toInt(), -1);

    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
    bus.terminate();
    QVERIFY(bus.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"

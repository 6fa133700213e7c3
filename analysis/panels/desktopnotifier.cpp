// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/panels/desktopnotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QVariantMap>

void notifyDesktop(const QString &summary, const QString &body)
{
    // Without an address or the usual socket there is no bus to reach: don't let the library try
    // to start one.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default).
    message << QCoreApplication::applicationName() << quint32(0) << QStringLiteral("org.quellspan.quellspan")
            << summary << body << QStringList() << QVariantMap() << qint32(-1);
    bus.asyncCall(message);
}

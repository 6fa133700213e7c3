// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/portlock.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>

QString portLockFilePath(const QString &portName)
{
#ifdef Q_OS_UNIX
    // As the serial port module finds it: the port's device path without /dev/, its slashes
    // made underscores, in the first of these folders that can hold it.
    const QString device = portName.startsWith(QLatin1Char('/')) ||
                                   portName.startsWith(QLatin1String("./")) ||
                                   portName.startsWith(QLatin1String("../"))
                               ? portName
                               : QStringLiteral("/dev/") + portName;
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString fileName = QStringLiteral("/LCK..") + name;
    const QStringList folders = {QStringLiteral("/var/lock"),
                                 QStringLiteral("/etc/locks"),
                                 QStringLiteral("/var/spool/locks"),
                                 QStringLiteral("/var/spool/uucp"),
                                 QStringLiteral("/tmp"),
                                 QStringLiteral("/var/tmp"),
                                 QStringLiteral("/var/lock/lockdev"),
                                 QStringLiteral("/run/lock"),
                                 QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        const QFileInfo info(folder);
        if (info.isReadable() && (QFile::exists(folder + fileName) || info.isWritable()))
            return folder + fileName;
    }
#else
    Q_UNUSED(portName)
#endif
    return QString();
}

QString portHolder(const QString &portName)
{
    const QString path = portLockFilePath(portName);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return QString();
    qint64 pid = 0;
    QString host, program;
    const QLockFile lock(path);
    if (!lock.getLockInfo(&pid, &host, &program))
        return QString();
    const QString process =
        program.isEmpty() ? QCoreApplication::translate("PortWatcher", "process %1").arg(pid)
                          : QCoreApplication::translate("PortWatcher", "process %1 %2").arg(pid).arg(program);
    return QCoreApplication::translate("PortWatcher", "held by another program (lock %1, %2)")
        .arg(path, process);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/messagecapture.h"

#include <QMutex>
#include <QVector>

namespace {
struct Captured
{
    QtMsgType type;
    QString text;
};
QMutex mutex;
QVector<Captured> captured;

void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    QMutexLocker lock(&mutex);
    captured.append({type, text});
}
} // namespace

MessageCapture::MessageCapture()
{
    clear();
    previous = qInstallMessageHandler(handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous);
}

QStringList MessageCapture::messages() const
{
    QMutexLocker lock(&mutex);
    QStringList out;
    for (const Captured &c : captured)
        out << c.text;
    return out;
}

QStringList MessageCapture::debugMessages() const
{
    QMutexLocker lock(&mutex);
    QStringList out;
    for (const Captured &c : captured) {
        if (c.type == QtDebugMsg)
            out << c.text;
    }
    return out;
}

void MessageCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}

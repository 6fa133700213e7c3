// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QtGlobal>

// Captures the debug output (qDebug and friends) while it lives, one entry per message.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QStringList messages() const;
    // Debug-level messages only (what qDebug() wrote).
    QStringList debugMessages() const;
    void clear();

private:
    QtMessageHandler previous;
};

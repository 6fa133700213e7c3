// SPDX-License-Identifier: GPL-3.0-or-later
#include "messages/messagehistory.h"

#include <QCoreApplication>

#include <algorithm>

MessageHistory::MessageHistory(int capacity) : limit(std::max(1, capacity)) {}

void MessageHistory::add(const QString &text, const QDateTime &time)
{
    if (text.isEmpty())
        return;
    if (!kept.isEmpty() && kept.first().text == text) {
        kept.first().time = time;
        ++kept.first().repeats;
        return;
    }
    kept.prepend({time, text, 1});
    while (kept.size() > limit)
        kept.removeLast();
}

QString MessageHistory::line(const Entry &entry)
{
    QString out = entry.time.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + entry.text;
    if (entry.repeats > 1)
        out += QCoreApplication::translate("MessageHistory", " (%n times)", nullptr, entry.repeats);
    return out;
}

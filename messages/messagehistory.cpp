// SPDX-License-Identifier: GPL-3.0-or-later
#include "messages/messagehistory.h"

#include <QCoreApplication>

#include <algorithm>

MessageHistory::MessageHistory(int capacity) : limit(std::max(1, capacity)) {}

namespace {

// The text with each run of digits made one '#': "12 lines" and "13 lines" have the same shape.
QString shape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (!text[i].isDigit())
            out += text[i];
        else if (i == 0 || !text[i - 1].isDigit())
            out += QLatin1Char('#');
    }
    return out;
}

} // namespace

void MessageHistory::add(const QString &text, const QDateTime &time)
{
    if (text.isEmpty())
        return;
    if (!kept.isEmpty() && kept.first().text == text) {
        kept.first().time = time;
        ++kept.first().repeats;
        return;
    }
    // A count that went on since (lines not recorded, say) says the same as before, up to date.
    if (!kept.isEmpty() && kept.first().repeats == 1 && shape(kept.first().text) == shape(text)) {
        kept.first() = {time, text, 1};
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

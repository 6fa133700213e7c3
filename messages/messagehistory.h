// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// The messages a window's status bar showed, newest first, each with the time it was shown, so
// that one replaced a moment later, or one too long to show whole, can still be read.
class MessageHistory
{
public:
    struct Entry
    {
        QDateTime time; // when it was last shown
        QString text;
        int repeats = 1; // shown this many times in a row
    };

    static constexpr int DefaultCapacity = 50;

    explicit MessageHistory(int capacity = DefaultCapacity);

    // Notes a message shown at time. The same text again right after the newest is counted on
    // that entry, which takes the later time; one that differs from the newest only in its
    // numbers (a count that went on) takes its place. Empty texts (a cleared status bar) are not
    // kept.
    void add(const QString &text, const QDateTime &time);
    // Newest first; at most capacity() entries, the oldest dropped first.
    const QList<Entry> &entries() const { return kept; }
    int capacity() const { return limit; }

    // One entry as a line of text: its time (hh:mm:ss), the text, and how often it came.
    static QString line(const Entry &entry);

private:
    QList<Entry> kept;
    int limit;
};

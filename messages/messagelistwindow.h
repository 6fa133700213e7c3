// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class MessageHistory;
class QListWidget;

// The "Messages" window: a window's earlier status messages, newest first, each with its time
// and in full, to read and copy. It does not block the window it belongs to.
class MessageListWindow : public QDialog
{
    Q_OBJECT

public:
    explicit MessageListWindow(QWidget *parent);

    // Shows the window with history's entries (again, when they have changed).
    void showEntries(const MessageHistory &history);

    static QString windowName() { return QStringLiteral("messageList"); }

private:
    QListWidget *entries;
};

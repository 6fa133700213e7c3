// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "messages/messagehistory.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
class QMenu;
class QStatusBar;
class QWidget;
class MessageListWindow;

// Shows a window's status-bar messages so that none is ever cut off unseen. The status bar's
// own message is drawn clipped at its permanent items, with no sign that anything is missing;
// here a label of the status bar's own, to the left of its permanent items and taking the room
// they leave, shows each message instead: whole when it fits, otherwise cut short with "..." and
// whole in its tooltip. Every message also goes into a history (newest first, with its time),
// which the status bar's context menu opens as a list. The status bar keeps the message itself,
// so currentMessage(), showMessage() and clearMessage() work as before.
class StatusMessages : public QObject
{
    Q_OBJECT

public:
    // Attaches to statusBar, as its child, before anything else is shown in it.
    explicit StatusMessages(QStatusBar *statusBar);

    // The one attached to statusBar, or null.
    static StatusMessages *of(const QStatusBar *statusBar);

    const MessageHistory &history() const { return messages; }
    // The label that shows the current message.
    QLabel *label() const;
    // Opens the list of earlier messages (a window of its own, kept up to date while open).
    QWidget *showHistory();
    // Adds the status bar's context-menu entries to menu: the list of messages, and copying the
    // current one.
    void addMenuEntries(QMenu *menu);

    static QString labelName() { return QStringLiteral("statusMessage"); }

signals:
    void historyChanged();

private:
    void shown(const QString &text);
    void contextMenu(const QPoint &at);

    QStatusBar *statusBar;
    class ElidingLabel *shownLabel;
    MessageHistory messages;
    QPointer<MessageListWindow> list;
};

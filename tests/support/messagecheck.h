// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "messages/statusmessages.h"

#include <QFontMetrics>
#include <QLabel>
#include <QObject>
#include <QStatusBar>
#include <QStringList>

// Watches every message a window's status bar shows and checks it the moment it is shown, as the
// operator would meet it: the text the label shows fits the label's width (measured with its
// font), and is the whole message or the message cut short with "…", which then has its whole
// text in the tooltip; and it is the newest entry of the message history. problems() lists each
// message that was not so; seen() every message shown.
class MessageCheck : public QObject
{
public:
    explicit MessageCheck(QStatusBar *statusBar) : statusBar(statusBar)
    {
        // Connected after the status bar's own StatusMessages, so this sees what it made of it.
        connect(statusBar, &QStatusBar::messageChanged, this, &MessageCheck::check);
        check(statusBar->currentMessage());
    }

    const QStringList &problems() const { return trouble; }
    const QStringList &seen() const { return shown; }

    // What is wrong with how the status bar shows text now (empty when it reads well).
    static QString problemWith(QStatusBar *statusBar, const QString &text)
    {
        const StatusMessages *messages = StatusMessages::of(statusBar);
        if (!messages)
            return QStringLiteral("no StatusMessages on the status bar");
        const QLabel *label = messages->label();
        const QString onScreen = label->text();
        const int room = label->contentsRect().width();
        const int width = QFontMetrics(label->font()).horizontalAdvance(onScreen);
        if (width > room)
            return QStringLiteral("\"%1\" is %2 px wide in %3 px").arg(onScreen).arg(width).arg(room);
        if (onScreen != text) {
            const QString kept = onScreen.left(onScreen.size() - 1);
            if (!onScreen.endsWith(QChar(0x2026)) || !text.startsWith(kept))
                return QStringLiteral("\"%1\" shown for \"%2\"").arg(onScreen, text);
            if (label->toolTip() != text)
                return QStringLiteral("cut \"%1\" without its text in the tooltip").arg(text);
        }
        if (messages->history().entries().isEmpty() || messages->history().entries().first().text != text)
            return QStringLiteral("\"%1\" is not the newest in the history").arg(text);
        // The status bar draws its own message only left of the first permanent item: the label
        // starts at its left edge, leaving that no room, and takes a fair share of the width.
        if (label->x() > 8 || room < statusBar->width() / 3)
            return QStringLiteral("the label is at %1, %2 px wide").arg(label->x()).arg(room);
        return QString();
    }

private:
    void check(const QString &text)
    {
        if (text.isEmpty())
            return;
        shown << text;
        const QString problem = problemWith(statusBar, text);
        if (!problem.isEmpty())
            trouble << problem;
    }

    QStatusBar *statusBar;
    QStringList shown;
    QStringList trouble;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "messages/statusmessages.h"

#include "messages/messagelistwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTextDocument>

#include <algorithm>

// A one-line label that cuts its text short with "…" to fit its width, and keeps the whole
// text in its tooltip. Its width is what the layout gives it, never what its text would need.
class ElidingLabel : public QLabel
{
public:
    explicit ElidingLabel(QWidget *parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    void setFullText(const QString &text)
    {
        full = text;
        full.replace(QLatin1Char('\n'), QLatin1Char(' '));
        // Shown as the plain text it is, even where it looks like markup.
        setToolTip(Qt::mightBeRichText(text) ? text.toHtmlEscaped() : text);
        fit();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }
    void changeEvent(QEvent *event) override
    {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            fit();
    }

private:
    void fit()
    {
        const int room = std::max(0, contentsRect().width() - 2 * std::max(0, margin()));
        setText(fontMetrics().elidedText(full, Qt::ElideRight, room));
    }

    QString full;
};

StatusMessages::StatusMessages(QStatusBar *statusBar)
    : QObject(statusBar), statusBar(statusBar), shownLabel(new ElidingLabel(statusBar))
{
    setObjectName(QStringLiteral("statusMessages"));
    shownLabel->setObjectName(labelName());
    // Left of the permanent items and stretching over the room they leave: the status bar's own
    // drawing of the message, which ends where the first permanent item begins, gets none.
    statusBar->insertPermanentWidget(0, shownLabel, 1);
    connect(statusBar, &QStatusBar::messageChanged, this, &StatusMessages::shown);
    statusBar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(statusBar, &QWidget::customContextMenuRequested, this, &StatusMessages::contextMenu);
    shown(statusBar->currentMessage());
}

StatusMessages *StatusMessages::of(const QStatusBar *statusBar)
{
    return statusBar ? statusBar->findChild<StatusMessages *>(QStringLiteral("statusMessages"),
                                                              Qt::FindDirectChildrenOnly)
                     : nullptr;
}

QLabel *StatusMessages::label() const
{
    return shownLabel;
}

void StatusMessages::shown(const QString &text)
{
    shownLabel->setFullText(text);
    if (text.isEmpty())
        return;
    messages.add(text, QDateTime::currentDateTime());
    emit historyChanged();
}

QWidget *StatusMessages::showHistory()
{
    if (!list) {
        list = new MessageListWindow(statusBar->window());
        list->setAttribute(Qt::WA_DeleteOnClose);
        list->showEntries(messages);
        connect(this, &StatusMessages::historyChanged, list, [this] { list->showEntries(messages); });
    }
    list->raise();
    list->activateWindow();
    return list;
}

void StatusMessages::contextMenu(const QPoint &at)
{
    QMenu menu(statusBar);
    menu.setObjectName(QStringLiteral("statusMenu"));
    addMenuEntries(&menu);
    menu.exec(statusBar->mapToGlobal(at));
}

void StatusMessages::addMenuEntries(QMenu *menu)
{
    QAction *history = menu->addAction(tr("Messages..."));
    history->setObjectName(QStringLiteral("showMessages"));
    history->setEnabled(!messages.entries().isEmpty());
    connect(history, &QAction::triggered, this, [this] { showHistory(); });
    QAction *copy = menu->addAction(tr("Copy Message"));
    copy->setObjectName(QStringLiteral("copyMessage"));
    const QString current = statusBar->currentMessage();
    copy->setEnabled(!current.isEmpty());
    connect(copy, &QAction::triggered, this, [current] { QApplication::clipboard()->setText(current); });
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "messages/messagelistwindow.h"

#include "messages/messagehistory.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

MessageListWindow::MessageListWindow(QWidget *parent) : QDialog(parent), entries(new QListWidget(this))
{
    setObjectName(windowName());
    setWindowTitle(tr("Messages"));
    setModal(false);
    entries->setObjectName(QStringLiteral("messages"));
    entries->setWordWrap(true);
    entries->setSelectionMode(QAbstractItemView::ExtendedSelection);
    entries->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(tr("Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyMessages"));
    connect(copy, &QPushButton::clicked, this, [this] {
        // The selected messages, or all of them, as lines of text.
        QStringList lines;
        const QList<QListWidgetItem *> selected = entries->selectedItems();
        for (int i = 0; i < entries->count(); ++i) {
            if (selected.isEmpty() || entries->item(i)->isSelected())
                lines << entries->item(i)->text();
        }
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(entries);
    layout->addWidget(buttons);
    resize(560, 320);
}

void MessageListWindow::showEntries(const MessageHistory &history)
{
    entries->clear();
    for (const MessageHistory::Entry &entry : history.entries())
        entries->addItem(MessageHistory::line(entry));
    QDialog::show();
}

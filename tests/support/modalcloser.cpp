// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/modalcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>

ModalCloser::ModalCloser(QObject *parent) : QObject(parent)
{
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, &ModalCloser::poll);
    timer.start();
}

void ModalCloser::setHandler(std::function<void(QWidget *)> h)
{
    handler = std::move(h);
}

void ModalCloser::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == handling)
        return;
    // Answered from a fresh event: the answer may open a nested box (replace the file?), and
    // this timer does not fire again while its own slot runs.
    handling = modal;
    QTimer::singleShot(0, this, [this, guard = QPointer<QWidget>(modal)] {
        if (guard)
            answer(guard);
        handling = nullptr;
    });
}

void ModalCloser::answer(QWidget *modal)
{
    Seen s{QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle(), QString()};
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        s.text = box->text();
        shown.append(s);
        // Answer yes (replace the file, carry on), or with the only button there is.
        const auto buttons = box->buttons();
        QAbstractButton *answer = buttons.isEmpty() ? nullptr : buttons.first();
        for (QAbstractButton *b : buttons) {
            const auto role = box->buttonRole(b);
            if (role == QMessageBox::YesRole || role == QMessageBox::AcceptRole)
                answer = b;
        }
        if (answer)
            answer->click();
        else
            box->reject();
        return;
    }
    shown.append(s);
    if (handler)
        handler(modal);
    else if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}

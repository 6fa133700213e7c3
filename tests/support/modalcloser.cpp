#include "support/modalcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>

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
    if (!modal || !modal->isVisible())
        return;
    Seen s{QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle(), QString()};
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        s.text = box->text();
        shown.append(s);
        const auto buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->click();
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

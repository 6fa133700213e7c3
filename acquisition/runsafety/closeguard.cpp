// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/closeguard.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

CloseGuard::CloseGuard(QWidget *window, std::function<Unsaved()> unsaved, std::function<bool()> save)
    : QObject(window), window(window), unsaved(std::move(unsaved)), save(std::move(save))
{
    window->installEventFilter(this);
}

bool CloseGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window || event->type() != QEvent::Close || mayClose())
        return QObject::eventFilter(watched, event);
    event->ignore();
    return true;
}

bool CloseGuard::mayClose()
{
    if (asking)
        return false; // a second close while the question is open waits for its answer
    const Unsaved state = unsaved();
    if (state.samples == 0)
        return true;

    QMessageBox box(
        QMessageBox::Warning, tr("Unsaved Data"),
        state.samples == 1
            ? tr("1 sample in this window has not been saved with File > Save as...")
            : tr("%1 samples in this window have not been saved with File > Save as...").arg(state.samples),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window);
    box.setObjectName(boxName());
    box.setInformativeText(state.whereAlready);
    box.button(QMessageBox::Save)->setText(tr("Save..."));
    box.button(QMessageBox::Discard)->setText(tr("Close Anyway"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    asking = true;
    const int answer = box.exec();
    asking = false;
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save)
        return save(); // a cancelled or failed save keeps the window open
    return false;
}

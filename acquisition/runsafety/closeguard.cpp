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
    for (;;) {
        const Unsaved state = unsaved();
        if (state.samples == 0)
            return true;
        asking = true;
        const int answer = ask(state);
        if (answer == QMessageBox::Save && save()) {
            // Samples keep coming while the file is written; they are not in it.
            const Unsaved after = unsaved();
            if (after.samples > 0 && after.kept) {
                QMessageBox box(QMessageBox::Information, tr("Saved"),
                                after.samples == 1
                                    ? tr("1 sample came in while the file was saved and is not in it.")
                                    : tr("%1 samples came in while the file was saved and are not in it.")
                                          .arg(after.samples),
                                QMessageBox::Ok, window);
                box.setObjectName(arrivedBoxName());
                box.setInformativeText(after.whereAlready);
                box.exec();
            }
            asking = false;
            if (after.samples == 0 || after.kept)
                return true;
            continue; // they are nowhere else: ask again
        }
        asking = false;
        if (answer == QMessageBox::Discard)
            return true;
        return false; // cancelled, or a cancelled or failed save: the window stays open
    }
}

int CloseGuard::ask(const Unsaved &state)
{
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
    return box.exec();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// Watches for modal dialogs and closes each one as soon as it shows, remembering what it said.
// Create it before the code that opens the box; a message box is answered yes/OK,
// any other dialog is handed to the optional handler (or rejected).
class ModalCloser : public QObject
{
    Q_OBJECT

public:
    struct Seen
    {
        QString className;
        QString title;
        QString text; // a message box's text
    };

    explicit ModalCloser(QObject *parent = nullptr);

    // Called with each modal dialog that is not a message box; it must close the dialog.
    void setHandler(std::function<void(QWidget *)> handler);
    QList<Seen> seen() const { return shown; }
    int count() const { return shown.size(); }

private:
    void poll();
    void answer(QWidget *modal);

    QTimer timer;
    QList<Seen> shown;
    std::function<void(QWidget *)> handler;
    QWidget *handling = nullptr;
};

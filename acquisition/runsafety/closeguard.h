// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

// Asks before a window that holds unsaved samples closes (closed by the operator, or by the
// session ending): save them, close anyway, or cancel. Installed as an event filter on the
// window, so the window itself needs no close handler.
class CloseGuard : public QObject
{
    Q_OBJECT

public:
    struct Unsaved
    {
        quint64 samples = 0;  // samples not written by a successful save
        QString whereAlready; // where they are kept meanwhile (the live recording), for the question
    };

    // unsaved tells what is at stake; save runs the window's own save and returns whether
    // everything was saved.
    CloseGuard(QWidget *window, std::function<Unsaved()> unsaved, std::function<bool()> save);

    static QString boxName() { return QStringLiteral("unsavedDataBox"); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool mayClose();

    QWidget *window;
    std::function<Unsaved()> unsaved;
    std::function<bool()> save;
    bool asking = false;
};

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
        bool kept = false;    // the live recording holds them all
    };

    // unsaved tells what is at stake; save runs the window's own save and returns whether it
    // wrote a file. Samples that arrive while it writes are not in that file: when the live
    // recording holds them the window closes and says so, otherwise the question comes again.
    CloseGuard(QWidget *window, std::function<Unsaved()> unsaved, std::function<bool()> save);

    static QString boxName() { return QStringLiteral("unsavedDataBox"); }
    static QString arrivedBoxName() { return QStringLiteral("arrivedDuringSaveBox"); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool mayClose();
    int ask(const Unsaved &state);

    QWidget *window;
    std::function<Unsaved()> unsaved;
    std::function<bool()> save;
    bool asking = false;
};

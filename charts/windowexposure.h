// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;
class X11Obscured;

// Tells whether anyone can see a top-level window: it is shown, not minimised, and the window
// system says it is exposed (a minimised window is unmapped by the window manager; a covered one
// is reported as not exposed only where the window system tells, which on X11 it does not through
// Qt: see X11Obscured). It watches the widget's and its native window's events through event
// filters, so the window itself needs no event handler of its own.
// Until the window is first shown nothing is known, and it counts as seen.
class WindowExposure : public QObject
{
    Q_OBJECT

public:
    // Watches window (a top-level widget), which owns this object.
    explicit WindowExposure(QWidget *window);

    bool isSeen() const { return seen; }

signals:
    void seenChanged(bool seen);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchNativeWindow();
    void update();

    QWidget *window;
    QPointer<QWindow> handle;
    X11Obscured *obscured = nullptr; // where the window system is X11
    bool seen = true;
};

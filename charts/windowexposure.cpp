// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/windowexposure.h"

#include "charts/x11obscured.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

WindowExposure::WindowExposure(QWidget *window) : QObject(window), window(window)
{
    window->installEventFilter(this);
    obscured = X11Obscured::create(this);
    if (obscured)
        connect(obscured, &X11Obscured::changed, this, &WindowExposure::update);
    watchNativeWindow();
}

void WindowExposure::watchNativeWindow()
{
    QWindow *now = window->windowHandle();
    if (now != handle) {
        if (handle)
            handle->removeEventFilter(this);
        handle = now;
        if (handle) {
            handle->installEventFilter(this);
            connect(handle, &QWindow::visibilityChanged, this, &WindowExposure::update, Qt::UniqueConnection);
        }
    }
    if (obscured)
        obscured->watch(handle ? quintptr(handle->winId()) : 0);
}

bool WindowExposure::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WinIdChange:
    case QEvent::WindowStateChange:
        if (watched == window) {
            watchNativeWindow();
            update();
        }
        break;
    case QEvent::Expose:
        // Seen before the window handles it: a redraw made now is what it paints.
        if (watched == handle)
            update();
        break;
    default:
        break;
    }
    return false;
}

void WindowExposure::update()
{
    const bool now = window->isVisible() && !window->isMinimized() && handle && handle->isExposed() &&
                     handle->visibility() != QWindow::Minimized && handle->visibility() != QWindow::Hidden &&
                     !(obscured && obscured->isObscured());
    if (now == seen)
        return;
    seen = now;
    emit seenChanged(seen);
}

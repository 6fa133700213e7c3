// SPDX-License-Identifier: GPL-3.0-or-later
#include "placement/windowplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// Between a window and the one it opens beside.
constexpr int Gap = 8;
// Set on a window once placed: later shows leave it where the operator put it.
const char *const PlacedProperty = "quellspanPlaced";

// The window manager's frame around a shown window (none before it is shown).
QMargins frameOf(const QWidget *window)
{
    if (!window || !window->isVisible())
        return QMargins();
    const QRect frame = window->frameGeometry(), inside = window->geometry();
    return QMargins(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                    frame.bottom() - inside.bottom());
}

} // namespace

void placeBeside(QWidget *window, const QWidget *owner)
{
    QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The window gets a frame like its owner's.
    const QMargins frame = window->isVisible() ? frameOf(window) : frameOf(owner);
    const QSize room = available.size().shrunkBy(frame);
    // A window nobody sized yet takes the size it asks for, as it would when shown, but within
    // the screen.
    const QSize hinted = window->sizeHint().expandedTo(window->minimumSizeHint());
    const QSize wanted = window->testAttribute(Qt::WA_Resized) || !hinted.isValid() ? window->size() : hinted;
    window->resize(wanted.boundedTo(room));
    const QSize outer = window->size().grownBy(frame);

    QPoint at = available.topLeft();
    if (owner) {
        const QRect beside = owner->frameGeometry();
        const QPoint candidates[] = {QPoint(beside.right() + 1 + Gap, beside.top()),
                                     QPoint(beside.left() - Gap - outer.width(), beside.top())};
        at = beside.topLeft() + QPoint(40, 40);
        for (const QPoint &candidate : candidates) {
            if (available.contains(QRect(candidate, outer))) {
                at = candidate;
                break;
            }
        }
    }
    at.setX(std::clamp(at.x(), available.left(),
                       std::max(available.left(), available.right() + 1 - outer.width())));
    at.setY(std::clamp(at.y(), available.top(),
                       std::max(available.top(), available.bottom() + 1 - outer.height())));
    window->move(at);
    window->setProperty(PlacedProperty, true);
}

void showBeside(QWidget *window, const QWidget *owner)
{
    if (!window->property(PlacedProperty).toBool())
        placeBeside(window, owner);
    window->show();
    window->raise();
    window->activateWindow();
}

bool isWhollyOn(const QWidget *window, const QScreen *screen)
{
    return screen && screen->availableGeometry().contains(window->frameGeometry());
}

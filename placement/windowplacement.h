// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QScreen;
class QWidget;

// Places window (not shown yet, or to be placed anew) beside owner, the window it belongs to: to
// its right when the screen has room, else to its left, else over it a little down and to the
// right; always wholly on owner's screen (its available part, without panels and docks), its size
// cut to the screen's if it is larger. Without an owner, it is kept on the primary screen.
void placeBeside(QWidget *window, const QWidget *owner);

// Shows window beside owner the first time (placeBeside), where the operator left it after that,
// raised and active: what a menu item that opens a window of its own does.
void showBeside(QWidget *window, const QWidget *owner);

// Whether window's frame lies wholly within the available part of screen.
bool isWhollyOn(const QWidget *window, const QScreen *screen);

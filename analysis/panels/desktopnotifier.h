// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// Tells the operator something worth leaving the desk for: a notification on the desktop.
using DesktopNotifier = std::function<void(const QString &summary, const QString &body)>;

// A freedesktop notification (org.freedesktop.Notifications over the session bus), sent without
// waiting for an answer. Nothing happens where there is no session bus.
void notifyDesktop(const QString &summary, const QString &body);

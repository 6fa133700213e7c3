// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/publishtarget.h"

#include <QByteArray>

#include <functional>

class QWidget;

// The password of target's user: from the desktop's secret store (qtkeychain) when it holds one,
// else asked for once per start of the program and kept in the store when there is one (in
// memory only when there is none). It is never written anywhere else. done(false, {}) when the
// operator cancels the question. done may be called before this returns.
void fetchBrokerPassword(QWidget *parent, const PublishTarget &target,
                         std::function<void(bool ok, const QByteArray &password)> done);

// Forgets what was asked in this start (the broker refused it).
void forgetBrokerPassword(const PublishTarget &target);

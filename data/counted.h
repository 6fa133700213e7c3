// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A count with its noun, as English has it: "1 line", "2 lines", "0 samples".
inline QString counted(qint64 n, const QString &one, const QString &many)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// A sensitivity as the operator typed it, checked before it goes to the unit: the unit reads a
// number in uV/(W/m^2), so only a positive finite number in C notation ("12.5", "1e1") is sent,
// without the blanks around it. Letters, a decimal comma or a blank field are never sent.
struct SensitivityText
{
    explicit SensitivityText(const QString &typed);

    bool isValid() const { return problem.isEmpty(); }
    QByteArray sent; // what goes to the unit, when valid
    QString problem; // why it is not sent, in words; empty when valid
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/sensitivitytext.h"

#include <QCoreApplication>

#include <charconv>
#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("SensitivityText", text);
}

} // namespace

SensitivityText::SensitivityText(const QString &typed)
{
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty()) {
        problem = translated("it is empty");
        return;
    }
    const QByteArray bytes = trimmed.toUtf8();
    const char *end = bytes.constData() + bytes.size();
    double value = 0;
    const std::from_chars_result r = std::from_chars(bytes.constData(), end, value);
    if (r.ec == std::errc::result_out_of_range && r.ptr == end) {
        problem = translated("it is too large");
    } else if (r.ec != std::errc() || r.ptr != end || std::isnan(value)) {
        problem = trimmed.contains(QLatin1Char(','))
                      ? translated("it is not a number (a decimal point, not a comma)")
                      : translated("it is not a number");
    } else if (std::isinf(value)) {
        problem = translated("it is not finite");
    } else if (!(value > 0)) {
        problem = translated("it is not above 0");
    } else {
        sent = bytes;
    }
}

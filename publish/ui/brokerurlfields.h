// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QFormLayout;
class QLabel;
class QLineEdit;
class QWidget;

// The fields a dialog asks a broker's URL with: the URL, for mqtts:// the CA file the broker's
// certificate must come from (with Choose...), and a line saying why a URL can't be used.
struct BrokerUrlFields
{
    QLineEdit *url = nullptr;
    QLineEdit *caFile = nullptr;
    QLabel *problem = nullptr;

    // Adds the URL's and the CA file's rows to form; problem is made for the caller to place.
    // names: the object names' start ("publish": publishUrl, publishCaFile, publishProblem).
    static BrokerUrlFields add(QFormLayout *form, QWidget *dialog, const QString &url, const QString &caFile,
                               const QString &placeholder, const QString &names);
};

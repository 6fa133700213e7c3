// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/publishtarget.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// "Publish...": switches publishing on or off and sets the broker's URL and, for TLS, a CA file.
// A URL that can't be used says why beside it, and OK waits for one that can.
class PublishDialog : public QDialog
{
    Q_OBJECT

public:
    PublishDialog(const PublishChoice &choice, QWidget *parent = nullptr);
    PublishChoice choice() const;

    static QString dialogName() { return QStringLiteral("publishDialog"); }

private:
    void check();

    QCheckBox *enabled;
    QLineEdit *url;
    QLineEdit *caFile;
    QLabel *problem;
    QDialogButtonBox *buttons;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

// "Watch a Rig...": the URL of the rig to watch, mqtt://[user@]host[:port]/prefix or mqtts://...,
// and for TLS the broker's CA file. A URL that names no rig says why beside it, and OK waits for
// one that does.
class WatchDialog : public QDialog
{
    Q_OBJECT

public:
    explicit WatchDialog(const QString &url, QWidget *parent = nullptr);
    QString url() const;
    QString caFile() const;

    static QString dialogName() { return QStringLiteral("watchDialog"); }

private:
    void check();

    QLineEdit *urlField;
    QLineEdit *caField;
    QLabel *problem;
    QDialogButtonBox *buttons;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/publishtarget.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// Whether and where a run is published, as the operator chooses it and the program remembers it.
struct PublishChoice
{
    bool enabled = false;
    QString url;    // mqtt://[user@]host[:port]/prefix or mqtts://...
    QString caFile; // for mqtts: the broker's CA (PEM); empty: the system's CAs

    // The target it names; false, with *why, when the URL is not one (see parsePublishUrl).
    bool target(PublishTarget *target, QString *why) const;
    bool operator==(const PublishChoice &o) const
    {
        return enabled == o.enabled && url == o.url && caFile == o.caFile;
    }
};

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
    void chooseCaFile();

    QCheckBox *enabled;
    QLineEdit *url;
    QLineEdit *caFile;
    QLabel *problem;
    QDialogButtonBox *buttons;
};

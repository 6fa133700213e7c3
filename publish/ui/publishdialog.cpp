// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ui/publishdialog.h"

#include "publish/ui/brokerurlfields.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PublishDialog::PublishDialog(const PublishChoice &choice, QWidget *parent) : QDialog(parent)
{
    setObjectName(dialogName());
    setWindowTitle(tr("Publish the Run"));
    auto *layout = new QVBoxLayout(this);
    auto *intro =
        new QLabel(tr("Every record, mark and event of the run goes to the lab's MQTT broker as it "
                      "happens, and after an outage whatever the broker missed follows from the live "
                      "recording. Topics: <prefix>/status, /run, /data and /event."),
                   this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    enabled = new QCheckBox(tr("Publish to the broker"), this);
    enabled->setObjectName(QStringLiteral("publishEnabled"));
    enabled->setChecked(choice.enabled);
    layout->addWidget(enabled);

    auto *form = new QFormLayout;
    const BrokerUrlFields fields = BrokerUrlFields::add(
        form, this, choice.url, choice.caFile,
        QStringLiteral("mqtt://[user@]host[:port]/%1").arg(defaultTopicPrefix()), QStringLiteral("publish"));
    url = fields.url;
    caFile = fields.caFile;
    problem = fields.problem;
    layout->addLayout(form);
    auto *help =
        new QLabel(tr("mqtt://host/prefix, or mqtts://user@host:8883/prefix for TLS with a user name "
                      "(the password is asked for once and kept in the desktop's secret store). "
                      "Without a prefix: %1.")
                       .arg(defaultTopicPrefix()),
                   this);
    help->setWordWrap(true);
    layout->addWidget(help);
    layout->addWidget(problem);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(enabled, &QCheckBox::toggled, this, &PublishDialog::check);
    connect(url, &QLineEdit::textChanged, this, &PublishDialog::check);
    check();
}

PublishChoice PublishDialog::choice() const
{
    return {enabled->isChecked(), url->text().trimmed(), caFile->text().trimmed()};
}

void PublishDialog::check()
{
    PublishTarget target;
    QString why;
    const bool usable = choice().target(&target, &why);
    // A URL is needed only to publish; switching off needs none.
    const bool needed = enabled->isChecked();
    problem->setText(needed && !usable && !url->text().trimmed().isEmpty() ? why : QString());
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!needed || usable);
    url->setEnabled(true);
}

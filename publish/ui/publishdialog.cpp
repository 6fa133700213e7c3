// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ui/publishdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
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
    url = new QLineEdit(choice.url, this);
    url->setObjectName(QStringLiteral("publishUrl"));
    url->setPlaceholderText(QStringLiteral("mqtt://[user@]host[:port]/%1").arg(defaultTopicPrefix()));
    url->setMinimumWidth(url->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    form->addRow(tr("Broker URL:"), url);
    auto *caRow = new QHBoxLayout;
    caFile = new QLineEdit(choice.caFile, this);
    caFile->setObjectName(QStringLiteral("publishCaFile"));
    caFile->setPlaceholderText(tr("the system's CAs"));
    auto *choose = new QPushButton(tr("Choose..."), this);
    caRow->addWidget(caFile);
    caRow->addWidget(choose);
    form->addRow(tr("CA file (mqtts://):"), caRow);
    layout->addLayout(form);
    auto *help =
        new QLabel(tr("mqtt://host/prefix, or mqtts://user@host:8883/prefix for TLS with a user name "
                      "(the password is asked for once and kept in the desktop's secret store). "
                      "Without a prefix: %1.")
                       .arg(defaultTopicPrefix()),
                   this);
    help->setWordWrap(true);
    layout->addWidget(help);
    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("publishProblem"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b00000"));
    layout->addWidget(problem);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(enabled, &QCheckBox::toggled, this, &PublishDialog::check);
    connect(url, &QLineEdit::textChanged, this, &PublishDialog::check);
    connect(choose, &QPushButton::clicked, this, &PublishDialog::chooseCaFile);
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

void PublishDialog::chooseCaFile()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("The Broker's CA"), caFile->text(),
                                                      tr("Certificates (*.pem *.crt);;All files (*)"));
    if (!file.isEmpty())
        caFile->setText(QDir::toNativeSeparators(file));
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/ui/watchdialog.h"

#include "publish/ui/brokerurlfields.h"
#include "remote/riglink.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

WatchDialog::WatchDialog(const QString &url, QWidget *parent) : QDialog(parent)
{
    setObjectName(dialogName());
    setWindowTitle(tr("Watch a Rig"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(tr("A rig that publishes its run to the lab's broker can be watched from here: "
                                "the whole run from its first record, then live. Nothing is sent to the rig "
                                "but requests for what this window missed."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto *form = new QFormLayout;
    const BrokerUrlFields fields = BrokerUrlFields::add(
        form, this, url, QString(), QStringLiteral("mqtt://[user@]host[:port]/quellspan/<rig>"),
        QStringLiteral("watch"));
    urlField = fields.url;
    caField = fields.caFile;
    problem = fields.problem;
    layout->addLayout(form);
    layout->addWidget(problem);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(urlField, &QLineEdit::textChanged, this, &WatchDialog::check);
    check();
}

QString WatchDialog::url() const
{
    return urlField->text().trimmed();
}

QString WatchDialog::caFile() const
{
    return caField->text().trimmed();
}

void WatchDialog::check()
{
    PublishTarget target;
    QString why;
    const bool usable = RigLink::parseUrl(url(), false, &target, &why);
    problem->setText(usable || url().isEmpty() ? QString() : why);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(usable);
}

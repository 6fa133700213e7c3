// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ui/brokerurlfields.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

BrokerUrlFields BrokerUrlFields::add(QFormLayout *form, QWidget *dialog, const QString &url,
                                     const QString &caFile, const QString &placeholder, const QString &names)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("BrokerUrlFields", text); };
    BrokerUrlFields f;
    f.url = new QLineEdit(url, dialog);
    f.url->setObjectName(names + QStringLiteral("Url"));
    f.url->setPlaceholderText(placeholder);
    f.url->setMinimumWidth(f.url->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    form->addRow(tr("Broker URL:"), f.url);
    auto *caRow = new QHBoxLayout;
    f.caFile = new QLineEdit(caFile, dialog);
    f.caFile->setObjectName(names + QStringLiteral("CaFile"));
    f.caFile->setPlaceholderText(tr("the system's CAs"));
    auto *choose = new QPushButton(tr("Choose..."), dialog);
    caRow->addWidget(f.caFile);
    caRow->addWidget(choose);
    form->addRow(tr("CA file (mqtts://):"), caRow);
    f.problem = new QLabel(dialog);
    f.problem->setObjectName(names + QStringLiteral("Problem"));
    f.problem->setWordWrap(true);
    f.problem->setStyleSheet(QStringLiteral("color: #b00000"));
    QLineEdit *field = f.caFile;
    QObject::connect(choose, &QPushButton::clicked, dialog, [dialog, field, tr] {
        const QString file = QFileDialog::getOpenFileName(dialog, tr("The Broker's CA"), field->text(),
                                                          tr("Certificates (*.pem *.crt);;All files (*)"));
        if (!file.isEmpty())
            field->setText(QDir::toNativeSeparators(file));
    });
    return f;
}

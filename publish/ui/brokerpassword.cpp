// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ui/brokerpassword.h"

#include <QCoreApplication>
#include <QHash>
#include <QInputDialog>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <qt5keychain/keychain.h>

namespace {

QHash<QString, QByteArray> &askedThisStart()
{
    static QHash<QString, QByteArray> passwords;
    return passwords;
}

QString storeKey(const PublishTarget &target)
{
    return target.user + QLatin1Char('@') + target.brokerName();
}

QString service()
{
    return QCoreApplication::applicationName() + QStringLiteral(" MQTT broker");
}

void ask(QWidget *parent, const PublishTarget &target,
         const std::function<void(bool, const QByteArray &)> &done)
{
    bool ok = false;
    const QString password = QInputDialog::getText(
        parent, QCoreApplication::translate("BrokerPassword", "Broker Password"),
        QCoreApplication::translate("BrokerPassword", "Password of %1 at the broker %2:")
            .arg(target.user, target.brokerName()),
        QLineEdit::Password, QString(), &ok);
    if (!ok) {
        done(false, QByteArray());
        return;
    }
    const QByteArray bytes = password.toUtf8();
    askedThisStart().insert(storeKey(target), bytes);
    // Kept in the secret store when there is one; nowhere else.
    auto *write = new QKeychain::WritePasswordJob(service());
    write->setAutoDelete(true);
    write->setInsecureFallback(false);
    write->setKey(storeKey(target));
    write->setTextData(password);
    write->start();
    done(true, bytes);
}

} // namespace

void fetchBrokerPassword(QWidget *parent, const PublishTarget &target,
                         std::function<void(bool ok, const QByteArray &password)> done)
{
    const auto asked = askedThisStart().constFind(storeKey(target));
    if (asked != askedThisStart().constEnd()) {
        done(true, *asked);
        return;
    }
    auto *read = new QKeychain::ReadPasswordJob(service());
    read->setAutoDelete(true);
    read->setInsecureFallback(false);
    read->setKey(storeKey(target));
    QPointer<QWidget> window(parent);
    QObject::connect(read, &QKeychain::Job::finished, [window, target, done](QKeychain::Job *job) {
        auto *finished = static_cast<QKeychain::ReadPasswordJob *>(job);
        if (finished->error() == QKeychain::NoError) {
            done(true, finished->textData().toUtf8());
            return;
        }
        ask(window, target, done);
    });
    read->start();
}

void forgetBrokerPassword(const PublishTarget &target)
{
    askedThisStart().remove(storeKey(target));
    auto *remove = new QKeychain::DeletePasswordJob(service());
    remove->setAutoDelete(true);
    remove->setKey(storeKey(target));
    remove->start();
}

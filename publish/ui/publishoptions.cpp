// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ui/publishoptions.h"

#include "publish/ui/runpublisher.h"

QString PublishOptions::apply(const std::function<bool(const QCommandLineOption &)> &isSet,
                              const std::function<QString(const QCommandLineOption &)> &value) const
{
    if (!isSet(publish))
        return isSet(ca) ? QStringLiteral("--publish-ca goes with --publish") : QString();
    const PublishChoice choice{true, value(publish), value(ca)};
    PublishTarget target;
    QString why;
    if (!choice.target(&target, &why))
        return QStringLiteral("--publish: %1").arg(why);
    if (!choice.caFile.isEmpty() && !target.tls)
        return QStringLiteral("--publish-ca goes with an mqtts:// URL");
    RunPublisher::setCommandLineChoice(choice);
    return QString();
}

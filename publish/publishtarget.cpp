// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publishtarget.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSysInfo>
#include <QUrl>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PublishTarget", text);
}

bool isHostNameCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
           c == QLatin1Char('.') || c == QLatin1Char('_');
}

// %-escapes decoded; false when one is broken ("%4" or "%zz").
bool decodePercent(const QString &text, QString *decoded)
{
    const QByteArray bytes = text.toUtf8();
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%')
            continue;
        if (i + 2 >= bytes.size() || !isxdigit(uchar(bytes[i + 1])) || !isxdigit(uchar(bytes[i + 2])))
            return false;
    }
    const QByteArray raw = QByteArray::fromPercentEncoding(bytes);
    *decoded = QString::fromUtf8(raw.constData(), raw.size()); // NULs included: they are refused later
    return true;
}

} // namespace

QString PublishTarget::url() const
{
    QString text = tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://");
    if (!user.isEmpty())
        text += QString::fromUtf8(QUrl::toPercentEncoding(user)) + QLatin1Char('@');
    text += brokerName() + QLatin1Char('/');
    // Only what would be read otherwise is escaped: "%" itself.
    text += QString(prefix).replace(QLatin1Char('%'), QStringLiteral("%25"));
    return text;
}

QString PublishTarget::brokerName() const
{
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shownHost + QLatin1Char(':') + QString::number(port);
}

bool PublishTarget::operator==(const PublishTarget &o) const
{
    return tls == o.tls && user == o.user && host == o.host && port == o.port && prefix == o.prefix &&
           caFile == o.caFile;
}

QString checkTopicPrefix(const QString &prefix)
{
    if (prefix.isEmpty())
        return tr("the topic prefix is empty");
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return tr("the topic prefix \"%1\" holds a wildcard (\"+\" or \"#\"), which no published topic may "
                  "hold")
            .arg(prefix);
    if (prefix.startsWith(QLatin1Char('/')) || prefix.endsWith(QLatin1Char('/')) ||
        prefix.contains(QStringLiteral("//")))
        return tr("the topic prefix \"%1\" has an empty level (a leading, trailing or doubled \"/\")")
            .arg(prefix);
    if (prefix.startsWith(QLatin1Char('$')))
        return tr("the topic prefix \"%1\" starts with \"$\", which brokers keep for their own topics")
            .arg(prefix);
    if (prefix.contains(QChar(0)))
        return tr("the topic prefix holds a NUL character");
    if (prefix.toUtf8().size() > 60000)
        return tr("the topic prefix is longer than 60000 bytes");
    return QString();
}

QString defaultTopicPrefix()
{
    QString host = QSysInfo::machineHostName();
    for (QChar &c : host) {
        if (c == QLatin1Char('+') || c == QLatin1Char('#') || c == QLatin1Char('/') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    }
    if (host.isEmpty() || host.startsWith(QLatin1Char('$')))
        host.prepend(QStringLiteral("rig"));
    return QStringLiteral("quellspan/") + host;
}

bool parsePublishUrl(const QString &url, PublishTarget *target, QString *why)
{
    PublishTarget t;
    const int schemeEnd = url.indexOf(QStringLiteral("://"));
    const QString scheme = schemeEnd < 0 ? QString() : url.left(schemeEnd).toLower();
    if (scheme == QLatin1String("mqtts")) {
        t.tls = true;
        t.port = PublishTarget::TlsPort;
    } else if (scheme != QLatin1String("mqtt")) {
        *why = tr("\"%1\" is not a broker URL: it must start with mqtt:// or mqtts://").arg(url);
        return false;
    }
    const QString rest = url.mid(schemeEnd + 3);
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash + 1);

    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        if (userInfo.contains(QLatin1Char(':'))) {
            *why = tr("the URL holds a password: leave it out, the program asks for it and keeps it in the "
                      "desktop's secret store");
            return false;
        }
        if (userInfo.isEmpty() || !decodePercent(userInfo, &t.user) || t.user.isEmpty()) {
            *why = tr("the user name before \"@\" in \"%1\" is empty or badly escaped").arg(url);
            return false;
        }
    }

    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        t.host = close < 0 ? QString() : authority.mid(1, close - 1);
        const QString after = close < 0 ? QString() : authority.mid(close + 1);
        if (close < 0 || QHostAddress(t.host).protocol() != QAbstractSocket::IPv6Protocol ||
            !(after.isEmpty() || after.startsWith(QLatin1Char(':')))) {
            *why = tr("\"%1\" does not hold a valid IPv6 address in brackets").arg(url);
            return false;
        }
        portText = after.mid(1);
        if (after.startsWith(QLatin1Char(':')) && portText.isEmpty())
            portText = QStringLiteral("-");
    } else {
        const int colon = authority.indexOf(QLatin1Char(':'));
        t.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0)
            portText = authority.mid(colon + 1).isEmpty() ? QStringLiteral("-") : authority.mid(colon + 1);
        for (QChar c : qAsConst(t.host)) {
            if (!isHostNameCharacter(c)) {
                *why = tr("the host name in \"%1\" holds \"%2\", which no host name holds").arg(url, c);
                return false;
            }
        }
    }
    if (t.host.isEmpty()) {
        *why = tr("\"%1\" names no host").arg(url);
        return false;
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535 || !portText.at(0).isDigit()) {
            *why = tr("the port in \"%1\" is not a number from 1 to 65535").arg(url);
            return false;
        }
        t.port = port;
    }

    if (path.isEmpty()) {
        t.prefix = defaultTopicPrefix();
    } else if (!decodePercent(path, &t.prefix)) {
        *why = tr("the topic prefix in \"%1\" is badly escaped").arg(url);
        return false;
    }
    const QString problem = checkTopicPrefix(t.prefix);
    if (!problem.isEmpty()) {
        *why = problem;
        return false;
    }
    *target = t;
    return true;
}

bool PublishChoice::target(PublishTarget *t, QString *why) const
{
    if (!parsePublishUrl(url.trimmed(), t, why))
        return false;
    t->caFile = t->tls ? caFile : QString();
    return true;
}

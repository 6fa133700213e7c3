// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/linkproblem.h"

#include <QCoreApplication>

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("LinkProblem", text);
}

} // namespace

QString LinkProblem::text(const QString &broker) const
{
    QString sentence;
    switch (kind) {
    case None:
        return QString();
    case HostNotFound:
        sentence = tr("The broker's host name %1 was not found");
        break;
    case Refused:
        sentence = tr("The broker %1 refused the connection (nothing listens at that port)");
        break;
    case Unreachable:
        sentence = tr("The broker %1 can't be reached");
        break;
    case AuthRefused:
        sentence = tr("The broker %1 refused the user name or password");
        break;
    case BrokerRefused:
        sentence = tr("The broker %1 refused the connection");
        break;
    case TlsUnknownCa:
        sentence =
            tr("The broker %1's TLS certificate is not from a trusted CA (choose its CA file in Publish...)");
        break;
    case TlsExpired:
        sentence = tr("The broker %1's TLS certificate has expired or is not valid yet");
        break;
    case TlsNameMismatch:
        sentence = tr("The broker %1's TLS certificate is for another host name");
        break;
    case TlsFailed:
        sentence = tr("The TLS handshake with the broker %1 failed");
        break;
    case NoAnswer:
        sentence = tr("The broker %1 accepted the connection but never acknowledged it");
        break;
    case Lost:
        sentence = tr("The connection to the broker %1 was lost");
        break;
    }
    sentence = sentence.arg(broker);
    if (!detail.isEmpty())
        sentence += QStringLiteral(" (%1)").arg(detail);
    return sentence + QLatin1Char('.');
}

LinkProblem problemFromLibrary(int error, int systemError)
{
    switch (error) {
    case MOSQ_ERR_EAI:
        // getaddrinfo's codes: a name that does not exist, or no answer about it.
        if (systemError == EAI_NONAME || systemError == EAI_NODATA || systemError == EAI_FAIL)
            return {LinkProblem::HostNotFound, QString()};
        return {LinkProblem::HostNotFound, QString::fromLocal8Bit(gai_strerror(systemError))};
    case MOSQ_ERR_ERRNO:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        if (systemError == ECONNREFUSED)
            return {LinkProblem::Refused, QString()};
        if (systemError == ENETUNREACH || systemError == EHOSTUNREACH || systemError == ETIMEDOUT ||
            systemError == ENETDOWN || systemError == EHOSTDOWN)
            return {LinkProblem::Unreachable, QString::fromLocal8Bit(std::strerror(systemError))};
        if (error == MOSQ_ERR_ERRNO && systemError != 0)
            return {LinkProblem::Lost, QString::fromLocal8Bit(std::strerror(systemError))};
        return {LinkProblem::Lost, QString()};
    case MOSQ_ERR_KEEPALIVE:
        return {LinkProblem::Lost, tr("the broker stopped answering")};
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return {LinkProblem::TlsFailed, QString()};
    case MOSQ_ERR_AUTH:
        return {LinkProblem::AuthRefused, QString()};
    default:
        return {LinkProblem::Lost, QString::fromUtf8(mosquitto_strerror(error))};
    }
}

LinkProblem problemFromConnack(int code)
{
    // MQTT 3.1.1's codes are 1 to 5, MQTT 5's reason codes 128 and above.
    const QString words =
        QString::fromUtf8(code < 128 ? mosquitto_connack_string(code) : mosquitto_reason_string(code));
    switch (code) {
    case 4: // bad user name or password
    case 5: // not authorised
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case MQTT_RC_NOT_AUTHORIZED:
        return {LinkProblem::AuthRefused, words};
    default:
        return {LinkProblem::BrokerRefused, words};
    }
}

LinkProblem problemFromCertificate(int verifyError, const QString &libraryText)
{
    switch (verifyError) {
    case X509_V_OK:
        return {LinkProblem::TlsFailed, libraryText};
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return {LinkProblem::TlsExpired, QString::fromUtf8(X509_verify_cert_error_string(verifyError))};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return {LinkProblem::TlsNameMismatch, QString()};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return {LinkProblem::TlsUnknownCa, QString()};
    default:
        return {LinkProblem::TlsFailed, QString::fromUtf8(X509_verify_cert_error_string(verifyError))};
    }
}

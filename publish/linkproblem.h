// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Why a connection to the broker failed or ended, in words the operator can act on.
struct LinkProblem
{
    enum Kind
    {
        None,
        HostNotFound,    // the name does not resolve
        Refused,         // nothing listens at the port
        Unreachable,     // no route, the network is down, the connection timed out
        AuthRefused,     // the broker refused the user or password (CONNACK)
        BrokerRefused,   // the broker refused the connection for another reason (CONNACK)
        TlsUnknownCa,    // the broker's certificate is not from a trusted CA
        TlsExpired,      // the broker's certificate has expired (or is not valid yet)
        TlsNameMismatch, // the broker's certificate is for another name
        TlsFailed,       // any other TLS failure
        NoAnswer,        // the broker accepted the connection but never acknowledged it
        Lost,            // an established connection ended
    };

    Kind kind = None;
    QString detail; // the system's or the library's words, where they add something

    // A sentence for the status bar and the message history, naming the broker.
    QString text(const QString &broker) const;
    bool operator==(const LinkProblem &o) const { return kind == o.kind && detail == o.detail; }
};

// A failure libmosquitto reported: its error code (MOSQ_ERR_*) with errno (or, for a name that
// does not resolve, the getaddrinfo code) from the same call.
LinkProblem problemFromLibrary(int mosquittoError, int systemError);
// A CONNACK refusal code of MQTT 3.1.1 (1 to 5) or reason code of MQTT 5 (128 and above).
LinkProblem problemFromConnack(int code);
// A certificate verification error (X509_V_ERR_*) found during the TLS handshake; 0 when the
// handshake failed otherwise.
LinkProblem problemFromCertificate(int verifyError, const QString &libraryText);

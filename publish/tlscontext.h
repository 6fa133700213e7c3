// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>

typedef struct ssl_ctx_st SSL_CTX;

// An OpenSSL client context for a connection to host: the server's certificate must chain to a CA
// of caFile (a PEM file), or of the system's store when caFile is empty, and be issued for host
// (a name, or an IP address). The first certificate error a handshake meets is kept in
// *verifyError (X509_V_ERR_*; the caller sets it to 0 before each handshake), so that a failure
// can say which check failed. Returns null, with *why set, when caFile can't be read.
SSL_CTX *makeTlsContext(const QString &host, const QString &caFile, std::atomic<int> *verifyError,
                        QString *why);

// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/tlscontext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

int noteVerifyError(int ok, X509_STORE_CTX *store)
{
    if (ok)
        return ok;
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *error = ssl ? static_cast<std::atomic<int> *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
    int none = 0;
    if (error)
        error->compare_exchange_strong(none, X509_STORE_CTX_get_error(store));
    return ok;
}

} // namespace

SSL_CTX *makeTlsContext(const QString &host, const QString &caFile, std::atomic<int> *verifyError,
                        QString *why)
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        *why = QCoreApplication::translate("TlsContext", "TLS could not be set up");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    const bool loaded =
        caFile.isEmpty()
            ? SSL_CTX_set_default_verify_paths(ctx) == 1
            : SSL_CTX_load_verify_locations(ctx, QFile::encodeName(caFile).constData(), nullptr) == 1;
    if (!loaded) {
        *why =
            QCoreApplication::translate("TlsContext", "the CA file %1 could not be read as PEM certificates")
                .arg(QDir::toNativeSeparators(caFile));
        SSL_CTX_free(ctx);
        return nullptr;
    }
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(ctx);
    const QByteArray name = host.toUtf8();
    if (QHostAddress(host).isNull())
        X509_VERIFY_PARAM_set1_host(param, name.constData(), size_t(name.size()));
    else
        X509_VERIFY_PARAM_set1_ip_asc(param, name.constData());
    SSL_CTX_set_app_data(ctx, verifyError);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, noteVerifyError);
    return ctx;
}

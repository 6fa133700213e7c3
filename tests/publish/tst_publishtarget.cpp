// SPDX-License-Identifier: GPL-3.0-or-later
// Broker URLs and topic prefixes: what is read from them, and what is refused with which reason.
#include "publish/linkproblem.h"
#include "publish/publishtarget.h"

#include <QtTest>

#include <mosquitto.h>
#include <netdb.h>
#include <openssl/x509_vfy.h>

class TstPublishTarget : public QObject
{
    Q_OBJECT

private slots:
    void readsUrls_data();
    void readsUrls();
    void refusesUrls_data();
    void refusesUrls();
    void urlReadsBack();
    void defaultPrefixIsUsable();
    void problemsSayWhich();
};

void TstPublishTarget::readsUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("prefix");

    QTest::newRow("plain") << "mqtt://broker.lab/lab/rig1" << false << ""
                           << "broker.lab" << 1883 << "lab/rig1";
    QTest::newRow("tls default port") << "mqtts://broker.lab/x" << true << ""
                                      << "broker.lab" << 8883 << "x";
    QTest::newRow("scheme in capitals") << "MQTTS://h/x" << true << ""
                                        << "h" << 8883 << "x";
    QTest::newRow("user and port") << "mqtt://anna@10.0.0.5:1884/a/b" << false << "anna"
                                   << "10.0.0.5" << 1884 << "a/b";
    QTest::newRow("escaped user") << "mqtt://anna%40lab@h/p" << false << "anna@lab"
                                  << "h" << 1883 << "p";
    QTest::newRow("ipv6") << "mqtt://[::1]:1999/p" << false << ""
                          << "::1" << 1999 << "p";
    QTest::newRow("ipv6 no port") << "mqtts://[fe80::1]/p" << true << ""
                                  << "fe80::1" << 8883 << "p";
    QTest::newRow("no prefix") << "mqtt://h" << false << ""
                               << "h" << 1883 << defaultTopicPrefix();
    QTest::newRow("lone slash") << "mqtt://h:2000/" << false << ""
                                << "h" << 2000 << defaultTopicPrefix();
    QTest::newRow("spaces and unicode in the prefix") << "mqtt://h/Labor Süd/Wand%201" << false << ""
                                                      << "h" << 1883 << QString::fromUtf8("Labor Süd/Wand 1");
    QTest::newRow("highest port") << "mqtt://h:65535/p" << false << ""
                                  << "h" << 65535 << "p";
}

void TstPublishTarget::readsUrls()
{
    QFETCH(QString, url);
    PublishTarget target;
    QString why;
    QVERIFY2(parsePublishUrl(url, &target, &why), qPrintable(why));
    QTEST(target.tls, "tls");
    QTEST(target.user, "user");
    QTEST(target.host, "host");
    QTEST(target.port, "port");
    QTEST(target.prefix, "prefix");
}

void TstPublishTarget::refusesUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("reason"); // a part of the message

    QTest::newRow("http") << "http://h/p"
                          << "mqtt://";
    QTest::newRow("no scheme") << "broker.lab/p"
                               << "mqtt://";
    QTest::newRow("password") << "mqtt://anna:secret@h/p"
                              << "password";
    QTest::newRow("empty user") << "mqtt://@h/p"
                                << "user name";
    QTest::newRow("no host") << "mqtt:///p"
                             << "no host";
    QTest::newRow("bad host") << "mqtt://br oker/p"
                              << "host name";
    QTest::newRow("port 0") << "mqtt://h:0/p"
                            << "port";
    QTest::newRow("port too big") << "mqtt://h:65536/p"
                                  << "port";
    QTest::newRow("port not a number") << "mqtt://h:mqtt/p"
                                       << "port";
    QTest::newRow("empty port") << "mqtt://h:/p"
                                << "port";
    QTest::newRow("signed port") << "mqtt://h:+80/p"
                                 << "port";
    QTest::newRow("bad ipv6") << "mqtt://[zz::1]/p"
                              << "IPv6";
    QTest::newRow("plus") << "mqtt://h/lab/+/rig"
                          << "wildcard";
    QTest::newRow("hash") << "mqtt://h/lab/#"
                          << "wildcard";
    QTest::newRow("escaped plus") << "mqtt://h/lab/%2B"
                                  << "wildcard";
    QTest::newRow("trailing slash") << "mqtt://h/lab/"
                                    << "empty level";
    QTest::newRow("double slash") << "mqtt://h/lab//rig"
                                  << "empty level";
    QTest::newRow("leading slash") << "mqtt://h//lab"
                                   << "empty level";
    QTest::newRow("dollar") << "mqtt://h/$SYS/x"
                            << "$";
    QTest::newRow("broken escape") << "mqtt://h/lab%2"
                                   << "escaped";
    QTest::newRow("nul") << "mqtt://h/a%00b"
                         << "NUL";
}

void TstPublishTarget::refusesUrls()
{
    QFETCH(QString, url);
    QFETCH(QString, reason);
    PublishTarget target;
    target.host = QStringLiteral("unchanged");
    QString why;
    QVERIFY(!parsePublishUrl(url, &target, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    QCOMPARE(target.host, QStringLiteral("unchanged"));
}

void TstPublishTarget::urlReadsBack()
{
    for (const QString url : {QStringLiteral("mqtts://anna%40lab@[::1]:1999/Labor Süd/100%25"),
                              QStringLiteral("mqtt://h:1883/a/b")}) {
        PublishTarget first, second;
        QString why;
        QVERIFY2(parsePublishUrl(url, &first, &why), qPrintable(why));
        QVERIFY2(parsePublishUrl(first.url(), &second, &why), qPrintable(first.url() + ": " + why));
        QVERIFY(first == second);
    }
}

void TstPublishTarget::defaultPrefixIsUsable()
{
    const QString prefix = defaultTopicPrefix();
    QVERIFY(prefix.startsWith(QStringLiteral("quellspan/")));
    QCOMPARE(checkTopicPrefix(prefix), QString());
    QVERIFY(mosquitto_pub_topic_check((prefix + QStringLiteral("/data")).toUtf8().constData()) ==
            MOSQ_ERR_SUCCESS);
}

void TstPublishTarget::problemsSayWhich()
{
    struct Case
    {
        LinkProblem problem;
        LinkProblem::Kind kind;
        const char *words;
    };
    const Case cases[] = {
        {problemFromLibrary(MOSQ_ERR_EAI, EAI_NONAME), LinkProblem::HostNotFound, "not found"},
        {problemFromLibrary(MOSQ_ERR_ERRNO, ECONNREFUSED), LinkProblem::Refused, "refused the connection"},
        {problemFromLibrary(MOSQ_ERR_ERRNO, EHOSTUNREACH), LinkProblem::Unreachable, "can't be reached"},
        {problemFromConnack(4), LinkProblem::AuthRefused, "user name or password"},
        {problemFromConnack(5), LinkProblem::AuthRefused, "user name or password"},
        {problemFromConnack(3), LinkProblem::BrokerRefused, "refused the connection"},
        {problemFromCertificate(X509_V_ERR_CERT_HAS_EXPIRED, {}), LinkProblem::TlsExpired, "expired"},
        {problemFromCertificate(X509_V_ERR_HOSTNAME_MISMATCH, {}), LinkProblem::TlsNameMismatch,
         "another host"},
        {problemFromCertificate(X509_V_ERR_IP_ADDRESS_MISMATCH, {}), LinkProblem::TlsNameMismatch,
         "another host"},
        {problemFromCertificate(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, {}), LinkProblem::TlsUnknownCa,
         "trusted CA"},
        {problemFromCertificate(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, {}), LinkProblem::TlsUnknownCa,
         "trusted CA"},
        {problemFromCertificate(X509_V_OK, {}), LinkProblem::TlsFailed, "handshake"},
        {problemFromLibrary(MOSQ_ERR_KEEPALIVE, 0), LinkProblem::Lost, "stopped answering"},
    };
    for (const Case &c : cases) {
        QCOMPARE(c.problem.kind, c.kind);
        const QString text = c.problem.text(QStringLiteral("lab:1883"));
        QVERIFY2(text.contains(QLatin1String(c.words)) && text.contains(QStringLiteral("lab:1883")),
                 qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(TstPublishTarget)
#include "tst_publishtarget.moc"

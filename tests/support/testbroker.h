// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QVector>

#include <memory>
#include <mutex>

struct mosquitto;

// A mosquitto broker of the test's own on free loopback ports, with a configuration in a
// temporary folder: a plain listener, and a TLS one when given a certificate. Stopped and started
// again on the same ports. Nothing of the machine's own broker is touched.
class TestBroker
{
public:
    struct Options
    {
        QString user; // with password: only this user may connect
        QString password;
        QString certFile; // with keyFile: a TLS listener too
        QString keyFile;
    };

    explicit TestBroker(const Options &options = Options());
    ~TestBroker();

    bool start();
    void stop();
    bool isRunning() const;
    quint16 port() const { return plainPort; }
    quint16 tlsPort() const { return securePort; }
    QString folder() const { return dir.path(); }
    // What went wrong in start(), with the broker's output.
    QString errorString() const { return error; }

private:
    Options options;
    QTemporaryDir dir;
    quint16 plainPort = 0;
    quint16 securePort = 0;
    std::unique_ptr<QProcess> process;
    QString error;
};

// A free TCP port on the loopback interface (free when asked).
quint16 freeLoopbackPort();

// Publishes one message (QoS 1) to a broker's plain listener as a client of its own, as anyone
// on the broker could; returns once the broker took it.
bool publishAsStranger(quint16 port, const QByteArray &topic, const QByteArray &payload, bool retain = false);

// A subscriber on a broker's plain listener that keeps every message it receives.
class TestSubscriber
{
public:
    struct Message
    {
        QByteArray topic;
        QByteArray payload;
        bool retained;
    };

    TestSubscriber(quint16 port, const QString &filter, const QString &user = QString(),
                   const QString &password = QString());
    ~TestSubscriber();

    // Whether the subscription is in place (waits for it at most timeoutMs).
    bool waitSubscribed(int timeoutMs = 5000);
    QVector<Message> messages() const;
    // The payloads received on topic.
    QList<QByteArray> payloads(const QByteArray &topic) const;
    void clear();

private:
    static void onConnect(mosquitto *, void *self, int code);
    static void onSubscribe(mosquitto *, void *self, int, int, const int *);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);

    mosquitto *client = nullptr;
    QByteArray filterText;
    mutable std::mutex mutex;
    QVector<Message> received;
    bool subscribed = false;
};

// A TCP relay on loopback to a port, that the test cuts (every connection closed, new ones
// refused) and restores; or a listener that accepts connections and never says anything.
class TcpRelay : public QObject
{
    Q_OBJECT

public:
    // targetPort 0: accept and stay silent.
    explicit TcpRelay(quint16 targetPort, QObject *parent = nullptr);
    quint16 port() const { return listenPort; }
    void cut();
    bool restore();
    int connectionCount() const { return connections; }

private:
    void accept();

    QTcpServer server;
    quint16 target;
    quint16 listenPort = 0;
    int connections = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/testbroker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <mosquitto.h>

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

namespace {

bool portAnswers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

bool publishAsStranger(quint16 port, const QByteArray &topic, const QByteArray &payload, bool retain)
{
    mosquitto_lib_init();
    mosquitto *client = mosquitto_new(nullptr, true, nullptr);
    bool published = false;
    mosquitto_user_data_set(client, &published);
    mosquitto_publish_callback_set(client,
                                   [](mosquitto *, void *done, int) { *static_cast<bool *>(done) = true; });
    bool ok = mosquitto_connect(client, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS &&
              mosquitto_publish(client, nullptr, topic.constData(), payload.size(), payload.constData(), 1,
                                retain) == MOSQ_ERR_SUCCESS;
    QElapsedTimer waited;
    waited.start();
    while (ok && !published && waited.elapsed() < 5000)
        ok = mosquitto_loop(client, 50, 1) == MOSQ_ERR_SUCCESS;
    mosquitto_disconnect(client);
    mosquitto_destroy(client);
    return ok && published;
}

TestBroker::TestBroker(const Options &o) : options(o)
{
    mosquitto_lib_init();
    plainPort = freeLoopbackPort();
    if (!options.certFile.isEmpty()) {
        do
            securePort = freeLoopbackPort();
        while (securePort == plainPort);
    }
}

TestBroker::~TestBroker()
{
    stop();
}

bool TestBroker::isRunning() const
{
    return process && process->state() == QProcess::Running;
}

bool TestBroker::start()
{
    stop();
    QByteArray config = "persistence false\nper_listener_settings false\nlog_type all\n";
    // As root, mosquitto would otherwise switch to its own user, who can't read this folder.
    config += "user root\n";
    if (!options.user.isEmpty()) {
        const QString file = dir.filePath(QStringLiteral("passwords"));
        QFile::remove(file);
        const int rc =
            QProcess::execute(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-c"), QStringLiteral("-b"),
                                                                   file, options.user, options.password});
        if (rc != 0) {
            error = QStringLiteral("mosquitto_passwd failed (%1)").arg(rc);
            return false;
        }
        config += "allow_anonymous false\npassword_file " + file.toUtf8() + '\n';
    } else {
        config += "allow_anonymous true\n";
    }
    config += "listener " + QByteArray::number(plainPort) + " 127.0.0.1\n";
    if (securePort != 0) {
        config += "listener " + QByteArray::number(securePort) + " 127.0.0.1\n";
        config += "certfile " + options.certFile.toUtf8() + "\nkeyfile " + options.keyFile.toUtf8() + '\n';
    }
    QFile file(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        error = file.errorString();
        return false;
    }
    file.close();
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    // Debian puts the broker in /usr/sbin, which a user's PATH may leave out.
    QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")});
    process->start(program.isEmpty() ? QStringLiteral("mosquitto") : program,
                   {QStringLiteral("-c"), file.fileName()});
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        if (process->state() == QProcess::NotRunning)
            break;
        if (portAnswers(plainPort) && (securePort == 0 || portAnswers(securePort)))
            return true;
        QThread::msleep(20);
    }
    process->waitForFinished(100);
    error = QStringLiteral("mosquitto did not start: ") + QString::fromLocal8Bit(process->readAll());
    return false;
}

void TestBroker::stop()
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    process.reset();
}

TestSubscriber::TestSubscriber(quint16 port, const QString &filter, const QString &user,
                               const QString &password)
    : filterText(filter.toUtf8())
{
    mosquitto_lib_init();
    client = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(client, onConnect);
    mosquitto_subscribe_callback_set(client, onSubscribe);
    mosquitto_message_callback_set(client, onMessage);
    if (!user.isEmpty())
        mosquitto_username_pw_set(client, user.toUtf8().constData(), password.toUtf8().constData());
    mosquitto_connect(client, "127.0.0.1", port, 10);
    mosquitto_loop_start(client);
}

TestSubscriber::~TestSubscriber()
{
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
}

void TestSubscriber::onConnect(mosquitto *client, void *self, int code)
{
    if (code == 0)
        mosquitto_subscribe(client, nullptr, static_cast<TestSubscriber *>(self)->filterText.constData(), 1);
}

void TestSubscriber::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    auto *s = static_cast<TestSubscriber *>(self);
    const std::lock_guard<std::mutex> lock(s->mutex);
    s->subscribed = true;
}

void TestSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *s = static_cast<TestSubscriber *>(self);
    const std::lock_guard<std::mutex> lock(s->mutex);
    s->received.append({QByteArray(message->topic),
                        QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                        message->retain});
}

bool TestSubscriber::waitSubscribed(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (subscribed)
                return true;
        }
        QTest::qWait(10);
    }
    return false;
}

QVector<TestSubscriber::Message> TestSubscriber::messages() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return received;
}

QList<QByteArray> TestSubscriber::payloads(const QByteArray &topic) const
{
    QList<QByteArray> list;
    const std::lock_guard<std::mutex> lock(mutex);
    for (const Message &m : received) {
        if (m.topic == topic)
            list.append(m.payload);
    }
    return list;
}

void TestSubscriber::clear()
{
    const std::lock_guard<std::mutex> lock(mutex);
    received.clear();
}

TcpRelay::TcpRelay(quint16 targetPort, QObject *parent) : QObject(parent), target(targetPort)
{
    connect(&server, &QTcpServer::newConnection, this, &TcpRelay::accept);
    server.listen(QHostAddress::LocalHost, 0);
    listenPort = server.serverPort();
}

void TcpRelay::accept()
{
    while (QTcpSocket *in = server.nextPendingConnection()) {
        ++connections;
        in->setParent(this);
        if (target == 0)
            continue; // silent: takes the bytes and never answers
        auto *out = new QTcpSocket(this);
        QPointer<QTcpSocket> a(in), b(out);
        connect(in, &QTcpSocket::readyRead, out, [a, b] {
            if (a && b)
                b->write(a->readAll());
        });
        connect(out, &QTcpSocket::readyRead, in, [a, b] {
            if (a && b)
                a->write(b->readAll());
        });
        connect(out, &QTcpSocket::connected, out, [a, b] {
            if (a && b)
                b->write(a->readAll());
        });
        const auto closeBoth = [a, b] {
            if (a)
                a->abort();
            if (b)
                b->abort();
        };
        connect(in, &QTcpSocket::disconnected, this, closeBoth);
        connect(out, &QTcpSocket::disconnected, this, closeBoth);
        out->connectToHost(QHostAddress::LocalHost, target);
    }
}

void TcpRelay::cut()
{
    server.close();
    for (QTcpSocket *socket : findChildren<QTcpSocket *>()) {
        socket->abort();
        socket->deleteLater();
    }
}

bool TcpRelay::restore()
{
    return server.listen(QHostAddress::LocalHost, listenPort);
}

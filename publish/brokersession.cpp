// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/brokersession.h"

#include "publish/tlscontext.h"

#include <QCoreApplication>
#include <QSysInfo>

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        // A write to a connection the broker closed must be an error, not the end of the program.
        struct sigaction current = {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGPIPE, SIG_IGN);
    });
}

// A broker that does not speak MQTT 5 says so in its CONNACK (3.1.1's code or 5's).
bool refusesMqtt5(int code)
{
    return code == 1 || code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
}

} // namespace

QString BrokerSession::defaultClientId(const QString &name)
{
    QString host = QSysInfo::machineHostName().left(40);
    return QStringLiteral("%1-%2-%3").arg(name, host).arg(QCoreApplication::applicationPid());
}

BrokerSession::BrokerSession(const SessionSettings &settings, std::function<void(LinkEvent &&)> events,
                             std::function<void(const LinkStatus &)> status)
    : config(settings), events(std::move(events)), statusReport(std::move(status)), mqtt5(settings.mqtt5)
{
    initialiseLibrary();
    retryDelay = config.firstRetryMs;
    current.since = QDateTime::currentDateTime();
    nextAttempt = Clock::now();
}

BrokerSession::~BrokerSession()
{
    close();
    if (mosq)
        mosquitto_destroy(mosq);
    if (tls)
        SSL_CTX_free(tls);
}

void BrokerSession::onConnect(mosquitto *, void *self, int code, int, const mosquitto_property *)
{
    static_cast<BrokerSession *>(self)->events({LinkEvent::Connected, code, 0});
}

void BrokerSession::onDisconnect(mosquitto *, void *self, int code, const mosquitto_property *)
{
    const int systemError = errno;
    auto *s = static_cast<BrokerSession *>(self);
    {
        const std::lock_guard<std::mutex> lock(s->endMutex);
        s->sessionEnded = true;
    }
    s->endSeen.notify_all();
    s->events({LinkEvent::Disconnected, code, systemError});
}

void BrokerSession::onPublish(mosquitto *, void *self, int mid, int, const mosquitto_property *)
{
    static_cast<BrokerSession *>(self)->events({LinkEvent::Acknowledged, mid, 0});
}

void BrokerSession::onMessage(mosquitto *, void *self, const mosquitto_message *message,
                              const mosquitto_property *properties)
{
    LinkEvent event;
    event.kind = LinkEvent::Message;
    event.topic = QByteArray(message->topic);
    event.payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
    event.retained = message->retain;
    if (properties) {
        char *topic = nullptr;
        if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &topic, false)) {
            event.responseTopic = QByteArray(topic);
            free(topic);
        }
        void *data = nullptr;
        uint16_t length = 0;
        if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
            event.correlation = QByteArray(static_cast<const char *>(data), length);
            free(data);
        }
    }
    static_cast<BrokerSession *>(self)->events(std::move(event));
}

void BrokerSession::onLog(mosquitto *, void *self, int level, const char *text)
{
    if (level == MOSQ_LOG_ERR && std::strncmp(text, "OpenSSL Error", 13) == 0) {
        LinkEvent event{LinkEvent::TlsFailed, 0, 0};
        event.payload = QByteArray(text);
        static_cast<BrokerSession *>(self)->events(std::move(event));
    }
}

bool BrokerSession::setUp()
{
    const QString id =
        config.clientId.isEmpty() ? defaultClientId(QStringLiteral("quellspan")) : config.clientId;
    mosq = mosquitto_new(id.toUtf8().constData(), true, this);
    if (!mosq) {
        setUpProblem = QCoreApplication::translate("BrokerSession", "the MQTT client could not be made");
        report(LinkState::Unreachable, {LinkProblem::Lost, setUpProblem});
        return false;
    }
    mosquitto_connect_v5_callback_set(mosq, onConnect);
    mosquitto_disconnect_v5_callback_set(mosq, onDisconnect);
    mosquitto_publish_v5_callback_set(mosq, onPublish);
    mosquitto_message_v5_callback_set(mosq, onMessage);
    mosquitto_max_inflight_messages_set(mosq, 0);
    // The library never reconnects by itself: the owner's thread does, with its own pauses and
    // reasons.
    mosquitto_reconnect_delay_set(mosq, 3600, 3600, false);
    if (!config.willTopic.isEmpty())
        mosquitto_will_set(mosq, config.willTopic.constData(), 7, "offline", 1, true);
    if (!config.target.user.isEmpty()) {
        mosquitto_username_pw_set(mosq, config.target.user.toUtf8().constData(),
                                  config.password.isEmpty() ? nullptr : config.password.constData());
    }
    if (config.target.tls) {
        tls = makeTlsContext(config.target.host, config.target.caFile, &verifyError, &setUpProblem);
        if (!tls) {
            report(LinkState::Unreachable, {LinkProblem::TlsFailed, setUpProblem});
            return false;
        }
        mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, tls);
    }
    return true;
}

void BrokerSession::report(LinkState state, const LinkProblem &problem)
{
    LinkStatus next;
    next.state = state;
    next.problem = problem;
    next.since = QDateTime::currentDateTime();
    if (state == LinkState::Unreachable && current.state == LinkState::Unreachable)
        next.since = current.since; // the same outage goes on
    else if (state == LinkState::Unreachable && lostAt.isValid())
        next.since = lostAt;
    if (state == current.state && problem == current.problem && state != LinkState::Stopped)
        return;
    current = next;
    if (statusReport)
        statusReport(current);
}

BrokerSession::Clock::time_point BrokerSession::due() const
{
    if (!mosq || !setUpProblem.isEmpty())
        return Clock::time_point::max();
    if (!session)
        return nextAttempt;
    if (!connected)
        return answerDeadline;
    return Clock::time_point::max();
}

void BrokerSession::tick()
{
    const auto now = Clock::now();
    if (session && !connected && now >= answerDeadline) {
        // A socket that never connected is a host that does not answer; one that did is a
        // broker that took the connection and said nothing.
        const int fd = mosquitto_socket(mosq);
        sockaddr_storage peer = {};
        socklen_t length = sizeof peer;
        const bool tcpUp = fd >= 0 && ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
        failed(tcpUp ? LinkProblem{LinkProblem::NoAnswer, QString()}
                     : LinkProblem{LinkProblem::Unreachable, QString::fromLocal8Bit(strerror(ETIMEDOUT))});
    }
    if (!session && mosq && setUpProblem.isEmpty() && Clock::now() >= nextAttempt)
        attempt();
}

void BrokerSession::tryNow()
{
    if (!session && mosq && setUpProblem.isEmpty())
        attempt();
}

void BrokerSession::attempt()
{
    if (current.state != LinkState::Unreachable)
        report(LinkState::Connecting);
    verifyError = 0;
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, mqtt5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // Log lines only while connecting: that is where a TLS failure is told, and formatting one
    // for every message sent later would cost for nothing.
    mosquitto_log_callback_set(mosq, onLog);
    {
        const std::lock_guard<std::mutex> lock(endMutex);
        sessionEnded = false;
    }
    errno = 0;
    const QByteArray host = config.target.host.toUtf8();
    // Resolves the name and starts the TCP connection (without waiting for it): on this thread.
    const int rc =
        mosquitto_connect_async(mosq, host.constData(), config.target.port, config.keepAliveSeconds);
    const int systemError = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        failed(problemFromLibrary(rc, systemError));
        return;
    }
    if (mosquitto_loop_start(mosq) != MOSQ_ERR_SUCCESS) {
        failed({LinkProblem::Lost,
                QCoreApplication::translate("BrokerSession", "the network thread could not start")});
        return;
    }
    session = true;
    answerDeadline = Clock::now() + milliseconds(config.answerTimeoutMs);
}

void BrokerSession::waitForEnd(int ms)
{
    std::unique_lock<std::mutex> lock(endMutex);
    endSeen.wait_for(lock, milliseconds(ms), [this] { return sessionEnded; });
}

void BrokerSession::close()
{
    if (!session)
        return;
    mosquitto_disconnect(mosq);
    // Waits for the library to end the connection; one stuck in the middle of connecting is cut.
    waitForEnd(500);
    bool ended;
    {
        const std::lock_guard<std::mutex> lock(endMutex);
        ended = sessionEnded;
    }
    if (!ended) {
        const int fd = mosquitto_socket(mosq);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        waitForEnd(500);
        const std::lock_guard<std::mutex> lock(endMutex);
        ended = sessionEnded;
    }
    mosquitto_loop_stop(mosq, !ended);
    session = false;
    connected = false;
}

void BrokerSession::failed(const LinkProblem &problem)
{
    close();
    report(LinkState::Unreachable, problem);
    nextAttempt = Clock::now() + milliseconds(retryDelay);
    retryDelay = std::min(retryDelay * 2, config.lastRetryMs);
}

BrokerSession::Outcome BrokerSession::handle(const LinkEvent &event)
{
    switch (event.kind) {
    case LinkEvent::Acknowledged:
        return Outcome::Acknowledged;
    case LinkEvent::Message:
        return connected ? Outcome::Message : Outcome::Nothing;
    case LinkEvent::Connected:
        if (!session || connected)
            return Outcome::Nothing;
        if (event.code != 0) {
            if (mqtt5 && refusesMqtt5(event.code)) {
                // An older broker: the same at once in 3.1.1, without a request's answer topic.
                mqtt5 = false;
                close();
                attempt();
                return Outcome::Nothing;
            }
            failed(problemFromConnack(event.code));
            return Outcome::Ended;
        }
        connected = true;
        mosquitto_log_callback_set(mosq, nullptr);
        lostAt = QDateTime();
        retryDelay = config.firstRetryMs;
        report(LinkState::Connected);
        if (!config.subscriptions.isEmpty()) {
            std::vector<char *> filters;
            for (const QByteArray &filter : config.subscriptions)
                filters.push_back(const_cast<char *>(filter.constData()));
            mosquitto_subscribe_multiple(mosq, nullptr, int(filters.size()), filters.data(), 1, 0, nullptr);
        }
        return Outcome::Connected;
    case LinkEvent::TlsFailed: {
        if (!session)
            return Outcome::Nothing;
        // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed": the words.
        const QString text = QString::fromUtf8(event.payload).section(QLatin1Char(':'), -1).trimmed();
        failed(problemFromCertificate(verifyError, text));
        return Outcome::Ended;
    }
    case LinkEvent::Disconnected: {
        if (!session)
            return Outcome::Nothing;
        LinkProblem problem;
        if (event.code == MOSQ_ERR_TLS || event.code == MOSQ_ERR_TLS_HANDSHAKE)
            problem = problemFromCertificate(verifyError, QString());
        else
            problem = problemFromLibrary(event.code, event.systemError);
        if (connected) {
            lostAt = QDateTime::currentDateTime();
            problem = {LinkProblem::Lost, problem.kind == LinkProblem::Lost ? problem.detail : QString()};
            retryDelay = config.firstRetryMs;
        }
        failed(problem);
        return Outcome::Ended;
    }
    }
    return Outcome::Nothing;
}

bool BrokerSession::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain,
                            int *mid, const QByteArray &correlation, const QByteArray &responseTopic)
{
    if (!connected)
        return false;
    mosquitto_property *properties = nullptr;
    if (mqtt5 && !correlation.isEmpty())
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.constData(),
                                      uint16_t(qMin(correlation.size(), 65535)));
    if (mqtt5 && !responseTopic.isEmpty())
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, responseTopic.constData());
    const int rc = mosquitto_publish_v5(mosq, mid, topic.constData(), payload.size(), payload.constData(),
                                        qos, retain, properties);
    mosquitto_property_free_all(&properties);
    return rc == MOSQ_ERR_SUCCESS;
}

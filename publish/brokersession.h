// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/linkproblem.h"
#include "publish/publishtarget.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;
typedef struct ssl_ctx_st SSL_CTX;

// Something a connection to the broker reported, on libmosquitto's thread.
struct LinkEvent
{
    enum Kind
    {
        Connected,
        Disconnected,
        Acknowledged,
        TlsFailed, // libmosquitto's thread ends after a failed handshake without saying so otherwise
        Message,
    };
    Kind kind = Message;
    int code = 0;        // the CONNACK's code, MOSQ_ERR_*, or the message id
    int systemError = 0; // errno as the library left it
    // Message: its topic and payload; for an MQTT 5 request, the topic to answer on and the
    // correlation data the answer carries back. TlsFailed: the library's words, in payload.
    QByteArray topic, payload, responseTopic, correlation;
    bool retained = false; // Message: the broker kept it from before the subscription
};

// How a connection reaches its broker and how it behaves.
struct SessionSettings
{
    PublishTarget target;
    QByteArray password; // sent with target.user; empty: none
    QString clientId;    // empty: <program>-<host name>-<process id>
    int keepAliveSeconds = 10;
    // A broker that takes the connection but does not acknowledge it within this is given up on.
    int answerTimeoutMs = 10000;
    // Retries after a failure wait from firstRetryMs, doubling up to lastRetryMs.
    int firstRetryMs = 1000;
    int lastRetryMs = 30000;
    // Where the broker says "offline" (retained) when the connection dies; empty: no last will.
    QByteArray willTopic;
    // MQTT 5, which carries a request's answer topic and correlation data, falling back to 3.1.1
    // when the broker refuses it; false: 3.1.1 only.
    bool mqtt5 = true;
    // Topic filters subscribed (QoS 1) on every connection.
    QList<QByteArray> subscriptions;
};

enum class LinkState
{
    Connecting, // trying, with no failure yet
    Connected,
    Unreachable, // failed or lost; retrying (problem says why, since when)
    Stopped,
};

struct LinkStatus
{
    LinkState state = LinkState::Connecting;
    QDateTime since;     // when the state began (for Unreachable: the first failure)
    LinkProblem problem; // for Unreachable: the latest reason
};

// One MQTT client kept connected to its broker (libmosquitto): connects, retries with a growing
// pause, names what failed, and on every connection subscribes to its filters. It is driven by a
// thread of its owner's (connecting resolves the name there, never on a window's thread), which
// calls tick() when due() and hands back each LinkEvent that the events callback gave it from
// libmosquitto's thread (mosquitto_loop_start), which carries an established connection.
class BrokerSession
{
public:
    using Clock = std::chrono::steady_clock;

    // What an event meant for the owner.
    enum class Outcome
    {
        Nothing,      // the session's own business, or too late to matter
        Connected,    // a connection is up now: what was not acknowledged goes again
        Ended,        // the connection failed or ended
        Acknowledged, // the broker took the message of the event's id
        Message,      // a message came
    };

    // events: from libmosquitto's thread, each event to hand back to handle() on the owner's
    // thread; status: on the owner's thread, each change of state (not each retry).
    BrokerSession(const SessionSettings &settings, std::function<void(LinkEvent &&)> events,
                  std::function<void(const LinkStatus &)> status);
    // Closes the connection (waiting a little for it) and frees the client.
    ~BrokerSession();
    BrokerSession(const BrokerSession &) = delete;
    BrokerSession &operator=(const BrokerSession &) = delete;

    const SessionSettings &settings() const { return config; }
    // Makes the client. False, with the state Unreachable and a reason, when it can't be made (a
    // CA file that can't be read): nothing is tried then.
    bool setUp();
    // Tries to connect when a try is due; gives up on a broker that does not acknowledge in time.
    void tick();
    // When tick() next has something to do.
    Clock::time_point due() const;
    // Tries to connect now, if it is not connecting or connected (a last try before quitting).
    void tryNow();
    Outcome handle(const LinkEvent &event);
    // Ends the connection, waiting at most about a second for it. The next try is at the next
    // due retry.
    void close();

    bool isConnected() const { return connected; }
    // Whether a connection is being made (not acknowledged yet).
    bool isConnecting() const { return session && !connected; }
    // Whether the connection speaks MQTT 5 (else 3.1.1).
    bool isMqtt5() const { return mqtt5; }
    const LinkStatus &status() const { return current; }

    // Publishes (nothing while not connected): with correlation, as an answer to an MQTT 5
    // request. Returns false when the library refused it (the connection just went).
    bool publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain, int *mid,
                 const QByteArray &correlation = QByteArray(),
                 const QByteArray &responseTopic = QByteArray());

    // The client id used when none is set: <name>-<host name>-<process id>.
    static QString defaultClientId(const QString &name);

private:
    static void onConnect(mosquitto *, void *self, int code, int flags, const mosquitto_property *);
    static void onDisconnect(mosquitto *, void *self, int code, const mosquitto_property *);
    static void onPublish(mosquitto *, void *self, int mid, int reason, const mosquitto_property *);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message,
                          const mosquitto_property *properties);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    void attempt();
    void failed(const LinkProblem &problem);
    void report(LinkState state, const LinkProblem &problem = LinkProblem());
    void waitForEnd(int ms);

    SessionSettings config;
    std::function<void(LinkEvent &&)> events;
    std::function<void(const LinkStatus &)> statusReport;
    mosquitto *mosq = nullptr;
    SSL_CTX *tls = nullptr;
    std::atomic<int> verifyError{0};
    QString setUpProblem;
    bool mqtt5 = true;

    // Set by libmosquitto's thread when a connection ends, so that close() can wait for it.
    std::mutex endMutex;
    std::condition_variable endSeen;
    bool sessionEnded = false;

    bool session = false; // libmosquitto's thread runs
    bool connected = false;
    Clock::time_point answerDeadline;
    Clock::time_point nextAttempt;
    int retryDelay = 0;
    LinkStatus current;
    QDateTime lostAt;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/riglink.h"

#include "publish/publishpayload.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSysInfo>

#include <condition_variable>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char *const Leaves[] = {"/status", "/run", "/data", "/event"};

// A topic level of this client's own: no wildcard, no "/".
QByteArray ownLevel(const QString &role)
{
    QByteArray host = QSysInfo::machineHostName().left(40).toUtf8();
    for (char &c : host) {
        if (c == '+' || c == '#' || c == '/' || uchar(c) < 0x20)
            c = '_';
    }
    return role.toUtf8() + '-' + host + '-' + QByteArray::number(QCoreApplication::applicationPid()) + '-' +
           QByteArray::number(QRandomGenerator::global()->bounded(1u << 30), 36);
}

struct Outgoing
{
    QByteArray topic, payload, correlation, responseTopic;
};

} // namespace

class RigLink::Engine
{
public:
    Engine(const RigLinkSettings &settings) : config(settings), me(ownLevel(settings.role))
    {
        SessionSettings session;
        session.target = config.target;
        session.password = config.password;
        session.clientId = QString::fromUtf8(me);
        session.firstRetryMs = config.firstRetryMs;
        session.lastRetryMs = config.lastRetryMs;
        session.answerTimeoutMs = config.answerTimeoutMs;
        session.mqtt5 = config.mqtt5;
        const QString prefix = config.target.prefix;
        for (const char *leaf : Leaves)
            session.subscriptions.append(prefix.toUtf8() + leaf);
        session.subscriptions.append(replyTopic(prefix.toUtf8()));
        link = std::make_unique<BrokerSession>(
            session, [this](LinkEvent &&event) { take(std::move(event)); },
            [this](const LinkStatus &status) { report(status); });
    }

    QByteArray replyTopic(const QByteArray &rig) const { return rig + "/history/reply/" + me; }

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<LinkEvent> events;
    std::vector<Outgoing> outgoing;
    std::vector<Incoming> incoming;
    bool stopping = false;
    bool finished = false;
    QObject *receiver = nullptr;

    void run();

private:
    void take(LinkEvent &&event)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(event));
        }
        wake.notify_all();
    }
    void report(const LinkStatus &status)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (QObject *to = receiver) {
            QMetaObject::invokeMethod(
                to, [to, status] { static_cast<RigLink *>(to)->takeStatus(status); }, Qt::QueuedConnection);
        }
    }
    void deliver(Incoming &&message);
    void connectedNow();
    Incoming read(const LinkEvent &event) const;

    RigLinkSettings config;
    QByteArray me;
    std::unique_ptr<BrokerSession> link;
};

RigLink::Incoming RigLink::Engine::read(const LinkEvent &event) const
{
    Incoming in;
    in.topic = event.topic;
    in.payload = event.payload;
    in.retained = event.retained;
    const int reply = event.topic.indexOf("/history/reply/");
    if (reply > 0 && event.topic.mid(reply + 15) == me) {
        in.rig = event.topic.left(reply);
        in.isAnswer = true;
        if (!readHistoryAnswer(event.payload, &in.answer, &in.why))
            in.answer = HistoryAnswer();
        in.payload.clear();
        return in;
    }
    for (const char *leaf : Leaves) {
        if (event.topic.endsWith(leaf)) {
            in.rig = event.topic.left(event.topic.size() - int(qstrlen(leaf)));
            break;
        }
    }
    return in;
}

void RigLink::Engine::deliver(Incoming &&message)
{
    bool first;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        first = incoming.empty();
        incoming.push_back(std::move(message));
        if (first && receiver) {
            QObject *to = receiver;
            QMetaObject::invokeMethod(
                to, [to] { emit static_cast<RigLink *>(to)->arrived(); }, Qt::QueuedConnection);
        }
    }
}

void RigLink::Engine::run()
{
    link->setUp();
    for (;;) {
        std::vector<LinkEvent> newEvents;
        std::vector<Outgoing> toSend;
        {
            std::unique_lock<std::mutex> lock(mutex);
            const auto until = std::min(Clock::now() + milliseconds(1000), link->due());
            wake.wait_until(lock, until, [this] { return stopping || !events.empty() || !outgoing.empty(); });
            if (stopping)
                break;
            newEvents.swap(events);
            toSend.swap(outgoing);
        }
        for (const LinkEvent &event : newEvents) {
            switch (link->handle(event)) {
            case BrokerSession::Outcome::Connected: {
                const std::lock_guard<std::mutex> lock(mutex);
                if (QObject *to = receiver)
                    QMetaObject::invokeMethod(
                        to, [to] { emit static_cast<RigLink *>(to)->connected(); }, Qt::QueuedConnection);
                break;
            }
            case BrokerSession::Outcome::Message:
                deliver(read(event));
                break;
            default:
                break;
            }
        }
        for (const Outgoing &message : toSend) {
            int mid = 0;
            // Lost with a connection that just went: the follower asks again when it is back.
            link->publish(message.topic, message.payload, 1, false, &mid, message.correlation,
                          message.responseTopic);
        }
        link->tick();
    }
    link.reset();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    wake.notify_all();
}

RigLink::RigLink(const RigLinkSettings &settings, QObject *parent)
    : QObject(parent), config(settings), engine(std::make_shared<Engine>(settings))
{
    qRegisterMetaType<LinkStatus>();
    current.since = QDateTime::currentDateTime();
    engine->receiver = this;
    std::shared_ptr<Engine> e = engine;
    thread = std::thread([e] { e->run(); });
}

RigLink::~RigLink()
{
    bool finished;
    {
        std::unique_lock<std::mutex> lock(engine->mutex);
        engine->stopping = true;
        engine->receiver = nullptr;
        engine->wake.notify_all();
        finished = engine->wake.wait_for(lock, milliseconds(3000), [this] { return engine->finished; });
    }
    // A thread still resolving a name can't be interrupted: it ends by itself later.
    if (finished)
        thread.join();
    else
        thread.detach();
}

bool RigLink::followsSeveral() const
{
    return config.target.prefix.endsWith(QLatin1String("/+"));
}

void RigLink::ask(const QByteArray &rigPrefix, HistoryRequest request)
{
    Outgoing message;
    message.topic = rigPrefix + "/history/request";
    request.reply = engine->replyTopic(rigPrefix);
    message.responseTopic = request.reply;
    message.correlation = request.id;
    message.payload = historyRequestPayload(request);
    {
        const std::lock_guard<std::mutex> lock(engine->mutex);
        engine->outgoing.push_back(std::move(message));
    }
    engine->wake.notify_all();
}

std::vector<RigLink::Incoming> RigLink::take()
{
    std::vector<Incoming> list;
    const std::lock_guard<std::mutex> lock(engine->mutex);
    list.swap(engine->incoming);
    return list;
}

void RigLink::takeStatus(const LinkStatus &status)
{
    current = status;
    emit statusChanged(current);
}

bool RigLink::parseUrl(const QString &url, bool several, PublishTarget *target, QString *why)
{
    QString rest = url;
    const bool wildcard = several && url.endsWith(QLatin1String("/+"));
    if (wildcard)
        rest.chop(2);
    if (!parsePublishUrl(rest, target, why))
        return false;
    // A rig is named: without a path there is none to follow.
    const int schemeEnd = rest.indexOf(QStringLiteral("://"));
    if (rest.indexOf(QLatin1Char('/'), schemeEnd + 3) < 0 || rest.endsWith(QLatin1Char('/'))) {
        *why = QCoreApplication::translate("RigLink", "the URL names no rig: add its topic prefix, as in "
                                                      "mqtt://broker.lab/quellspan/wall-rig-1");
        return false;
    }
    if (wildcard)
        target->prefix += QStringLiteral("/+");
    return true;
}

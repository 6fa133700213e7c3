// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/brokersession.h"
#include "publish/historypayload.h"
#include "remote/rigmessages.h"

#include <QMetaType>
#include <QObject>

#include <memory>
#include <thread>
#include <vector>

// How a watcher or a mirror reaches the rigs it follows.
struct RigLinkSettings
{
    // The broker and the rig's prefix; a prefix ending in "/+" follows every rig one level below.
    PublishTarget target;
    QByteArray password;
    QString role = QStringLiteral("view"); // in the client id: view or mirror
    int firstRetryMs = 1000;
    int lastRetryMs = 30000;
    int answerTimeoutMs = 10000;
    bool mqtt5 = true;
};

// The listening side of a rig's topics: a connection to the broker of its own (BrokerSession on a
// thread of its own, so that name lookup, connecting and TLS never hold up a window) subscribed to
// the rigs' status, run, data and event topics and to its own answer topic, through which it asks
// the rigs for their history. History answers are read on that thread too (they can be large);
// everything that came is handed to the owner's thread in turns (arrived(), then take()). It
// publishes nothing but history requests.
class RigLink : public QObject
{
    Q_OBJECT

public:
    struct Incoming
    {
        QByteArray rig; // the rig's prefix
        QByteArray topic;
        QByteArray payload;
        bool retained = false;
        bool isAnswer = false; // a history answer: read into answer, or refused with why
        HistoryAnswer answer;
        QString why;
    };

    explicit RigLink(const RigLinkSettings &settings, QObject *parent = nullptr);
    // Disconnects and waits (a little) for the connection to end.
    ~RigLink() override;

    const RigLinkSettings &settings() const { return config; }
    LinkStatus status() const { return current; }
    // Whether the prefix follows several rigs (it ends in "/+").
    bool followsSeveral() const;

    // Asks the rig at rigPrefix for its history: the request's answer topic and correlation data
    // are this link's own.
    void ask(const QByteArray &rigPrefix, HistoryRequest request);
    // What came since the last call, in order.
    std::vector<Incoming> take();

    // Reads a URL mqtt://[user@]host[:port]/prefix or mqtts://..., with a trailing "/+" when
    // several may be allowed. False, with *why, for one that can't be followed.
    static bool parseUrl(const QString &url, bool several, PublishTarget *target, QString *why);

signals:
    void statusChanged(const LinkStatus &status);
    // A connection is up (again): the followers ask for what they may have missed.
    void connected();
    // Something came: take() it.
    void arrived();

private:
    class Engine;
    void takeStatus(const LinkStatus &status);

    RigLinkSettings config;
    std::shared_ptr<Engine> engine;
    std::thread thread;
    LinkStatus current;
};

Q_DECLARE_METATYPE(LinkStatus)

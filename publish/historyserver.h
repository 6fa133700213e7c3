// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/historypayload.h"
#include "publish/runitem.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

struct LinkEvent;

// Answers history requests (historypayload.h) for the publisher, on its thread: the records a
// viewer or a mirror missed, read from the run's live recording (the latest ones from memory), in
// batches of many records per message, then the run's marks and events. Several requests are
// answered at once, taking turns; a round sends at most a share of records, and each request has
// only a few messages unacknowledged at a time, so that answering never holds up the live stream
// or the rig's acquisition. The current run is answered, and the few before it that a Reset ended.
// How much a rig answers at a time.
struct HistoryLimits
{
    int requests = 64; // waiting or being answered; more are refused
    int recordsPerMessage = 1000;
    int bytesPerMessage = 64 * 1024;
    int eventsPerMessage = 500;
    int messagesInFlight = 8;   // per request
    int recordsPerRound = 2500; // over all requests, per call of pump()
    int endedRunsKept = 3;
};

class HistoryServer
{
public:
    using Limits = HistoryLimits;

    // Publishes an answer's message on topic (QoS 1), with the request's correlation data; false
    // when it could not go (the connection just went).
    using Publish = std::function<bool(const QByteArray &topic, const QByteArray &payload,
                                       const QByteArray &correlation, int *mid)>;

    HistoryServer(const QString &prefix, const Limits &limits);
    ~HistoryServer();

    // A run starts: it is the one answered for; the one before stays answerable, as ended.
    void runStarted(const std::shared_ptr<RunItem> &run);
    // A request came (a message on the request topic).
    void take(const LinkEvent &message);
    // Sends what is due now; returns whether there is more that could go soon.
    bool pump(const Publish &publish);
    // Whether mid was one of the answers' messages (it is then taken as acknowledged).
    bool acknowledged(int mid);
    // The connection ended: what was being answered is dropped (the askers ask again).
    void connectionEnded();

    int requestCount() const { return int(requests.size()); }
    // Requests answered since the start, and records sent in answers.
    quint64 answered() const { return answeredCount; }
    quint64 recordsSent() const { return sentRecords; }

private:
    struct Request;
    enum class Step
    {
        Sent,    // a message went
        Blocked, // nothing more for now (in flight, waiting for the disk, the round's share spent)
        Finished,
    };
    Step step(Request &request, const Publish &publish, int *budget);
    std::shared_ptr<RunItem> runFor(const QByteArray &id) const;
    bool send(Request &request, const QByteArray &payload, const Publish &publish);

    QString prefix;
    Limits limits;
    std::vector<std::shared_ptr<RunItem>> runs; // the current one last
    std::vector<std::unique_ptr<Request>> requests;
    size_t turn = 0;
    quint64 answeredCount = 0;
    quint64 sentRecords = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/historyserver.h"

#include "publish/brokersession.h"
#include "publish/publishpayload.h"

#include <QCoreApplication>

#include <algorithm>

struct HistoryServer::Request
{
    enum Phase
    {
        Refuse,
        Unknown,
        Records,
        Events,
    };
    HistoryRequest asked;
    Phase phase = Records;
    QString why; // Refuse
    std::shared_ptr<RunItem> run;
    QByteArray head;
    quint64 next = 0;
    quint64 nextEvent = 0;
    std::unique_ptr<RecordingLines> file;
    RecordingLines::Batch batch;
    bool fileFailed = false;
    std::vector<int> mids; // unacknowledged
};

HistoryServer::HistoryServer(const QString &prefix, const Limits &limits) : prefix(prefix), limits(limits) {}

HistoryServer::~HistoryServer() = default;

void HistoryServer::runStarted(const std::shared_ptr<RunItem> &run)
{
    runs.push_back(run);
    while (runs.size() > size_t(std::max(0, limits.endedRunsKept) + 1))
        runs.erase(runs.begin());
}

std::shared_ptr<RunItem> HistoryServer::runFor(const QByteArray &id) const
{
    if (id.isEmpty())
        return runs.empty() ? nullptr : runs.back();
    for (const std::shared_ptr<RunItem> &run : runs) {
        if (run->id == id)
            return run;
    }
    return nullptr;
}

void HistoryServer::take(const LinkEvent &message)
{
    auto request = std::make_unique<Request>();
    const RequestRead read = readHistoryRequest(message.payload, message.responseTopic, message.correlation,
                                                prefix, &request->asked, &request->why);
    if (read == RequestRead::Ignored || requests.size() >= size_t(2 * limits.requests))
        return;
    if (read == RequestRead::Refused) {
        request->phase = Request::Refuse;
    } else if (requests.size() >= size_t(limits.requests)) {
        request->phase = Request::Refuse;
        request->why = QCoreApplication::translate("HistoryServer",
                                                   "the rig is answering too many requests; ask again later");
    } else {
        request->run = runFor(request->asked.run);
        request->head =
            historyAnswerHead(request->asked.id, request->run ? request->run->id : request->asked.run);
        request->phase = request->run ? Request::Records : Request::Unknown;
        request->next = request->asked.from;
        // The same asker asking again for the same run: the new request takes the old one's place.
        for (auto it = requests.begin(); it != requests.end(); ++it) {
            Request &old = **it;
            if (old.asked.reply == request->asked.reply && old.run && old.run == request->run) {
                requests.erase(it);
                break;
            }
        }
    }
    requests.push_back(std::move(request));
}

bool HistoryServer::send(Request &request, const QByteArray &payload, const Publish &publish)
{
    int mid = 0;
    if (!publish(request.asked.reply, payload, request.asked.correlation, &mid))
        return false;
    request.mids.push_back(mid);
    return true;
}

HistoryServer::Step HistoryServer::step(Request &request, const Publish &publish, int *budget)
{
    if (request.mids.size() >= size_t(std::max(1, limits.messagesInFlight)))
        return Step::Blocked;
    switch (request.phase) {
    case Request::Refuse:
        send(request, historyErrorPayload(request.asked.id, request.why), publish);
        return Step::Finished;
    case Request::Unknown: {
        QByteArray payload = request.head + "\"unknown\":true,\"current\":";
        if (runs.empty())
            payload += "null";
        else
            appendJsonString(&payload, QString::fromUtf8(runs.back()->id));
        payload += '}';
        send(request, payload, publish);
        return Step::Finished;
    }
    case Request::Records:
        break;
    case Request::Events: {
        RunItem &run = *request.run;
        QByteArray payload = request.head;
        if (request.nextEvent < run.events.size()) {
            payload += "\"events\":[";
            const quint64 last = std::min<quint64>(
                run.events.size(), request.nextEvent + quint64(std::max(1, limits.eventsPerMessage)));
            for (quint64 i = request.nextEvent; i < last; ++i) {
                if (i > request.nextEvent)
                    payload += ',';
                payload += placedEventPayload(run.events[size_t(i)].second, i, run.id);
            }
            payload += "]}";
            if (!send(request, payload, publish))
                return Step::Blocked;
            request.nextEvent = last;
            return Step::Sent;
        }
        payload += "\"done\":true,\"next\":" + QByteArray::number(request.next) +
                   ",\"event_count\":" + QByteArray::number(quint64(run.events.size())) +
                   ",\"ended\":" + (run.ended ? "true" : "false") + '}';
        if (!send(request, payload, publish))
            return Step::Blocked;
        ++answeredCount;
        return Step::Finished;
    }
    }

    RunItem &run = *request.run;
    if (request.next >= run.records) {
        request.phase = Request::Events;
        return step(request, publish, budget);
    }
    if (*budget <= 0)
        return Step::Blocked;
    QByteArray payload = request.head + "\"first\":" + QByteArray::number(request.next) + ",\"records\":[";
    int count = 0;
    quint64 missingTo = 0; // records from request.next + count on that can't be had
    const auto inBatch = [&request](quint64 seq) {
        return seq >= request.batch.first && seq < request.batch.first + quint64(request.batch.count());
    };
    while (request.next + quint64(count) < run.records && count < limits.recordsPerMessage &&
           payload.size() < limits.bytesPerMessage && count < *budget) {
        const quint64 seq = request.next + quint64(count);
        if (count > 0)
            payload += ',';
        if (seq >= run.tailFirst) {
            const PublishedRow &row = run.tail[size_t(seq - run.tailFirst)];
            appendRecordArray(&payload, row.fields.data(), row.count);
            ++count;
            continue;
        }
        if (!inBatch(seq) && !run.path.isEmpty() && !request.fileFailed) {
            if (!request.file)
                request.file = std::make_unique<RecordingLines>(run.path);
            const quint64 wanted = std::min<quint64>(run.tailFirst - seq, quint64(limits.recordsPerMessage));
            if (!request.file->read(seq, int(wanted), &request.batch))
                request.fileFailed = true;
        }
        if (inBatch(seq)) {
            const int i = int(seq - request.batch.first);
            if (appendRecordArray(&payload, request.batch.line(i), request.batch.length(i))) {
                ++count;
                continue;
            }
            missingTo = seq + 1; // not a line of the program's
        } else if (run.fileFinal || request.fileFailed || run.path.isEmpty()) {
            missingTo = run.tailFirst; // neither on disk nor in memory any more
        }
        // Else not on disk yet: the recording writes about once a second.
        if (count > 0)
            payload.chop(1); // the comma before it
        break;
    }
    if (count == 0 && missingTo > request.next) {
        QByteArray missing = request.head + "\"first\":" + QByteArray::number(request.next) +
                             ",\"missing\":" + QByteArray::number(missingTo - request.next) + '}';
        if (!send(request, missing, publish))
            return Step::Blocked;
        request.next = missingTo;
        return Step::Sent;
    }
    if (count == 0)
        return Step::Blocked; // waiting for the disk
    payload += "]}";
    if (!send(request, payload, publish))
        return Step::Blocked;
    request.next += quint64(count);
    *budget -= count;
    sentRecords += quint64(count);
    return Step::Sent;
}

bool HistoryServer::pump(const Publish &publish)
{
    int budget = limits.recordsPerRound;
    // Taking turns: one message for each request that can send, round after round, until all
    // wait or the round's share of records is spent.
    bool progress = true;
    while (progress && !requests.empty()) {
        progress = false;
        for (size_t n = requests.size(); n > 0 && !requests.empty(); --n) {
            turn %= requests.size();
            const Step step = this->step(*requests[turn], publish, &budget);
            if (step == Step::Finished) {
                requests.erase(requests.begin() + std::ptrdiff_t(turn));
                progress = true;
                continue;
            }
            if (step == Step::Sent)
                progress = true;
            ++turn;
        }
        if (budget <= 0)
            break;
    }
    return !requests.empty();
}

bool HistoryServer::acknowledged(int mid)
{
    for (const std::unique_ptr<Request> &request : requests) {
        auto it = std::find(request->mids.begin(), request->mids.end(), mid);
        if (it != request->mids.end()) {
            request->mids.erase(it);
            return true;
        }
    }
    return false;
}

void HistoryServer::connectionEnded()
{
    requests.clear();
}

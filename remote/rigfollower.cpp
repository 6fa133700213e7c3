// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/rigfollower.h"

#include "publish/publishpayload.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RigFollower", text);
}

// Records first to first + count - 1 of records (which must hold them), as records of their own.
RigRecords slice(const RigRecords &records, int from)
{
    if (from <= 0)
        return records;
    RigRecords part;
    part.run = records.run;
    part.first = records.first + quint64(from);
    part.fieldCount = records.fieldCount;
    part.rows = records.rows - from;
    part.values = records.values.mid(from * records.fieldCount);
    int offset = 0;
    for (int row = 0; row < from; ++row)
        offset = records.lines.indexOf('\n', offset) + 1;
    part.lines = records.lines.mid(offset);
    return part;
}

quint64 endOf(const RigRecords &records)
{
    return records.first + quint64(records.rows);
}

} // namespace

struct RigFollower::Track
{
    RigRun run;
    int fieldCount = 0;
    quint64 next = 0;         // the next record wanted
    quint64 nextEvent = 0;    // the next event wanted
    double lastTime = -1e300; // the time of the last record handed on
    // Records and events that came ahead of the next wanted, by their first seq / place; history
    // answers (the rig's file) win over live ones.
    std::map<quint64, std::pair<RigRecords, bool>> ahead; // (records, from the history)
    quint64 aheadRows = 0;
    std::map<quint64, RigEvent> eventsAhead;
    quint64 furthest = 0; // the furthest live seq seen
    bool seenLive = false;

    // The history request.
    bool asking = false;
    QByteArray askedId;
    qint64 lastAnswer = 0; // when the request went or its last message came
    int tries = 0;
    bool gaveUp = false;   // no more asking until the rig or the link comes back
    bool knownEnd = false; // the rig said the run ended, and how far it went
    quint64 endRecords = 0;
    quint64 endEvents = 0;
    bool unknownToRig = false;
    bool hadGap = false;
    bool ended = false; // handed on as ended
};

RigFollower::RigFollower(const QString &prefix, RunSink *sink, std::function<void(HistoryRequest)> ask,
                         std::function<qint64()> clock, const Settings &settings)
    : rigPrefix(prefix), sink(sink), asker(std::move(ask)), clock(std::move(clock)), settings(settings)
{
    statusTopic = publishTopic(prefix, PublishTopic::Status);
    runTopic = publishTopic(prefix, PublishTopic::Run);
    dataTopic = publishTopic(prefix, PublishTopic::Data);
    eventTopic = publishTopic(prefix, PublishTopic::Event);
}

RigFollower::~RigFollower() = default;

RigFollower::Track *RigFollower::track(const QByteArray &run)
{
    for (const std::unique_ptr<Track> &t : tracks) {
        if (t->run.id == run)
            return t.get();
    }
    return nullptr;
}

quint64 RigFollower::nextRecord(const QByteArray &run) const
{
    for (const std::unique_ptr<Track> &t : tracks) {
        if (t->run.id == run)
            return t->next;
    }
    return 0;
}

bool RigFollower::isAsking(const QByteArray &run) const
{
    for (const std::unique_ptr<Track> &t : tracks) {
        if (t->run.id == run)
            return t->asking;
    }
    return false;
}

void RigFollower::refuse(const QByteArray &topic, const QString &why)
{
    ++refusedCount;
    sink->refused(topic, why);
}

void RigFollower::refusedAnswer(const QByteArray &topic, const QString &why)
{
    refuse(topic, why);
}

void RigFollower::message(const QByteArray &topic, const QByteArray &payload, bool retained)
{
    QString why;
    if (topic == statusTopic) {
        bool nowOnline = false;
        if (!readRigStatus(payload, &nowOnline, &why)) {
            refuse(topic, why);
            return;
        }
        const bool cameBack = nowOnline && (!online || !statusKnown);
        online = nowOnline;
        statusKnown = true;
        sink->rigStatus(online, retained);
        // A rig that comes back answers what it could not answer while away.
        if (cameBack) {
            for (const std::unique_ptr<Track> &t : tracks) {
                t->gaveUp = false;
                t->tries = 0;
            }
            askAll();
        }
        return;
    }
    if (topic == runTopic) {
        RigRun run;
        if (!readRigRun(payload, &run, &why)) {
            refuse(topic, why);
            return;
        }
        takeRun(run);
        return;
    }
    if (topic == dataTopic) {
        RigRecords record;
        if (!readRigRecord(payload, &record, &why)) {
            refuse(topic, why);
            return;
        }
        Track *t = track(record.run);
        if (!t) {
            // A record of a run whose start has not come yet: kept a little while.
            if (limbo.size() >= 1000)
                limbo.erase(limbo.begin());
            limbo.push_back(std::move(record));
            return;
        }
        if (t->seenLive && record.first > t->furthest + settings.maxJump) {
            refuse(
                topic,
                tr("record %1 jumps far ahead of the run's records (%2)").arg(record.first).arg(t->furthest));
            return;
        }
        t->furthest = std::max(t->furthest, record.first);
        t->seenLive = true;
        takeRecords(*t, std::move(record), false);
        return;
    }
    if (topic == eventTopic) {
        RigEvent event;
        if (!readRigEvent(payload, &event, &why)) {
            refuse(topic, why);
            return;
        }
        Track *t = track(event.run);
        if (!t) {
            if (limboEvents.size() >= 1000)
                limboEvents.erase(limboEvents.begin());
            limboEvents.push_back(std::move(event));
            return;
        }
        takeEvent(*t, event, false);
    }
}

void RigFollower::takeRun(const RigRun &run)
{
    if (Track *known = track(run.id)) {
        // The same start again (retained, after a reconnect): only which run is the rig's.
        current = run.id;
        return;
    }
    // A new run: the one before ended at the rig (a Reset); what is missing of it is asked for.
    for (const std::unique_ptr<Track> &t : tracks) {
        if (t->run.id == current && !t->ended)
            ask(*t);
    }
    auto t = std::make_unique<Track>();
    t->run = run;
    t->fieldCount = 1 + 2 * run.sensorCount;
    const RunSink::Held held = sink->runSeen(run);
    t->next = held.records;
    t->nextEvent = held.events;
    current = run.id;
    Track *added = t.get();
    tracks.push_back(std::move(t));
    ask(*added);
    // What came before its start.
    std::vector<RigRecords> early;
    for (auto it = limbo.begin(); it != limbo.end();) {
        if (it->run == run.id) {
            early.push_back(std::move(*it));
            it = limbo.erase(it);
        } else {
            ++it;
        }
    }
    for (RigRecords &r : early) {
        added->furthest = std::max(added->furthest, r.first);
        added->seenLive = true;
        takeRecords(*added, std::move(r), false);
    }
    std::vector<RigEvent> earlyEvents;
    for (auto it = limboEvents.begin(); it != limboEvents.end();) {
        if (it->run == run.id) {
            earlyEvents.push_back(std::move(*it));
            it = limboEvents.erase(it);
        } else {
            ++it;
        }
    }
    for (const RigEvent &e : earlyEvents)
        takeEvent(*added, e, false);
}

void RigFollower::takeRecords(Track &t, RigRecords &&records, bool fromHistory)
{
    if (records.rows == 0 || t.ended)
        return;
    if (records.fieldCount != t.fieldCount) {
        refuse(fromHistory ? QByteArray("history") : dataTopic,
               tr("records of %1 values for a run of %2 sensors")
                   .arg(records.fieldCount)
                   .arg(t.run.sensorCount));
        return;
    }
    if (endOf(records) <= t.next)
        return; // had already
    if (records.first <= t.next) {
        // The next ones wanted: handed on at once below (nothing ahead starts this early).
        RigRecords rest = slice(records, int(t.next - records.first));
        t.aheadRows += quint64(rest.rows);
        t.ahead.emplace(rest.first, std::make_pair(std::move(rest), fromHistory));
    } else {
        const quint64 first = records.first;
        const quint64 end = endOf(records);
        if (fromHistory) {
            // The rig's file wins over live records of the same seqs.
            for (auto it = t.ahead.lower_bound(first); it != t.ahead.end() && it->first < end;) {
                if (it->second.second || endOf(it->second.first) > end) {
                    ++it;
                    continue;
                }
                t.aheadRows -= quint64(it->second.first.rows);
                it = t.ahead.erase(it);
            }
        } else {
            // A live record inside what the history already brought ahead is had.
            auto before = t.ahead.upper_bound(first);
            if (before != t.ahead.begin() && endOf(std::prev(before)->second.first) > first)
                return;
        }
        auto existing = t.ahead.find(first);
        if (existing != t.ahead.end()) {
            if (existing->second.second && !fromHistory)
                return;
            t.aheadRows -= quint64(existing->second.first.rows);
            t.ahead.erase(existing);
        }
        t.aheadRows += quint64(records.rows);
        t.ahead.emplace(first, std::make_pair(std::move(records), fromHistory));
        // Something is missing before it: the history fills it, unless the rig does not answer.
        if (t.gaveUp)
            giveUp(t, tr("the rig does not answer requests for its history"));
        else if (!t.asking)
            ask(t);
        if (t.aheadRows > quint64(settings.maxAhead))
            giveUp(t, tr("too many records came while the ones before them were missing"));
    }
    handOn(t);
}

void RigFollower::handOn(Track &t)
{
    while (!t.ahead.empty() && t.ahead.begin()->first <= t.next) {
        auto it = t.ahead.begin();
        RigRecords records = std::move(it->second.first);
        t.aheadRows -= std::min<quint64>(t.aheadRows, quint64(records.rows));
        t.ahead.erase(it);
        if (endOf(records) <= t.next)
            continue;
        records = slice(records, int(t.next - records.first));
        // Times never go back within a run: a record that says otherwise is not the rig's.
        int good = 0;
        while (good < records.rows && records.row(good)[0] >= t.lastTime)
            t.lastTime = records.row(good++)[0];
        if (good < records.rows) {
            RigRecords kept = records;
            if (good > 0) {
                kept.rows = good;
                kept.values.resize(good * records.fieldCount);
                int offset = 0;
                for (int row = 0; row < good; ++row)
                    offset = records.lines.indexOf('\n', offset) + 1;
                kept.lines.truncate(offset);
                sink->records(t.run.id, kept);
            }
            const quint64 bad = records.first + quint64(good);
            refuse(dataTopic, tr("record %1's time goes back").arg(bad));
            sink->gap(t.run.id, bad, bad + 1, tr("record %1's time went back").arg(bad));
            t.hadGap = true;
            t.next = bad + 1;
            if (good + 1 < records.rows) {
                RigRecords rest = slice(records, good + 1);
                t.aheadRows += quint64(rest.rows);
                t.ahead.emplace(rest.first, std::make_pair(std::move(rest), true));
            }
            continue;
        }
        t.next = endOf(records);
        sink->records(t.run.id, records);
    }
    checkEnded(t);
}

void RigFollower::takeEvent(Track &t, const RigEvent &event, bool fromHistory)
{
    if (t.ended || event.index < t.nextEvent)
        return;
    auto existing = t.eventsAhead.find(event.index);
    if (existing != t.eventsAhead.end() && !fromHistory)
        return;
    if (event.index > t.nextEvent + 1000000) {
        refuse(eventTopic,
               tr("event %1 is far beyond the run's events (%2)").arg(event.index).arg(t.nextEvent));
        return;
    }
    t.eventsAhead[event.index] = event;
    if (!fromHistory)
        handOnEvents(t);
}

void RigFollower::handOnEvents(Track &t)
{
    while (!t.eventsAhead.empty() && t.eventsAhead.begin()->first == t.nextEvent) {
        sink->event(t.run.id, t.eventsAhead.begin()->second);
        t.eventsAhead.erase(t.eventsAhead.begin());
        ++t.nextEvent;
    }
    if (!t.eventsAhead.empty() && !t.asking) {
        if (t.gaveUp)
            giveUp(t, tr("the rig does not answer requests for its history"));
        else
            ask(t);
    }
    checkEnded(t);
}

void RigFollower::ask(Track &t)
{
    if (t.ended)
        return;
    HistoryRequest request;
    request.run = t.run.id;
    request.from = t.next;
    request.id = QByteArray::number(++requests);
    t.asking = true;
    t.askedId = request.id;
    t.lastAnswer = clock();
    asker(request);
}

void RigFollower::askAll()
{
    for (const std::unique_ptr<Track> &t : tracks) {
        if (!t->ended && !t->gaveUp)
            ask(*t);
    }
}

void RigFollower::linkUp()
{
    // The broker forgot what this client missed meanwhile; the retained status and run come
    // again, and the history fills the rest.
    for (const std::unique_ptr<Track> &t : tracks) {
        t->gaveUp = false;
        t->tries = 0;
    }
    askAll();
}

void RigFollower::giveUp(Track &t, const QString &why)
{
    t.asking = false;
    t.gaveUp = true;
    if (!t.ahead.empty() && t.ahead.begin()->first > t.next) {
        const quint64 to = t.ahead.begin()->first;
        sink->gap(t.run.id, t.next, to, why);
        t.hadGap = true;
        t.next = to;
    }
    // Events wait no longer either: those after a missing one come in their order.
    if (!t.eventsAhead.empty() && t.eventsAhead.begin()->first > t.nextEvent)
        t.nextEvent = t.eventsAhead.begin()->first;
    while (!t.eventsAhead.empty() && t.eventsAhead.begin()->first == t.nextEvent) {
        sink->event(t.run.id, t.eventsAhead.begin()->second);
        t.eventsAhead.erase(t.eventsAhead.begin());
        ++t.nextEvent;
    }
    handOn(t);
    // A run the rig moved on from and will say nothing more about ends here.
    if (t.run.id != current && !t.ended) {
        t.ended = true;
        sink->runEnded(t.run.id, false);
    }
}

void RigFollower::checkEnded(Track &t)
{
    if (t.ended || !t.knownEnd || t.next < t.endRecords || t.nextEvent < t.endEvents)
        return;
    t.ended = true;
    t.asking = false;
    sink->runEnded(t.run.id, !t.hadGap);
}

void RigFollower::answer(const HistoryAnswer &a)
{
    Track *t = a.run.isEmpty() ? nullptr : track(a.run);
    const bool ours = t && t->askedId == a.id && t->asking;
    if (a.kind == HistoryAnswer::Error) {
        // The rig could not read a request of ours: asked again at the next timeout.
        for (const std::unique_ptr<Track> &each : tracks) {
            if (each->askedId == a.id)
                each->lastAnswer = std::min(each->lastAnswer, clock() - settings.answerTimeoutMs);
        }
        refuse("history", tr("the rig refused a history request: %1").arg(a.error));
        return;
    }
    if (!t)
        return;
    if (ours)
        t->lastAnswer = clock();
    switch (a.kind) {
    case HistoryAnswer::Records: {
        RigRecords records = a.records;
        takeRecords(*t, std::move(records), true);
        return;
    }
    case HistoryAnswer::Missing: {
        const quint64 end = a.first + a.missing;
        if (a.first <= t->next && end > t->next) {
            sink->gap(t->run.id, t->next, end,
                      tr("the rig no longer has records %1 to %2").arg(t->next).arg(end - 1));
            t->hadGap = true;
            t->next = end;
            handOn(*t);
        }
        return;
    }
    case HistoryAnswer::Events:
        // All of them first: the rig's own list wins over live events of the same places.
        for (const RigEvent &e : a.events)
            takeEvent(*t, e, true);
        handOnEvents(*t);
        return;
    case HistoryAnswer::Done:
        if (!ours)
            return;
        t->asking = false;
        if (a.ended) {
            t->knownEnd = true;
            t->endRecords = a.next;
            t->endEvents = a.eventCount;
        }
        // Live records far beyond what the rig had then can't be its own.
        for (auto it = t->ahead.lower_bound(a.next + settings.maxJump); it != t->ahead.end();) {
            t->aheadRows -= quint64(it->second.first.rows);
            it = t->ahead.erase(it);
        }
        if (t->next < a.next || t->nextEvent < a.eventCount) {
            // Some of the answer did not come (the broker dropped it): asked again.
            if (++t->tries >= settings.tries)
                giveUp(*t, tr("the rig's answers did not arrive whole"));
            else
                ask(*t);
            return;
        }
        t->tries = 0;
        handOn(*t);
        checkEnded(*t);
        return;
    case HistoryAnswer::Unknown:
        if (!ours)
            return;
        t->unknownToRig = true;
        giveUp(*t, tr("the rig no longer holds this run"));
        if (!t->ended && t->run.id != current) {
            t->ended = true;
            sink->runEnded(t->run.id, false);
        }
        return;
    case HistoryAnswer::Error:
        return;
    }
}

void RigFollower::tick()
{
    const qint64 now = clock();
    for (const std::unique_ptr<Track> &t : tracks) {
        if (!t->asking || t->ended)
            continue;
        // A rig that is away can't answer: its silence is no failure.
        if (statusKnown && !online) {
            t->lastAnswer = now;
            continue;
        }
        if (now - t->lastAnswer < settings.answerTimeoutMs)
            continue;
        if (++t->tries >= settings.tries)
            giveUp(*t, tr("the rig did not answer the request for its history"));
        else
            ask(*t);
    }
}

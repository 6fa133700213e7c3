// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/historypayload.h"
#include "remote/rigmessages.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

// Where a followed rig's runs go: the remote window's views, the mirror's files. Each run's
// records come in order from seq 0 (or from where the sink said it holds them), each once; its
// events in the order of their places, each once.
class RunSink
{
public:
    struct Held
    {
        quint64 records = 0; // the first records of the run, already held
        quint64 events = 0;  // the first events of the run, already held
    };

    virtual ~RunSink() = default;
    // A run is seen for the first time; returns what of it the sink holds already.
    virtual Held runSeen(const RigRun &run) = 0;
    // The run's next records.
    virtual void records(const QByteArray &run, const RigRecords &records) = 0;
    // Records from to to - 1 of the run will not come: the rig no longer has them, or never
    // answered for them. The records after them come next.
    virtual void gap(const QByteArray &run, quint64 from, quint64 to, const QString &why) = 0;
    // The run's next event.
    virtual void event(const QByteArray &run, const RigEvent &event) = 0;
    // Nothing more will come of the run: a Reset at the rig ended it and everything was had
    // (whole), or the rig no longer holds it.
    virtual void runEnded(const QByteArray &run, bool whole) = 0;
    // The rig said it is online or offline (retained: it said so before this follower listened).
    virtual void rigStatus(bool online, bool retained) = 0;
    // A message from the rig was refused (not what a rig sends); why says what was wrong.
    virtual void refused(const QByteArray &topic, const QString &why) = 0;
};

// Follows one rig through what comes from the broker: its status, its runs, their records and
// events live, and the answers to the history requests it makes for what it missed (joining in
// the middle of a run, after an outage of the rig's link or its own, after a Reset during one).
// Records that arrive ahead of the next one wanted wait until the history fills what is before
// them; a history answer is the rig's own file and wins over a live record of the same seq. A
// stretch the history cannot fill (the rig no longer has it, or never answers) is handed on as a
// gap. It never sends anything but history requests. No threads, no network: the owner feeds it
// messages and turns of its clock.
class RigFollower
{
public:
    struct Settings
    {
        // A request that gets no answer for this long is asked again...
        int answerTimeoutMs = 10000;
        // ...this many times; then what it waited for is handed on as a gap.
        int tries = 3;
        // Records held ahead of the next one wanted, at most; more make what is missing a gap.
        int maxAhead = 1 << 20;
        // A live record this far beyond the furthest one seen is refused.
        quint64 maxJump = 1 << 20;
    };

    // prefix: the rig's topics' prefix; ask publishes a history request (its reply and id are
    // filled in by the owner's link); clock: milliseconds on a steady clock.
    RigFollower(const QString &prefix, RunSink *sink, std::function<void(HistoryRequest)> ask,
                std::function<qint64()> clock, const Settings &settings);
    ~RigFollower();

    QString prefix() const { return rigPrefix; }

    // What came from the broker for this rig.
    void message(const QByteArray &topic, const QByteArray &payload, bool retained);
    void answer(const HistoryAnswer &answer);
    // A message on this follower's answer topic that is not an answer a rig sends.
    void refusedAnswer(const QByteArray &topic, const QString &why);
    // The link to the broker is up (again): everything unfinished is asked for anew.
    void linkUp();
    // Runs timeouts: call about once a second.
    void tick();

    // The run the rig is in (empty before its run message came).
    QByteArray currentRun() const { return current; }
    // The records of a run handed on so far (the next seq wanted), and whether it is waiting for
    // a history answer.
    quint64 nextRecord(const QByteArray &run) const;
    bool isAsking(const QByteArray &run) const;
    bool isOnline() const { return online; }
    quint64 refusedMessages() const { return refusedCount; }

private:
    struct Track;
    Track *track(const QByteArray &run);
    void takeRun(const RigRun &run);
    void takeRecords(Track &t, RigRecords &&records, bool fromHistory);
    void takeEvent(Track &t, const RigEvent &event, bool fromHistory);
    void handOnEvents(Track &t);
    void handOn(Track &t);
    void ask(Track &t);
    void askAll();
    void giveUp(Track &t, const QString &why);
    void checkEnded(Track &t);
    void refuse(const QByteArray &topic, const QString &why);

    QString rigPrefix;
    QByteArray statusTopic, runTopic, dataTopic, eventTopic;
    RunSink *sink;
    std::function<void(HistoryRequest)> asker;
    std::function<qint64()> clock;
    Settings settings;
    std::vector<std::unique_ptr<Track>> tracks; // in the order the runs were seen
    QByteArray current;
    bool online = false;
    bool statusKnown = false;
    quint64 requests = 0;
    quint64 refusedCount = 0;
    // Records of runs whose start has not come yet (a few, in case it comes late).
    std::vector<RigRecords> limbo;
    std::vector<RigEvent> limboEvents;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/historyserver.h"
#include "publish/linkproblem.h"
#include "publish/publishpayload.h"
#include "publish/publishtarget.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>

#include <memory>
#include <thread>

// How a publisher reaches its broker and paces itself.
struct PublishSettings
{
    PublishTarget target;
    QByteArray password; // sent with target.user; empty: none
    QString clientId;    // empty: quellspan-<host name>-<process id>
    int keepAliveSeconds = 10;
    // A broker that takes the connection but does not acknowledge it within this is given up on.
    int answerTimeoutMs = 10000;
    // Retries after a failure wait from firstRetryMs, doubling up to lastRetryMs.
    int firstRetryMs = 1000;
    int lastRetryMs = 30000;
    // Messages sent and not yet acknowledged, at most.
    int window = 256;
    // The latest records kept in memory; older ones are read back from the live recording.
    int tailRecords = 4096;
    // MQTT 5 (which carries a history request's answer topic), or 3.1.1 alone.
    bool mqtt5 = true;
    // Whether history requests are answered, and how much at a time.
    bool answerHistory = true;
    HistoryLimits history;
};

// Publishes a run to an MQTT broker, so that it can be watched and stored elsewhere: the rig's
// state (online, or offline as the last will and before every clean disconnect), each run's start,
// every record (QoS 1, "seq" = its line in the live recording) and every mark and event, in the
// order they happened (see publishpayload.h for topics and payloads). It answers requests for
// the part of a run a viewer or a mirror missed (historypayload.h) from the same recording.
//
// Nothing is lost across outages: the live recording on disk is the buffer. The publisher keeps
// only the latest records and the messages in flight in memory, remembers what the broker
// acknowledged, and after any outage publishes everything beyond that, read back from the
// recording where memory no longer holds it, before new records. Duplicates after a reconnect
// are possible (a consumer drops them by seq); gaps are not.
//
// Everything that can wait runs off the calling thread: a thread of its own connects (name
// lookup, TCP, TLS), retries with a growing pause and reads the recording; libmosquitto's own
// thread (mosquitto_loop_start) carries a connection. The calls below only hand over data and
// never wait, except stop(). What happens comes back as queued signals.
class Publisher : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Connecting, // trying, with no failure yet
        Connected,
        Unreachable, // failed or lost; retrying (problem says why, since when)
        Stopped,
    };
    Q_ENUM(State)

    struct Status
    {
        State state = State::Connecting;
        QDateTime since;     // when the state began (for Unreachable: the first failure)
        LinkProblem problem; // for Unreachable: the latest reason
        bool operator==(const Status &o) const
        {
            return state == o.state && since == o.since && problem == o.problem;
        }
    };

    // Where the broker's acknowledgements have got to: every message up to acknowledgedRecords
    // records of run acknowledgedRun (0 for the first run started) was taken by the broker.
    struct Progress
    {
        quint64 runsStarted = 0;
        quint64 acknowledgedRun = 0;
        quint64 acknowledgedRecords = 0;
        quint64 messagesSent = 0;   // repeated ones included
        quint64 recordsLost = 0;    // neither in memory nor in the recording any more
        quint64 historyAnswers = 0; // history requests answered to their end
        quint64 historyRecords = 0; // records sent in answers
    };

    explicit Publisher(const PublishSettings &settings, QObject *parent = nullptr);
    // Stops (see stop()).
    ~Publisher() override;

    const PublishSettings &settings() const { return config; }
    Status status() const { return current; }
    Progress progress() const;

    // A run starts: <prefix>/run says so, then its records follow. recordingPath is its live
    // recording (empty when it has none), whose line n is record n; recordsSoFar of them were
    // taken before publishing started and are read from there. Events added since the last run
    // ended (its Reset, the Start) belong to this run.
    void startRun(const PublishedRun &run, const QString &recordingPath, quint64 recordsSoFar = 0);
    // The run's next record: its time, then channelCount channel values.
    void addRecord(double time, const double *channels, int channelCount);
    void addEvent(const RunEvent &event);
    // The run's recording gets no more lines (it stopped writing).
    void recordingFinal();
    // The run ends (Reset); its recording is complete. Events from now on belong to the next run.
    void endRun();
    // Publishes "offline", waits for the broker to take it and disconnects; nothing more is
    // published. With drain, what is still pending goes to the broker first (a program that
    // quits). Waits at most about waitMs in all.
    void stop(int waitMs = 2000, bool drain = false);
    // The same without waiting: "offline" goes out and the connection closes on the publisher's
    // own thread, after this object may be gone (publishing switched off during a run).
    void stopInBackground();

signals:
    // Once for each change (not for each retry with the same reason).
    void statusChanged(const Publisher::Status &status);

private:
    class Engine;
    void push(int kind, QByteArray payload = QByteArray(), QString path = QString(), quint64 count = 0);
    void takeStatus(const Status &status);

    PublishSettings config;
    std::shared_ptr<Engine> engine;
    std::thread thread;
    Status current;
    bool stopped = false;
};

Q_DECLARE_METATYPE(Publisher::Status)

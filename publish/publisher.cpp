// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publisher.h"

#include "publish/brokersession.h"
#include "publish/historyserver.h"
#include "publish/runitem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSysInfo>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int MaxFields = PublishedRow::MaxFields;

enum CommandKind
{
    StartRun,
    Record,
    Event,
    RecordingFinal,
    EndRun,
    Stop,
};

struct Command
{
    int kind = Record;
    std::array<double, MaxFields> fields{};
    int fieldCount = 0;
    QByteArray payload; // the run's or the event's JSON
    QByteArray id;      // StartRun: the run's identity
    QString path;       // StartRun: the recording
    quint64 count = 0;  // StartRun: records so far; Stop: how long to wait, in ms
    bool drain = false; // Stop: what is pending goes first
};

// A place in the stream of messages: run, its next record and next event, and whether its
// header went.
struct Cursor
{
    quint64 run = 0;
    quint64 seq = 0;
    quint64 event = 0;
    bool header = false;
};

} // namespace

class Publisher::Engine
{
public:
    explicit Engine(const PublishSettings &settings)
        : config(settings), history(settings.target.prefix, settings.history)
    {
        statusTopic = publishTopic(config.target.prefix, PublishTopic::Status);
        runTopic = publishTopic(config.target.prefix, PublishTopic::Run);
        dataTopic = publishTopic(config.target.prefix, PublishTopic::Data);
        eventTopic = publishTopic(config.target.prefix, PublishTopic::Event);
        requestTopic = publishTopic(config.target.prefix, PublishTopic::HistoryRequest);
        SessionSettings session;
        session.target = config.target;
        session.password = config.password;
        session.clientId = config.clientId;
        session.keepAliveSeconds = config.keepAliveSeconds;
        session.answerTimeoutMs = config.answerTimeoutMs;
        session.firstRetryMs = config.firstRetryMs;
        session.lastRetryMs = config.lastRetryMs;
        session.willTopic = statusTopic;
        session.mqtt5 = config.mqtt5;
        if (config.answerHistory)
            session.subscriptions = {requestTopic};
        link = std::make_unique<BrokerSession>(
            session, [this](LinkEvent &&event) { take(std::move(event)); },
            [this](const LinkStatus &status) { report(status); });
    }

    // Shared with the caller's thread and libmosquitto's, under mutex.
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Command> commands;
    std::vector<LinkEvent> linkEvents;
    bool urgent = false; // something that can't wait for the next round came
    bool acknowledgementsUrgent = false;
    QObject *receiver = nullptr; // the Publisher, until it goes
    bool finished = false;

    std::atomic<quint64> runsStarted{0};
    std::atomic<quint64> acknowledgedRun{0};
    std::atomic<quint64> acknowledgedRecords{0};
    std::atomic<quint64> messagesSent{0};
    std::atomic<quint64> recordsLost{0};
    std::atomic<quint64> historyAnswered{0};
    std::atomic<quint64> historyRecords{0};

    void run();

    // Hands over a command; one that can wait (a record, an event) is taken with the next round.
    void take(Command &&command, bool canWait)
    {
        bool now;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            commands.push_back(std::move(command));
            if (!canWait)
                urgent = true;
            now = urgent;
        }
        if (now)
            wake.notify_all();
    }

private:
    // From libmosquitto's thread.
    void take(LinkEvent &&event)
    {
        bool now;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            // An acknowledgement or a request waits for the next round unless the window is
            // filling up.
            const bool canWait = event.kind == LinkEvent::Acknowledged || event.kind == LinkEvent::Message;
            linkEvents.push_back(std::move(event));
            if (!canWait || acknowledgementsUrgent)
                urgent = true;
            now = urgent;
        }
        if (now)
            wake.notify_all();
    }

    void handle(const Command &command);
    void handle(const LinkEvent &event);
    void acknowledged(int mid);
    void pump();
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid);
    enum class Take
    {
        Sent,
        Wait,
        Skip,
    };
    Take takeRecord(RunItem &run, QByteArray *payload, quint64 *skipTo);
    void settle();
    bool hasNext() const;
    void report(const LinkStatus &status);
    void report(State state);

    PublishSettings config;
    QByteArray statusTopic, runTopic, dataTopic, eventTopic, requestTopic;
    std::unique_ptr<BrokerSession> link;
    HistoryServer history;

    static constexpr int RoundMs = 100;
    // While history requests are being answered: shorter rounds, each sending a share.
    static constexpr int HistoryRoundMs = 25;
    Clock::time_point lastRound;

    // The stream.
    std::deque<std::shared_ptr<RunItem>> runs;
    quint64 runBase = 0; // the number of runs.front()
    bool runOpen = false;
    std::vector<QByteArray> pendingEvents; // before the next run starts
    Cursor send, acked;
    struct InFlight
    {
        int mid;
        Cursor after;
        bool acknowledged;
    };
    std::deque<InFlight> inFlight;
    bool waitingForFile = false;
    bool answering = false; // history requests are being answered

    // Stopping.
    bool stopping = false;
    bool draining = false;
    bool triedAtStop = false;
    Clock::time_point stopDeadline;
    Clock::time_point drainDeadline;
    int offlineMid = -1;
    bool offlineTaken = false;
};

void Publisher::Engine::report(const LinkStatus &status)
{
    Status next;
    next.state = State(int(status.state));
    next.since = status.since;
    next.problem = status.problem;
    const std::lock_guard<std::mutex> lock(mutex);
    if (QObject *to = receiver) {
        QMetaObject::invokeMethod(
            to, [to, next] { static_cast<Publisher *>(to)->takeStatus(next); }, Qt::QueuedConnection);
    }
}

void Publisher::Engine::report(State state)
{
    LinkStatus status;
    status.state = LinkState(int(state));
    status.since = QDateTime::currentDateTime();
    report(status);
}

void Publisher::Engine::run()
{
    link->setUp();
    for (;;) {
        std::vector<Command> newCommands;
        std::vector<LinkEvent> newEvents;
        {
            std::unique_lock<std::mutex> lock(mutex);
            Clock::time_point until = Clock::now() + milliseconds(1000);
            if (stopping)
                until = std::min(until, stopDeadline);
            else
                until = std::min(until, link->due());
            if (waitingForFile)
                until = std::min(until, Clock::now() + milliseconds(200));
            // Records and acknowledgements are taken in rounds, so that a steady run wakes this
            // thread a few times a second rather than several times per record; while the broker
            // is away, nothing they bring can go anywhere anyway.
            if (link->isConnected())
                until = std::min(until, lastRound + milliseconds(answering ? HistoryRoundMs : RoundMs));
            acknowledgementsUrgent = stopping || inFlight.size() * 2 >= size_t(std::max(1, config.window));
            wake.wait_until(lock, until, [this] { return urgent; });
            urgent = false;
            newCommands.swap(commands);
            newEvents.swap(linkEvents);
        }
        lastRound = Clock::now();
        for (const Command &command : newCommands)
            handle(command);
        for (const LinkEvent &event : newEvents)
            handle(event);

        const auto now = Clock::now();
        if (stopping) {
            // Quitting while the broker is away: one more try at once for what it has not taken.
            if (draining && !link->isConnected() && !link->isConnecting() && !triedAtStop &&
                now < drainDeadline) {
                triedAtStop = true;
                link->tryNow();
                continue;
            }
            if (link->isConnecting() && draining && now < drainDeadline)
                continue;
            if (link->isConnected() && offlineMid < 0 && draining && now < drainDeadline) {
                pump();
                if (!inFlight.empty() || waitingForFile || hasNext())
                    continue;
            }
            const bool offlineDue = link->isConnected() && offlineMid < 0;
            if (offlineDue && !publish(statusTopic, QByteArrayLiteral("offline"), true, &offlineMid))
                offlineMid = -1;
            if (!link->isConnected() || offlineTaken || offlineMid < 0 || now >= stopDeadline)
                break;
            continue;
        }
        link->tick();
        if (link->isConnected()) {
            pump();
            answering = history.pump([this](const QByteArray &topic, const QByteArray &payload,
                                            const QByteArray &correlation, int *mid) {
                if (!link->publish(topic, payload, 1, false, mid, correlation))
                    return false;
                ++messagesSent;
                return true;
            });
            historyAnswered = history.answered();
            historyRecords = history.recordsSent();
        }
    }

    link->close();
    report(State::Stopped);
    link.reset();
    runs.clear();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    wake.notify_all();
}

void Publisher::Engine::handle(const LinkEvent &event)
{
    switch (link->handle(event)) {
    case BrokerSession::Outcome::Acknowledged:
        acknowledged(event.code);
        return;
    case BrokerSession::Outcome::Connected: {
        int ignored;
        publish(statusTopic, QByteArrayLiteral("online"), true, &ignored);
        // Everything the broker has not acknowledged goes again, in order.
        send = acked;
        inFlight.clear();
        return;
    }
    case BrokerSession::Outcome::Ended:
        history.connectionEnded();
        answering = false;
        return;
    case BrokerSession::Outcome::Message:
        if (event.topic == requestTopic && !stopping)
            history.take(event);
        return;
    case BrokerSession::Outcome::Nothing:
        return;
    }
}

void Publisher::Engine::handle(const Command &command)
{
    RunItem *open = runOpen && !runs.empty() ? runs.back().get() : nullptr;
    switch (command.kind) {
    case StartRun: {
        if (open) {
            open->ended = true;
            open->fileFinal = true;
        }
        auto run = std::make_shared<RunItem>();
        run->id = command.id;
        run->header = command.payload;
        run->path = command.path;
        run->records = command.count;
        run->tailFirst = command.count;
        run->fileFinal = command.path.isEmpty();
        for (QByteArray &event : pendingEvents)
            run->events.emplace_back(0, std::move(event));
        pendingEvents.clear();
        history.runStarted(run);
        runs.push_back(std::move(run));
        runOpen = true;
        ++runsStarted;
        return;
    }
    case Record:
        if (!open)
            return;
        open->tail.push_back({command.fields, command.fieldCount});
        ++open->records;
        if (open->tail.size() > size_t(std::max(1, config.tailRecords))) {
            open->tail.pop_front();
            ++open->tailFirst;
        }
        return;
    case Event:
        if (open)
            open->events.emplace_back(open->records, command.payload);
        else if (pendingEvents.size() < 100000)
            pendingEvents.push_back(command.payload);
        return;
    case RecordingFinal:
        if (open)
            open->fileFinal = true;
        return;
    case EndRun:
        if (open) {
            open->ended = true;
            open->fileFinal = true;
        }
        runOpen = false;
        return;
    case Stop:
        stopping = true;
        draining = command.drain;
        stopDeadline = Clock::now() + milliseconds(command.count);
        // Most of the time for what is pending, the rest for "offline".
        drainDeadline = stopDeadline - milliseconds(std::min<quint64>(command.count / 4, 1000));
        return;
    }
}

bool Publisher::Engine::publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid)
{
    if (!link->publish(topic, payload, 1, retain, mid))
        return false;
    ++messagesSent;
    return true;
}

Publisher::Engine::Take Publisher::Engine::takeRecord(RunItem &run, QByteArray *payload, quint64 *skipTo)
{
    const quint64 seq = send.seq;
    if (seq >= run.tailFirst) {
        const PublishedRow &row = run.tail[size_t(seq - run.tailFirst)];
        appendDataPayload(payload, seq, row.fields.data(), row.count, run.id);
        return Take::Sent;
    }
    const auto inBatch = [&] {
        return seq >= run.batch.first && seq < run.batch.first + quint64(run.batch.count());
    };
    if (!inBatch() && !run.path.isEmpty() && !run.fileFailed) {
        if (!run.file)
            run.file = std::make_unique<RecordingLines>(run.path);
        const quint64 wanted = std::min<quint64>(run.tailFirst - seq, 1024);
        if (!run.file->read(seq, int(wanted), &run.batch))
            run.fileFailed = true;
    }
    if (inBatch()) {
        const int i = int(seq - run.batch.first);
        if (appendDataPayload(payload, seq, run.batch.line(i), run.batch.length(i), run.id))
            return Take::Sent;
        *skipTo = seq + 1; // not a line of the program's: nothing to publish for it
        return Take::Skip;
    }
    if (run.fileFinal || run.fileFailed || run.path.isEmpty()) {
        *skipTo = run.tailFirst;
        return Take::Skip;
    }
    return Take::Wait; // not on disk yet: the recording writes about once a second
}

void Publisher::Engine::pump()
{
    waitingForFile = false;
    QByteArray payload;
    while (inFlight.size() < size_t(std::max(1, config.window))) {
        if (send.run < runBase || send.run - runBase >= runs.size())
            break;
        RunItem &run = *runs[size_t(send.run - runBase)];
        Cursor after = send;
        const QByteArray *topic = nullptr;
        bool retain = false;
        payload.clear();
        if (!send.header) {
            topic = &runTopic;
            retain = true;
            payload = run.header;
            after.header = true;
        } else if (send.event < run.events.size() && run.events[size_t(send.event)].first <= send.seq) {
            topic = &eventTopic;
            payload = placedEventPayload(run.events[size_t(send.event)].second, send.event, run.id);
            ++after.event;
        } else if (send.seq < run.records) {
            quint64 skipTo = 0;
            const Take take = takeRecord(run, &payload, &skipTo);
            if (take == Take::Wait) {
                waitingForFile = true;
                break;
            }
            if (take == Take::Skip) {
                const quint64 from = std::max(send.seq, run.lostUpTo);
                if (skipTo > from)
                    recordsLost += skipTo - from;
                run.lostUpTo = std::max(run.lostUpTo, skipTo);
                send.seq = skipTo;
                continue;
            }
            topic = &dataTopic;
            ++after.seq;
        } else if (run.ended && send.run - runBase + 1 < runs.size()) {
            send = Cursor{send.run + 1, 0, 0, false};
            continue;
        } else {
            break;
        }
        int mid = 0;
        if (!publish(*topic, payload, retain, &mid))
            break; // the connection just went: its end is on the way
        inFlight.push_back({mid, after, false});
        send = after;
    }
    settle();
}

bool Publisher::Engine::hasNext() const
{
    if (send.run < runBase || send.run - runBase >= runs.size())
        return false;
    const RunItem &run = *runs[size_t(send.run - runBase)];
    return !send.header || send.event < run.events.size() || send.seq < run.records ||
           (run.ended && send.run - runBase + 1 < runs.size());
}

void Publisher::Engine::acknowledged(int mid)
{
    // A history answer's message: its request may send the next.
    if (history.acknowledged(mid))
        return;
    if (mid == offlineMid && offlineMid >= 0) {
        offlineTaken = true;
        return;
    }
    for (InFlight &m : inFlight) {
        if (m.mid == mid) {
            m.acknowledged = true;
            break;
        }
    }
    while (!inFlight.empty() && inFlight.front().acknowledged) {
        acked = inFlight.front().after;
        inFlight.pop_front();
    }
    settle();
}

void Publisher::Engine::settle()
{
    // With nothing in flight, all that was sent is taken, and what was skipped is behind too.
    if (inFlight.empty() && link->isConnected())
        acked = send;
    while (!runs.empty() && acked.run > runBase) {
        runs.pop_front();
        ++runBase;
    }
    acknowledgedRun = acked.run;
    acknowledgedRecords = acked.seq;
}

Publisher::Publisher(const PublishSettings &settings, QObject *parent)
    : QObject(parent), config(settings), engine(std::make_shared<Engine>(settings))
{
    qRegisterMetaType<Publisher::Status>();
    current.since = QDateTime::currentDateTime();
    engine->receiver = this;
    std::shared_ptr<Engine> e = engine;
    thread = std::thread([e] { e->run(); });
}

Publisher::~Publisher()
{
    stop();
}

Publisher::Progress Publisher::progress() const
{
    Progress p;
    p.runsStarted = engine->runsStarted;
    p.acknowledgedRun = engine->acknowledgedRun;
    p.acknowledgedRecords = engine->acknowledgedRecords;
    p.messagesSent = engine->messagesSent;
    p.recordsLost = engine->recordsLost;
    p.historyAnswers = engine->historyAnswered;
    p.historyRecords = engine->historyRecords;
    return p;
}

void Publisher::push(int kind, QByteArray payload, QString path, quint64 count)
{
    if (stopped)
        return;
    Command c;
    c.kind = kind;
    c.payload = std::move(payload);
    c.path = std::move(path);
    c.count = count;
    engine->take(std::move(c), kind == Event);
}

void Publisher::startRun(const PublishedRun &run, const QString &recordingPath, quint64 recordsSoFar)
{
    if (stopped)
        return;
    Command c;
    c.kind = StartRun;
    c.payload = runPayload(run);
    c.id = runId(run.start);
    c.path = recordingPath;
    c.count = recordsSoFar;
    engine->take(std::move(c), false);
}

void Publisher::addRecord(double time, const double *channels, int channelCount)
{
    if (stopped)
        return;
    Command c;
    c.kind = Record;
    c.fieldCount = 1 + qBound(0, channelCount, MaxFields - 1);
    c.fields[0] = time;
    std::copy(channels, channels + c.fieldCount - 1, c.fields.begin() + 1);
    engine->take(std::move(c), true);
}

void Publisher::addEvent(const RunEvent &event)
{
    push(Event, eventPayload(event));
}

void Publisher::recordingFinal()
{
    push(RecordingFinal);
}

void Publisher::endRun()
{
    push(EndRun);
}

void Publisher::stop(int waitMs, bool drain)
{
    if (stopped)
        return;
    Command c;
    c.kind = Stop;
    c.count = quint64(std::max(0, waitMs));
    c.drain = drain;
    engine->take(std::move(c), false);
    stopped = true;
    bool finished;
    {
        std::unique_lock<std::mutex> lock(engine->mutex);
        // The engine's own wait, and a little for closing the connection after it.
        finished = engine->wake.wait_for(lock, milliseconds(std::max(0, waitMs) + 1500),
                                         [this] { return engine->finished; });
        engine->receiver = nullptr;
    }
    // A thread still resolving a name can't be interrupted: it ends by itself later.
    if (finished)
        thread.join();
    else
        thread.detach();
    takeStatus({State::Stopped, QDateTime::currentDateTime(), LinkProblem()});
}

void Publisher::stopInBackground()
{
    if (stopped)
        return;
    push(Stop, QByteArray(), QString(), 2000);
    stopped = true;
    {
        const std::lock_guard<std::mutex> lock(engine->mutex);
        engine->receiver = nullptr;
    }
    thread.detach(); // the engine holds what it needs and ends by itself
    takeStatus({State::Stopped, QDateTime::currentDateTime(), LinkProblem()});
}

void Publisher::takeStatus(const Status &status)
{
    if (current.state == State::Stopped ||
        (status.state == current.state && status.problem == current.problem))
        return;
    current = status;
    emit statusChanged(current);
}

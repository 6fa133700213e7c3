// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publisher.h"

#include "publish/recordinglines.h"
#include "publish/tlscontext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSysInfo>

#include <mosquitto.h>
#include <openssl/ssl.h>

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

#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int MaxFields = 9;

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
    QString path;       // StartRun: the recording
    quint64 count = 0;  // StartRun: records so far; Stop: how long to wait, in ms
    bool drain = false; // Stop: what is pending goes first
};

struct LinkEvent
{
    enum Kind
    {
        Connected,
        Disconnected,
        Acknowledged,
        TlsFailed, // libmosquitto's thread ends after a failed handshake without saying so otherwise
    };
    Kind kind;
    int code;        // CONNACK code, MOSQ_ERR_* or the message id
    int systemError; // errno as the library left it
};

struct Row
{
    std::array<double, MaxFields> fields;
    int count;
};

// One run as far as the publisher knows it: records and events in the order they happened.
struct RunItem
{
    QByteArray header;
    QString path;
    quint64 records = 0;
    std::vector<std::pair<quint64, QByteArray>> events; // (records before it, payload)
    bool fileFinal = false;                             // the recording gets no more lines
    bool ended = false;                                 // a Reset ended the run
    // The latest records; tailFirst + tail.size() == records.
    quint64 tailFirst = 0;
    std::deque<Row> tail;
    std::unique_ptr<RecordingLines> file;
    RecordingLines::Batch batch; // lines read ahead from the file
    bool fileFailed = false;
    quint64 lostUpTo = 0; // records before this were counted as lost already
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

QString defaultClientId()
{
    QString host = QSysInfo::machineHostName().left(40);
    return QStringLiteral("quellspan-%1-%2").arg(host).arg(QCoreApplication::applicationPid());
}

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

} // namespace

class Publisher::Engine
{
public:
    explicit Engine(const PublishSettings &settings) : config(settings)
    {
        statusTopic = publishTopic(config.target.prefix, PublishTopic::Status);
        runTopic = publishTopic(config.target.prefix, PublishTopic::Run);
        dataTopic = publishTopic(config.target.prefix, PublishTopic::Data);
        eventTopic = publishTopic(config.target.prefix, PublishTopic::Event);
        retryDelay = config.firstRetryMs;
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

    void run();

private:
    static void onConnect(mosquitto *, void *self, int code)
    {
        static_cast<Engine *>(self)->link({LinkEvent::Connected, code, 0});
    }
    static void onDisconnect(mosquitto *, void *self, int code)
    {
        const int systemError = errno;
        static_cast<Engine *>(self)->link({LinkEvent::Disconnected, code, systemError});
    }
    static void onPublish(mosquitto *, void *self, int mid)
    {
        static_cast<Engine *>(self)->link({LinkEvent::Acknowledged, mid, 0});
    }
    static void onLog(mosquitto *, void *self, int level, const char *text)
    {
        if (level == MOSQ_LOG_ERR && std::strncmp(text, "OpenSSL Error", 13) == 0)
            static_cast<Engine *>(self)->tlsFailure(text);
    }
    void tlsFailure(const char *text)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (tlsText.isEmpty())
                tlsText = QString::fromUtf8(text);
            linkEvents.push_back({LinkEvent::TlsFailed, 0, 0});
            urgent = true;
        }
        wake.notify_all();
    }
    void link(const LinkEvent &event)
    {
        bool now;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            linkEvents.push_back(event);
            // An acknowledgement waits for the next round unless the window is filling up.
            if (event.kind != LinkEvent::Acknowledged || acknowledgementsUrgent)
                urgent = true;
            now = urgent;
        }
        if (now)
            wake.notify_all();
    }

public:
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
    bool setUp();
    void attempt();
    void closeSession();
    void failed(const LinkProblem &problem);
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
    void report(State state, const LinkProblem &problem = LinkProblem());

    PublishSettings config;
    QByteArray statusTopic, runTopic, dataTopic, eventTopic;
    mosquitto *mosq = nullptr;
    SSL_CTX *tls = nullptr;
    std::atomic<int> verifyError{0};
    QString tlsText; // under mutex
    QString setUpProblem;

    // The connection.
    bool session = false; // libmosquitto's thread runs
    bool connected = false;
    bool sessionEnded = false; // the library said the connection ended
    Clock::time_point answerDeadline;
    Clock::time_point nextAttempt;
    int retryDelay = 0;
    Status status;
    QDateTime lostAt;

    static constexpr int RoundMs = 100;
    Clock::time_point lastRound;

    // The stream.
    std::deque<RunItem> runs;
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

    // Stopping.
    bool stopping = false;
    bool draining = false;
    bool triedAtStop = false;
    Clock::time_point stopDeadline;
    Clock::time_point drainDeadline;
    int offlineMid = -1;
    bool offlineTaken = false;
};

bool Publisher::Engine::setUp()
{
    const QByteArray clientId = (config.clientId.isEmpty() ? defaultClientId() : config.clientId).toUtf8();
    mosq = mosquitto_new(clientId.constData(), true, this);
    if (!mosq) {
        setUpProblem = QCoreApplication::translate("Publisher", "the MQTT client could not be made");
        return false;
    }
    mosquitto_connect_callback_set(mosq, onConnect);
    mosquitto_disconnect_callback_set(mosq, onDisconnect);
    mosquitto_publish_callback_set(mosq, onPublish);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, 0);
    // The library never reconnects by itself: this thread does, with its own pauses and reasons.
    mosquitto_reconnect_delay_set(mosq, 3600, 3600, false);
    mosquitto_will_set(mosq, statusTopic.constData(), 7, "offline", 1, true);
    if (!config.target.user.isEmpty()) {
        mosquitto_username_pw_set(mosq, config.target.user.toUtf8().constData(),
                                  config.password.isEmpty() ? nullptr : config.password.constData());
    }
    if (config.target.tls) {
        tls = makeTlsContext(config.target.host, config.target.caFile, &verifyError, &setUpProblem);
        if (!tls)
            return false;
        mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, tls);
    }
    return true;
}

void Publisher::Engine::report(State state, const LinkProblem &problem)
{
    Status next;
    next.state = state;
    next.problem = problem;
    next.since = QDateTime::currentDateTime();
    if (state == State::Unreachable && status.state == State::Unreachable)
        next.since = status.since; // the same outage goes on
    else if (state == State::Unreachable && lostAt.isValid())
        next.since = lostAt;
    if (state == status.state && problem == status.problem && state != State::Stopped)
        return;
    status = next;
    const std::lock_guard<std::mutex> lock(mutex);
    if (QObject *to = receiver) {
        QMetaObject::invokeMethod(
            to, [to, next] { static_cast<Publisher *>(to)->takeStatus(next); }, Qt::QueuedConnection);
    }
}

void Publisher::Engine::run()
{
    status.state = State::Connecting;
    if (!setUp()) {
        report(State::Unreachable, {LinkProblem::TlsFailed, setUpProblem});
    }
    nextAttempt = Clock::now();
    for (;;) {
        std::vector<Command> newCommands;
        std::vector<LinkEvent> newEvents;
        {
            std::unique_lock<std::mutex> lock(mutex);
            Clock::time_point until = Clock::now() + milliseconds(1000);
            if (stopping)
                until = std::min(until, stopDeadline);
            else if (!session && mosq && setUpProblem.isEmpty())
                until = std::min(until, nextAttempt);
            else if (session && !connected)
                until = std::min(until, answerDeadline);
            if (waitingForFile)
                until = std::min(until, Clock::now() + milliseconds(200));
            // Records and acknowledgements are taken in rounds, so that a steady run wakes this
            // thread a few times a second rather than several times per record; while the broker
            // is away, nothing they bring can go anywhere anyway.
            if (connected)
                until = std::min(until, lastRound + milliseconds(RoundMs));
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
            if (draining && !session && !triedAtStop && now < drainDeadline && mosq &&
                setUpProblem.isEmpty()) {
                triedAtStop = true;
                attempt();
                continue;
            }
            if (!connected && session && draining && now < drainDeadline)
                continue;
            if (connected && offlineMid < 0 && draining && now < drainDeadline) {
                pump();
                if (!inFlight.empty() || waitingForFile || hasNext())
                    continue;
            }
            const bool offlineDue = connected && offlineMid < 0;
            if (offlineDue && !publish(statusTopic, QByteArrayLiteral("offline"), true, &offlineMid))
                offlineMid = -1;
            if (!connected || offlineTaken || offlineMid < 0 || now >= stopDeadline)
                break;
            continue;
        }
        if (session && !connected && now >= answerDeadline) {
            // A socket that never connected is a host that does not answer; one that did is a
            // broker that took the connection and said nothing.
            const int fd = mosquitto_socket(mosq);
            sockaddr_storage peer = {};
            socklen_t length = sizeof peer;
            const bool tcpUp =
                fd >= 0 && ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
            failed(tcpUp
                       ? LinkProblem{LinkProblem::NoAnswer, QString()}
                       : LinkProblem{LinkProblem::Unreachable, QString::fromLocal8Bit(strerror(ETIMEDOUT))});
        }
        if (!session && mosq && setUpProblem.isEmpty() && Clock::now() >= nextAttempt)
            attempt();
        if (connected)
            pump();
    }

    closeSession();
    report(State::Stopped);
    if (mosq)
        mosquitto_destroy(mosq);
    if (tls)
        SSL_CTX_free(tls);
    runs.clear();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    wake.notify_all();
}

void Publisher::Engine::attempt()
{
    if (status.state != State::Unreachable)
        report(State::Connecting);
    verifyError = 0;
    // Log lines only while connecting: that is where a TLS failure is told, and formatting one
    // for every message sent later would cost for nothing.
    mosquitto_log_callback_set(mosq, onLog);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        tlsText.clear();
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
                QCoreApplication::translate("Publisher", "the network thread could not start")});
        return;
    }
    session = true;
    sessionEnded = false;
    answerDeadline = Clock::now() + milliseconds(config.answerTimeoutMs);
}

void Publisher::Engine::closeSession()
{
    if (!session)
        return;
    mosquitto_disconnect(mosq);
    // Waits for the library to end the connection; one stuck in the middle of connecting is cut.
    const auto waitForEnd = [this](int ms) {
        const auto until = Clock::now() + milliseconds(ms);
        std::unique_lock<std::mutex> lock(mutex);
        while (!sessionEnded) {
            for (const LinkEvent &e : linkEvents) {
                if (e.kind == LinkEvent::Disconnected)
                    sessionEnded = true;
            }
            if (sessionEnded || !wake.wait_until(lock, until, [this] { return !linkEvents.empty(); }))
                break;
            // Acknowledgements stay for the main loop; only the end is looked for.
            for (const LinkEvent &e : linkEvents) {
                if (e.kind == LinkEvent::Disconnected)
                    sessionEnded = true;
            }
            if (!sessionEnded)
                wake.wait_until(lock, std::min(until, Clock::now() + milliseconds(20)));
            if (Clock::now() >= until)
                break;
        }
    };
    waitForEnd(500);
    if (!sessionEnded) {
        const int fd = mosquitto_socket(mosq);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        waitForEnd(500);
    }
    mosquitto_loop_stop(mosq, !sessionEnded);
    session = false;
    connected = false;
    // What the ended connection still reported changes nothing now, except acknowledgements.
    std::vector<LinkEvent> left;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        left.swap(linkEvents);
    }
    for (const LinkEvent &e : left) {
        if (e.kind == LinkEvent::Acknowledged)
            acknowledged(e.code);
    }
}

void Publisher::Engine::failed(const LinkProblem &problem)
{
    closeSession();
    report(State::Unreachable, problem);
    nextAttempt = Clock::now() + milliseconds(retryDelay);
    retryDelay = std::min(retryDelay * 2, config.lastRetryMs);
}

void Publisher::Engine::handle(const LinkEvent &event)
{
    switch (event.kind) {
    case LinkEvent::Acknowledged:
        acknowledged(event.code);
        return;
    case LinkEvent::Connected:
        if (!session)
            return;
        if (event.code != 0) {
            failed(problemFromConnack(event.code));
            return;
        }
        connected = true;
        mosquitto_log_callback_set(mosq, nullptr);
        lostAt = QDateTime();
        retryDelay = config.firstRetryMs;
        report(State::Connected);
        int ignored;
        publish(statusTopic, QByteArrayLiteral("online"), true, &ignored);
        // Everything the broker has not acknowledged goes again, in order.
        send = acked;
        inFlight.clear();
        return;
    case LinkEvent::TlsFailed: {
        if (!session)
            return;
        QString text;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            text.swap(tlsText);
        }
        // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed": the words.
        text = text.section(QLatin1Char(':'), -1).trimmed();
        failed(problemFromCertificate(verifyError, text));
        return;
    }
    case LinkEvent::Disconnected: {
        if (!session)
            return;
        sessionEnded = true;
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
        return;
    }
    }
}

void Publisher::Engine::handle(const Command &command)
{
    RunItem *open = runOpen && !runs.empty() ? &runs.back() : nullptr;
    switch (command.kind) {
    case StartRun: {
        if (open) {
            open->ended = true;
            open->fileFinal = true;
        }
        RunItem run;
        run.header = command.payload;
        run.path = command.path;
        run.records = command.count;
        run.tailFirst = command.count;
        run.fileFinal = command.path.isEmpty();
        for (QByteArray &event : pendingEvents)
            run.events.emplace_back(0, std::move(event));
        pendingEvents.clear();
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
    const int rc =
        mosquitto_publish(mosq, mid, topic.constData(), payload.size(), payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return false;
    ++messagesSent;
    return true;
}

Publisher::Engine::Take Publisher::Engine::takeRecord(RunItem &run, QByteArray *payload, quint64 *skipTo)
{
    const quint64 seq = send.seq;
    if (seq >= run.tailFirst) {
        const Row &row = run.tail[size_t(seq - run.tailFirst)];
        appendDataPayload(payload, seq, row.fields.data(), row.count);
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
        if (appendDataPayload(payload, seq, run.batch.line(i), run.batch.length(i)))
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
        RunItem &run = runs[size_t(send.run - runBase)];
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
            payload = run.events[size_t(send.event)].second;
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
    const RunItem &run = runs[size_t(send.run - runBase)];
    return !send.header || send.event < run.events.size() || send.seq < run.records ||
           (run.ended && send.run - runBase + 1 < runs.size());
}

void Publisher::Engine::acknowledged(int mid)
{
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
    if (inFlight.empty() && connected)
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
    initialiseLibrary();
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
    push(StartRun, runPayload(run), recordingPath, recordsSoFar);
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

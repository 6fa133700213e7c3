// SPDX-License-Identifier: GPL-3.0-or-later
// The publisher against a real mosquitto on loopback: every record of a run arrives with the
// recording's text, also across a cut connection and a Reset during it; the last will after a
// kill and "offline" after a stop; TLS, passwords, and brokers that can't be reached, each
// failure named.
#include "data/recordingfile.h"
#include "publish/publisher.h"
#include "support/testbroker.h"
#include "support/testrig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <map>

namespace {

// A run as the acquisition window makes it: each record into the live recording and the
// publisher alike.
using RigRun = TestRig;

// The text of each value of a data payload after "seq", as the payload holds it (quotes dropped).
QList<QByteArray> valueTexts(const QByteArray &payload)
{
    QList<QByteArray> texts;
    const QRegularExpression member(QStringLiteral("\"(?:t|q\\d|T\\d)\":\"?([^,\"}]*)"));
    auto it = member.globalMatch(QString::fromLatin1(payload));
    while (it.hasNext())
        texts << it.next().captured(1).toLatin1();
    return texts;
}

// Every data message by its seq; fails on a seq whose repeats differ.
std::map<qint64, QByteArray> dataBySeq(const TestSubscriber &subscriber, const QByteArray &topic)
{
    std::map<qint64, QByteArray> bySeq;
    for (const QByteArray &payload : subscriber.payloads(topic)) {
        const qint64 seq = QJsonDocument::fromJson(payload).object().value("seq").toVariant().toLongLong();
        const auto [it, fresh] = bySeq.emplace(seq, payload);
        if (!fresh && it->second != payload)
            qWarning("seq %lld came twice with different values", seq);
    }
    return bySeq;
}

// Every line of the recording arrived as its seq, with the line's own texts.
bool arrivedWhole(const std::map<qint64, QByteArray> &bySeq, const QList<QByteArray> &lines, QString *why)
{
    for (int i = 0; i < lines.size(); ++i) {
        const auto it = bySeq.find(i);
        if (it == bySeq.end()) {
            *why = QStringLiteral("seq %1 of %2 is missing").arg(i).arg(lines.size());
            return false;
        }
        if (valueTexts(it->second) != lines[i].split(',')) {
            *why = QStringLiteral("seq %1: %2 against the line %3")
                       .arg(i)
                       .arg(QString::fromLatin1(it->second), QString::fromLatin1(lines[i]));
            return false;
        }
    }
    if (bySeq.size() != size_t(lines.size()) ||
        (!bySeq.empty() && bySeq.rbegin()->first != lines.size() - 1)) {
        *why = QStringLiteral("%1 seqs for %2 lines").arg(bySeq.size()).arg(lines.size());
        return false;
    }
    return true;
}

PublishSettings settingsFor(const QString &host, quint16 port, const QString &prefix)
{
    PublishSettings s;
    s.target.host = host;
    s.target.port = port;
    s.target.prefix = prefix;
    s.firstRetryMs = 200;
    s.lastRetryMs = 1000;
    return s;
}

QList<Publisher::State> states(const QSignalSpy &spy)
{
    QList<Publisher::State> list;
    for (const QList<QVariant> &args : spy)
        list << args.at(0).value<Publisher::Status>().state;
    return list;
}

Publisher::Status lastStatus(const QSignalSpy &spy)
{
    return spy.isEmpty() ? Publisher::Status() : spy.last().at(0).value<Publisher::Status>();
}

bool runOpenSsl(const QStringList &arguments, const QString &folder)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(' ')), p.readAll().constData());
        return false;
    }
    return true;
}

} // namespace

class TstPublisher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyRecordArrivesInOrder();
    void cutConnectionLosesNothing();
    void killedProgramShowsOffline();
    void tlsChecksTheBroker();
    void passwordRefusedAndTaken();
    void unreachableBrokersAreNamed();

private:
    // A CA and certificates signed by it, made in a folder.
    bool makeCertificate(const QString &name, const QString &altNames, int days);
    QTemporaryDir certificates;
};

void TstPublisher::initTestCase()
{
    qRegisterMetaType<Publisher::Status>();
    QVERIFY(
        runOpenSsl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Quellspan test CA"},
                   certificates.path()));
    QVERIFY(runOpenSsl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-keyout", "other-ca.key", "-out", "other-ca.pem", "-days", "2", "-subj",
                        "/CN=Another CA"},
                       certificates.path()));
}

bool TstPublisher::makeCertificate(const QString &name, const QString &altNames, int days)
{
    QFile ext(certificates.filePath(name + ".ext"));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=" + altNames.toUtf8() + "\n");
    ext.close();
    return runOpenSsl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                       "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name},
                      certificates.path()) &&
           runOpenSsl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                       "-CAcreateserial", "-out", name + ".pem", "-days", QString::number(days), "-extfile",
                       name + ".ext"},
                      certificates.path());
}

void TstPublisher::everyRecordArrivesInOrder()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestSubscriber subscriber(broker.port(), QStringLiteral("lab/rig1/#"));
    QVERIFY(subscriber.waitSubscribed());
    QTemporaryDir folder;

    auto publisher = std::make_unique<Publisher>(settingsFor("127.0.0.1", broker.port(), "lab/rig1"));
    QSignalSpy spy(publisher.get(), &Publisher::statusChanged);
    // The Start comes before the run's recording opens: it belongs to the run all the same.
    publisher->addEvent({0, RunEventKind::Start, 0, QStringLiteral("Start")});
    RigRun run(publisher.get(), folder.path(), 3, QDateTime::currentDateTime());
    run.add(300);
    publisher->addEvent({run.records * 0.0625 - 0.0625, RunEventKind::Mark, 1, QStringLiteral("Mark 1")});
    run.add(700);
    const QList<QByteArray> lines = run.lines();
    QTRY_COMPARE_WITH_TIMEOUT(publisher->progress().acknowledgedRecords, quint64(1000), 20000);
    QCOMPARE(states(spy).first(), Publisher::State::Connected);

    QString why;
    QVERIFY2(arrivedWhole(dataBySeq(subscriber, "lab/rig1/data"), lines, &why), qPrintable(why));
    // In order: the run, the Start, records 0..299, the mark, the rest; each once (no outage).
    const QVector<TestSubscriber::Message> all = subscriber.messages();
    QStringList order;
    for (const TestSubscriber::Message &m : all) {
        if (m.topic == "lab/rig1/data") {
            const qint64 seq =
                QJsonDocument::fromJson(m.payload).object().value("seq").toVariant().toLongLong();
            if (seq == 0 || seq == 299 || seq == 300 || seq == 999)
                order << QString::number(seq);
        } else if (m.topic != "lab/rig1/status") {
            order << QString::fromUtf8(m.topic.mid(9));
        }
    }
    QCOMPARE(order, QStringList({"run", "event", "0", "299", "event", "300", "999"}));
    QCOMPARE(subscriber.payloads("lab/rig1/data").size(), 1000);
    const QJsonObject header = QJsonDocument::fromJson(subscriber.payloads("lab/rig1/run").first()).object();
    QCOMPARE(header.value("recording").toString(), QFileInfo(run.recording.fileName()).fileName());
    QCOMPARE(subscriber.payloads("lab/rig1/status"), QList<QByteArray>{"online"});

    // A clean stop says "offline" before it goes, and a newcomer finds both retained.
    publisher->stop();
    QTRY_COMPARE(subscriber.payloads("lab/rig1/status").last(), QByteArray("offline"));
    QCOMPARE(states(spy).last(), Publisher::State::Stopped);
    TestSubscriber late(broker.port(), QStringLiteral("lab/rig1/#"));
    QVERIFY(late.waitSubscribed());
    QTRY_COMPARE(late.messages().size(), 2);
    for (const TestSubscriber::Message &m : late.messages())
        QVERIFY(m.retained &&
                (m.topic == "lab/rig1/run" || (m.topic == "lab/rig1/status" && m.payload == "offline")));
}

void TstPublisher::cutConnectionLosesNothing()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TcpRelay relay(broker.port());
    TestSubscriber subscriber(broker.port(), QStringLiteral("cut/#"));
    QVERIFY(subscriber.waitSubscribed());
    QTemporaryDir folder;

    PublishSettings settings = settingsFor("127.0.0.1", relay.port(), "cut");
    settings.tailRecords = 100; // most of what the outage holds back is read from the recording
    Publisher publisher(settings);
    QSignalSpy spy(&publisher, &Publisher::statusChanged);
    auto first = std::make_unique<RigRun>(&publisher, folder.path(), 2, QDateTime::currentDateTime());
    // About 2000 records a second, as fast as a catch-up must be.
    const auto feed = [&](RigRun &run, int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            run.add(20);
            QTest::qWait(10);
        }
    };
    feed(*first, 800);
    QTRY_VERIFY(publisher.progress().acknowledgedRecords > 0);
    relay.cut();
    QTRY_COMPARE(lastStatus(spy).state, Publisher::State::Unreachable);
    QCOMPARE(lastStatus(spy).problem.kind, LinkProblem::Lost);
    feed(*first, 1500);
    // A Reset during the outage: the old run's rest goes first, then the new run.
    publisher.endRun();
    const QList<QByteArray> firstLines = first->lines();
    publisher.addEvent(
        {0, RunEventKind::Reset, 0, QStringLiteral("Reset: a new run starts here, acquiring")});
    QTest::qWait(5); // a new second for the new recording's name is not needed: names never repeat
    RigRun second(&publisher, folder.path(), 1, QDateTime::currentDateTime().addSecs(1));
    feed(second, 1000);
    QVERIFY(relay.restore());
    feed(second, 500);
    const QList<QByteArray> secondLines = second.lines();
    QTRY_VERIFY_WITH_TIMEOUT(publisher.progress().acknowledgedRun == 1 &&
                                 publisher.progress().acknowledgedRecords == quint64(secondLines.size()),
                             30000);
    QCOMPARE(lastStatus(spy).state, Publisher::State::Connected);
    QCOMPARE(publisher.progress().recordsLost, quint64(0));

    // Both runs whole, each after its own header.
    std::map<qint64, QByteArray> firstData, secondData;
    int runsSeen = 0;
    for (const TestSubscriber::Message &m : subscriber.messages()) {
        if (m.topic == "cut/run")
            runsSeen = QJsonDocument::fromJson(m.payload).object().value("sensors").toInt();
        if (m.topic != "cut/data")
            continue;
        const qint64 seq = QJsonDocument::fromJson(m.payload).object().value("seq").toVariant().toLongLong();
        (runsSeen == 2 ? firstData : secondData).emplace(seq, m.payload);
    }
    QString why;
    QVERIFY2(arrivedWhole(firstData, firstLines, &why), qPrintable("first run: " + why));
    QVERIFY2(arrivedWhole(secondData, secondLines, &why), qPrintable("second run: " + why));
    QVERIFY(firstLines.size() > 3 * settings.tailRecords);
}

void TstPublisher::killedProgramShowsOffline()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestSubscriber subscriber(broker.port(), QStringLiteral("will/status"));
    QVERIFY(subscriber.waitSubscribed());
    QProcess helper;
    helper.start(QStringLiteral(PUBLISH_HELPER),
                 {QStringLiteral("mqtt://127.0.0.1:%1/will").arg(broker.port())});
    QVERIFY(helper.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += helper.readAllStandardOutput()).contains("connected"), 10000);
    QTRY_COMPARE(subscriber.payloads("will/status"), QList<QByteArray>{"online"});
    helper.kill(); // SIGKILL: no chance to say anything
    helper.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("will/status"), (QList<QByteArray>{"online", "offline"}),
                              10000);
}

void TstPublisher::tlsChecksTheBroker()
{
    QVERIFY(makeCertificate("good", "DNS:localhost,IP:127.0.0.1", 2));
    QVERIFY(makeCertificate("expired", "DNS:localhost,IP:127.0.0.1", -1));
    QVERIFY(makeCertificate("elsewhere", "DNS:broker.elsewhere.example", 2));
    struct Case
    {
        const char *certificate;
        const char *ca;
        LinkProblem::Kind expected; // None: connects
    };
    const Case cases[] = {
        {"good", "ca.pem", LinkProblem::None},
        {"good", "other-ca.pem", LinkProblem::TlsUnknownCa},
        {"expired", "ca.pem", LinkProblem::TlsExpired},
        {"elsewhere", "ca.pem", LinkProblem::TlsNameMismatch},
    };
    for (const Case &c : cases) {
        TestBroker::Options options;
        options.certFile = certificates.filePath(QString::fromLatin1(c.certificate) + ".pem");
        options.keyFile = certificates.filePath(QString::fromLatin1(c.certificate) + ".key");
        TestBroker broker(options);
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        TestSubscriber subscriber(broker.port(), QStringLiteral("tls/#"));
        QVERIFY(subscriber.waitSubscribed());
        PublishSettings settings = settingsFor("127.0.0.1", broker.tlsPort(), "tls");
        settings.target.tls = true;
        settings.target.caFile = certificates.filePath(QString::fromLatin1(c.ca));
        Publisher publisher(settings);
        QSignalSpy spy(&publisher, &Publisher::statusChanged);
        if (c.expected == LinkProblem::None) {
            QTRY_COMPARE_WITH_TIMEOUT(lastStatus(spy).state, Publisher::State::Connected, 10000);
            QTRY_COMPARE(subscriber.payloads("tls/status"), QList<QByteArray>{"online"});
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(lastStatus(spy).problem.kind, c.expected, 10000);
            QCOMPARE(lastStatus(spy).state, Publisher::State::Unreachable);
            QVERIFY(subscriber.payloads("tls/status").isEmpty());
        }
    }
    // A CA file that is not one is said at once.
    PublishSettings settings = settingsFor("localhost", 1, "tls");
    settings.target.tls = true;
    settings.target.caFile = certificates.filePath("good.ext");
    Publisher publisher(settings);
    QSignalSpy spy(&publisher, &Publisher::statusChanged);
    QTRY_COMPARE(lastStatus(spy).state, Publisher::State::Unreachable);
    QVERIFY(lastStatus(spy).problem.text("b").contains("good.ext"));
}

void TstPublisher::passwordRefusedAndTaken()
{
    TestBroker::Options options;
    options.user = QStringLiteral("rig");
    options.password = QStringLiteral("right horse");
    TestBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    PublishSettings settings = settingsFor("127.0.0.1", broker.port(), "auth");
    settings.target.user = QStringLiteral("rig");
    settings.password = "wrong horse";
    {
        Publisher publisher(settings);
        QSignalSpy spy(&publisher, &Publisher::statusChanged);
        QTRY_COMPARE(lastStatus(spy).state, Publisher::State::Unreachable);
        QCOMPARE(lastStatus(spy).problem.kind, LinkProblem::AuthRefused);
        // Retries with the same reason are not new changes.
        QTest::qWait(1500);
        QCOMPARE(spy.size(), 1);
    }
    settings.password = "right horse";
    Publisher publisher(settings);
    QSignalSpy spy(&publisher, &Publisher::statusChanged);
    QTRY_COMPARE(lastStatus(spy).state, Publisher::State::Connected);
}

void TstPublisher::unreachableBrokersAreNamed()
{
    struct Case
    {
        QString host;
        quint16 port;
        LinkProblem::Kind expected;
    };
    TcpRelay silent(0);
    const Case cases[] = {
        {QStringLiteral("127.0.0.1"), freeLoopbackPort(), LinkProblem::Refused},
        {QStringLiteral("no-such-broker.invalid"), 1883, LinkProblem::HostNotFound},
        {QStringLiteral("127.0.0.1"), silent.port(), LinkProblem::NoAnswer},
    };
    for (const Case &c : cases) {
        PublishSettings settings = settingsFor(c.host, c.port, "x");
        settings.answerTimeoutMs = 800;
        QElapsedTimer clock;
        clock.start();
        Publisher publisher(settings);
        QVERIFY(clock.elapsed() < 200); // nothing waits on the caller's thread
        QSignalSpy spy(&publisher, &Publisher::statusChanged);
        QTRY_COMPARE_WITH_TIMEOUT(lastStatus(spy).state, Publisher::State::Unreachable, 30000);
        QVERIFY2(lastStatus(spy).problem.kind == c.expected,
                 qPrintable(lastStatus(spy).problem.text(c.host)));
        QVERIFY(lastStatus(spy).since.isValid());
        clock.restart();
        publisher.stop();
        QVERIFY(clock.elapsed() < 3000);
    }
    QVERIFY(silent.connectionCount() >= 1);
}

QTEST_GUILESS_MAIN(TstPublisher)
#include "tst_publisher.moc"

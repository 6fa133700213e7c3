// SPDX-License-Identifier: GPL-3.0-or-later
// The remote window against a real mosquitto on loopback and a rig that records and publishes as
// the acquisition window does: opened in the middle of a run it ends with every record of the
// rig's recording, its marks and the same statistics; it follows on through outages of the rig's
// link and its own without a gap, two windows watch at once, a Reset is followed into a new view
// with the old run kept in the Runs menu; a URL that is not a rig, a rig that never answers and
// messages a rig does not send are said, never drawn.
#include "analysis/panels/statisticspanel.h"
#include "charts/chartfeeder.h"
#include "data/runmarks.h"
#include "publish/publisher.h"
#include "remote/ui/remotewindow.h"
#include "remote/ui/runview.h"
#include "support/statisticsreference.h"
#include "support/testbroker.h"
#include "support/testrig.h"

#include <QActionGroup>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace {

// Whether a view holds the rig's recording: every line as its record, the same doubles bit for
// bit (a NaN as a NaN), in order.
bool holdsRecording(const RunView *view, const QList<QByteArray> &lines, QString *why)
{
    const RecordedSeries series = view->series();
    if (series.time->size() != lines.size()) {
        *why = QStringLiteral("%1 records shown, %2 in the recording")
                   .arg(series.time->size())
                   .arg(lines.size());
        return false;
    }
    for (int row = 0; row < lines.size(); ++row) {
        const QList<QByteArray> fields = lines[row].split(',');
        for (int f = 0; f < fields.size(); ++f) {
            const double expected = fields[f].toDouble();
            const double got = f == 0 ? series.time->at(row) : series.channels[size_t(f - 1)]->at(row);
            if (std::memcmp(&expected, &got, sizeof got) != 0 && !(std::isnan(expected) && std::isnan(got))) {
                *why = QStringLiteral("record %1, field %2: %3 shown, %4 recorded")
                           .arg(row)
                           .arg(f)
                           .arg(got)
                           .arg(QString::fromLatin1(fields[f]));
                return false;
            }
        }
    }
    return true;
}

// The rig's recording once every record taken is in it.
QList<QByteArray> recordedLines(TestRig &rig)
{
    rig.recording.syncSoon();
    QElapsedTimer waited;
    waited.start();
    while (rig.csv().count('\n') < rig.records && waited.elapsed() < 5000)
        QTest::qWait(20);
    QList<QByteArray> lines = rig.csv().split('\n');
    lines.removeLast();
    return lines;
}

bool waitForRecording(RemoteWindow *window, TestRig &rig, int timeoutMs = 20000)
{
    const QList<QByteArray> lines = recordedLines(rig);
    QString why;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (window->views().size() >= 1 && holdsRecording(window->views().constFirst(), lines, &why))
            return true;
        QTest::qWait(100);
    }
    qWarning("%s", qPrintable(why));
    return false;
}

// A run's marks and events as a list to compare: each not deleted, with its time, kind, number and note.
QStringList markList(const RunMarks &marks)
{
    QStringList list;
    for (const RunMarks::Entry &e : marks.entries()) {
        if (!e.deleted)
            list << QStringLiteral("%1 %2 %3 %4")
                        .arg(e.event.time, 0, 'g', 17)
                        .arg(int(e.event.kind))
                        .arg(e.event.markNumber)
                        .arg(e.event.note);
    }
    return list;
}

QString itemText(RemoteWindow *window, const char *name)
{
    auto *label = window->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

} // namespace

class TstRemoteWindow : public QObject
{
    Q_OBJECT

private slots:
    void openedMidRunShowsTheWholeRun();
    void outagesAreFollowedWithoutAGap();
    void twoWindowsAndANewRun();
    void notARigAndARigThatNeverAnswers();
    void hostileMessagesAreNeverDrawn();
};

void TstRemoteWindow::openedMidRunShowsTheWholeRun()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir rigFolder;
    Publisher publisher(rigSettings(broker.port(), QStringLiteral("lab/rig")));
    TestRig rig(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime().addSecs(-600));
    rig.marks().addEvent(0, RunEventKind::Start, QStringLiteral("Start"));
    rig.add(4000);
    rig.marks().addMark(rig.lastTime());
    rig.marks().setNote(1, QStringLiteral("heater on"));
    rig.marks().addEvent(rig.lastTime(), RunEventKind::Pause, QStringLiteral("Pause"));
    QTRY_COMPARE_WITH_TIMEOUT(publisher.progress().acknowledgedRecords, quint64(4000), 20000);

    auto *window = new RemoteWindow(targetAt(broker.port(), QStringLiteral("lab/rig")), QByteArray());
    window->show();
    rig.marks().addEvent(rig.lastTime(), RunEventKind::Start, QStringLiteral("Start"));
    feed(rig, 300);
    rig.marks().addMark(rig.lastTime());
    feed(rig, 100);
    QVERIFY(waitForRecording(window, rig));
    RunView *view = window->shownView();
    QVERIFY(view);
    QTRY_COMPARE(markList(*view->marks()), markList(rig.marks()));
    QVERIFY(view->notes().isEmpty());
    // The statistics of the whole run, as a plain reference computes them from the recording.
    view->statisticsPanel()->show();
    view->statisticsPanel()->setViewRange(-1, 1e9);
    QTRY_COMPARE(view->statisticsPanel()->shownStatistics().rows(), 4400);
    const StretchStatistics &shown = view->statisticsPanel()->shownStatistics();
    for (int c = 0; c < 4; ++c) {
        const ChannelStatistics expected = referenceStatistics(*view->series().channels[size_t(c)], 0, 4400);
        const ChannelStatistics &got = shown.channels[c];
        QCOMPARE(got.samples, expected.samples);
        QVERIFY(closeToReference(got.mean, expected.mean, expected.mean));
        QVERIFY(closeToReference(got.sd, expected.sd, expected.mean));
        QCOMPARE(got.min, expected.min);
        QCOMPARE(got.max, expected.max);
    }
    // The status bar: the run's start, the rig's state, the link.
    QVERIFY(itemText(window, "remoteRunStart").startsWith("Run started"));
    QTRY_COMPARE(itemText(window, "remoteRigState"), QStringLiteral("Rig online: acquiring"));
    QCOMPARE(itemText(window, "remoteLinkState"), QStringLiteral("Broker: connected"));
    QVERIFY(!view->latestText(2).isEmpty());
    delete window;
}

void TstRemoteWindow::outagesAreFollowedWithoutAGap()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TcpRelay rigRelay(broker.port()), viewerRelay(broker.port());
    QTemporaryDir rigFolder;
    Publisher publisher(rigSettings(rigRelay.port(), QStringLiteral("lab/rig")));
    TestRig rig(&publisher, rigFolder.path(), 1, QDateTime::currentDateTime());
    rig.add(500);
    auto *window = new RemoteWindow(targetAt(viewerRelay.port(), QStringLiteral("lab/rig")), QByteArray());
    feed(rig, 200);
    // The rig's link is cut: the broker says it is offline (its last will), the run goes on.
    rigRelay.cut();
    QTRY_VERIFY_WITH_TIMEOUT(itemText(window, "remoteRigState").startsWith("Rig offline since"), 30000);
    rig.marks().addMark(rig.lastTime());
    feed(rig, 300, 20);
    QVERIFY(rigRelay.restore());
    QTRY_VERIFY_WITH_TIMEOUT(itemText(window, "remoteRigState").startsWith("Rig online"), 20000);
    feed(rig, 200);
    // Then the window's own link.
    viewerRelay.cut();
    QTRY_VERIFY_WITH_TIMEOUT(itemText(window, "remoteLinkState").startsWith("Broker unreachable"), 20000);
    feed(rig, 300, 20);
    QVERIFY(viewerRelay.restore());
    feed(rig, 100);
    QVERIFY(waitForRecording(window, rig, 30000));
    QVERIFY2(window->shownView()->notes().isEmpty(), qPrintable(window->shownView()->notes().join('\n')));
    QCOMPARE(markList(*window->shownView()->marks()), markList(rig.marks()));
    delete window;
}

void TstRemoteWindow::twoWindowsAndANewRun()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir rigFolder;
    Publisher publisher(rigSettings(broker.port(), QStringLiteral("lab/rig")));
    auto first = std::make_unique<TestRig>(&publisher, rigFolder.path(), 3, QDateTime::currentDateTime());
    first->add(2000);
    auto *one = new RemoteWindow(targetAt(broker.port(), QStringLiteral("lab/rig")), QByteArray());
    auto *two = new RemoteWindow(targetAt(broker.port(), QStringLiteral("lab/rig")), QByteArray());
    feed(*first, 100);
    QVERIFY(waitForRecording(one, *first));
    QVERIFY(waitForRecording(two, *first));
    // A Reset at the rig: the next run in a view of its own, the old one kept in the Runs menu.
    first->end();
    TestRig second(&publisher, rigFolder.path(), 1, QDateTime::currentDateTime().addSecs(2));
    second.marks().addEvent(0, RunEventKind::Reset,
                            QStringLiteral("Reset: a new run starts here, acquiring"));
    feed(second, 150);
    for (RemoteWindow *window : {one, two}) {
        QTRY_COMPARE(window->views().size(), 2);
        QCOMPARE(window->shownView(), window->views().at(1));
        QTRY_COMPARE(window->shownView()->records(), 150);
        QCOMPARE(window->shownView()->run().sensorCount, 1);
        QCOMPARE(window->views().at(0)->records(), 2100);
        QCOMPARE(window->findChild<QMenu *>("runsMenu")->actions().size(), 2);
        QTRY_VERIFY(window->views().at(0)->notes().join(' ').contains("ended at the rig"));
    }
    QCOMPARE(publisher.progress().historyAnswers >= 2, true);
    delete one;
    delete two;
}

void TstRemoteWindow::notARigAndARigThatNeverAnswers()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    auto *nothing = new RemoteWindow(targetAt(broker.port(), QStringLiteral("lab/nobody")), QByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(nothing->waitingText().contains("is not the prefix of a rig"), 15000);
    delete nothing;

    // Something that publishes like a rig from its 100th record on and never answers requests.
    RigFollower::Settings impatient;
    impatient.answerTimeoutMs = 500;
    impatient.tries = 2;
    RemoteWindow::setFollowerSettings(impatient);
    const QByteArray start = "2026-12-07T13:05:09.250Z";
    QVERIFY(publishAsStranger(broker.port(), "lab/mute/run",
                              "{\"start\":\"" + start + "\",\"sensors\":1,\"program\":\"x\"}", true));
    QVERIFY(publishAsStranger(broker.port(), "lab/mute/status", "online", true));
    auto *window = new RemoteWindow(targetAt(broker.port(), QStringLiteral("lab/mute")), QByteArray());
    QTRY_COMPARE(window->views().size(), 1);
    for (int seq = 100; seq < 110; ++seq) {
        QVERIFY(publishAsStranger(broker.port(), "lab/mute/data",
                                  "{\"seq\":" + QByteArray::number(seq) + ",\"run\":\"" + start +
                                      "\",\"t\":" + QByteArray::number(seq) + ",\"q1\":1.5,\"T1\":20}"));
    }
    // The first hundred can't be had: said above the charts, and the records after them shown.
    QTRY_COMPARE_WITH_TIMEOUT(window->shownView()->records(), 10, 10000);
    QVERIFY(window->shownView()->notes().join(' ').contains("Records 0 to 99 of the run are missing"));
    QCOMPARE(window->shownView()->series().time->first(), 100.0);
    RemoteWindow::setFollowerSettings(RigFollower::Settings());
    delete window;
}

void TstRemoteWindow::hostileMessagesAreNeverDrawn()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTemporaryDir rigFolder;
    Publisher publisher(rigSettings(broker.port(), QStringLiteral("lab/rig")));
    TestRig rig(&publisher, rigFolder.path(), 2, QDateTime::currentDateTime());
    rig.add(200);
    auto *window = new RemoteWindow(targetAt(broker.port(), QStringLiteral("lab/rig")), QByteArray());
    QVERIFY(waitForRecording(window, rig));
    const QByteArray id = window->shownView()->run().id;
    const QByteArray next = QByteArray::number(rig.records);
    for (const QByteArray &payload :
         {QByteArray("{\"seq\":" + next + ",\"run\":\"" + id + "\",\"t\":99,\"q1\":\"nan\",\"T1\":2}"),
          QByteArray("{\"seq\":" + next + ",\"run\":\"" + id +
                     "\",\"t\":-nan,\"q1\":1,\"T1\":2,\"q2\":3,\"T2\":4}"),
          QByteArray("{\"seq\":" + next + ",\"run\":\"" + id +
                     "\",\"t\":\"inf\",\"q1\":1,\"T1\":2,\"q2\":3,\"T2\":4}"),
          QByteArray("{\"seq\":3,\"run\":\"" + id +
                     "\",\"t\":0.1875,\"q1\":1e300,\"T1\":2,\"q2\":3,\"T2\":4}"),
          QByteArray("[1,2,3]"), QByteArray(100000, 'x')})
        QVERIFY(publishAsStranger(broker.port(), "lab/rig/data", payload));
    feed(rig, 100);
    QVERIFY(waitForRecording(window, rig));
    QTRY_VERIFY(window->follower()->refusedMessages() >= 5);
    delete window;
}

QTEST_MAIN(TstRemoteWindow)
#include "tst_remotewindow.moc"

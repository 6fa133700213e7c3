// SPDX-License-Identifier: GPL-3.0-or-later
// What the acquisition window shows of the run's state, on a unit on a pseudo-terminal: the state
// item through start, pause, silence, unplug and replug (each state in words and on a colour of
// its own), the readouts disabled and the elapsed time running on while the unit is away, each
// moment told once, and every status message of both windows, at their own sizes, whole or cut
// short with its text at hand.

#include "acquisition/runstate/runstate.h"
#include "acquisition/runstate/runstateitem.h"
#include "support/acquisitionrig.h"
#include "support/messagecheck.h"

#include <QGraphicsEffect>
#include <QLCDNumber>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include <memory>

class TestWindow2Status : public QObject
{
    Q_OBJECT

private slots:
    void stateItemFollowsTheRunAndTheUnit();
    void noSensorCountIsNotAcquiring();
};

void TestWindow2Status::stateItemFollowsTheRunAndTheUnit()
{
    AcquisitionRig rig(1);
    rig.panel->portWatcher()->setSettleTime(100);
    MessageCheck windowMessages(rig.window->statusBar());
    MessageCheck panelMessages(rig.panel->statusBar());
    QSignalSpy moments(rig.window->runState(), &RunState::happened);
    auto *item = rig.window->findChild<RunStateItem *>(RunStateItem::itemName());
    QVERIFY(item);
    QList<QLCDNumber *> readouts;
    for (int k = 1; k <= 8; ++k)
        readouts << rig.widget<QLCDNumber>(QByteArray("LCD" + QByteArray::number(k)).constData());
    QLCDNumber *time = rig.widget<QLCDNumber>("timeLCD");

    // Each state has its own words and its own colour.
    QSet<QRgb> colours;
    auto expectState = [&](const QString &words) {
        QCOMPARE(item->text(), words);
        colours.insert(item->palette().color(QPalette::Window).rgb());
    };
    expectState(QStringLiteral("Not started"));
    rig.start();
    expectState(QStringLiteral("Acquiring"));
    rig.send("1,2\n");
    QTRY_COMPARE(rig.records(), 1);
    rig.pause();
    expectState(QStringLiteral("Paused"));
    rig.start();
    QCOMPARE(item->text(), QStringLiteral("Acquiring"));

    // Silent: said, and its end said in its place.
    QTRY_COMPARE_WITH_TIMEOUT(item->text(), QStringLiteral("Unit silent"),
                              PortWatcher::SilenceLimitMs + 3000);
    expectState(item->text());
    QVERIFY(item->font().bold());
    rig.send("3,4\n");
    QTRY_COMPARE(item->text(), QStringLiteral("Acquiring"));
    QVERIFY(!item->font().bold());
    QVERIFY(
        rig.window->statusBar()->currentMessage().startsWith(QStringLiteral("The unit is sending again")));

    // Away: the last values shown disabled and faded, the elapsed time running on.
    QTRY_VERIFY(readouts.first()->value() == 3.0);
    rig.pty.closeMaster();
    rig.pty.closeSlave();
    QTRY_VERIFY_WITH_TIMEOUT(item->text().startsWith(QStringLiteral("Unit away (since ")), 3000);
    QCOMPARE(item->text(),
             QStringLiteral("Unit away (since %1)")
                 .arg(rig.window->runState()->awaySince().toString(QStringLiteral("HH:mm:ss"))));
    expectState(item->text());
    for (QLCDNumber *readout : readouts) {
        QVERIFY(!readout->isEnabled());
        QVERIFY(readout->graphicsEffect());
    }
    QCOMPARE(readouts.first()->value(), 3.0);
    QVERIFY(time->isEnabled());
    const double timeWhenLost = time->value();
    QTRY_VERIFY(time->value() >= timeWhenLost + 0.5);

    // Back on another line: live again.
    PseudoTerminal replugged;
    const QString path = replugged.slavePath();
    setPortListSource(
        [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("test unit"))}; });
    QTRY_COMPARE_WITH_TIMEOUT(item->text(), QStringLiteral("Acquiring"), 5000);
    setPortListSource(nullptr);
    for (QLCDNumber *readout : readouts) {
        QVERIFY(readout->isEnabled());
        QVERIFY(!readout->graphicsEffect());
    }
    QVERIFY(rig.window->statusBar()->currentMessage().startsWith(
        QStringLiteral("The measuring unit is back after")));
    QCOMPARE(colours.size(), 5);

    // Each moment once, in order, with the run's time where its clock runs.
    const QList<RunState::Moment::Kind> expected = {
        RunState::Moment::Started,    RunState::Moment::Paused,      RunState::Moment::Started,
        RunState::Moment::UnitSilent, RunState::Moment::UnitSending, RunState::Moment::UnitLost,
        RunState::Moment::UnitBack};
    QCOMPARE(moments.size(), expected.size());
    double lastRunTime = -1;
    for (int i = 0; i < moments.size(); ++i) {
        const auto moment = moments[i].first().value<RunState::Moment>();
        QCOMPARE(moment.kind, expected[i]);
        QVERIFY(moment.at.isValid());
        QVERIFY(moment.runTime >= lastRunTime - 1e-9 || moment.kind == RunState::Moment::UnitSilent);
        lastRunTime = moment.runTime;
    }
    QVERIFY(moments[6].first().value<RunState::Moment>().lastedMs > 0);

    QVERIFY2(windowMessages.problems().isEmpty(), qPrintable(windowMessages.problems().join('\n')));
    QVERIFY2(panelMessages.problems().isEmpty(), qPrintable(panelMessages.problems().join('\n')));
    QVERIFY(windowMessages.seen().size() >= 4);
    QVERIFY(panelMessages.seen().size() >= 2);
}

void TestWindow2Status::noSensorCountIsNotAcquiring()
{
    // The window opened before the count was sent: Start records nothing, and the state says why
    // instead of a green "Acquiring".
    AcquisitionRig rig(0);
    auto *item = rig.window->findChild<RunStateItem *>(RunStateItem::itemName());
    QCOMPARE(item->text(), QStringLiteral("No sensor count sent"));
    rig.start();
    QCOMPARE(item->text(), QStringLiteral("No sensor count sent"));
    QVERIFY(item->font().bold());
    QVERIFY(item->palette().color(QPalette::Window) != RunStateItem::background(RunState::State::Acquiring));
    QVERIFY(rig.window->statusBar()->currentMessage().contains(QStringLiteral("nothing can be recorded")));
    rig.send("1,2\n");
    QTest::qWait(300);
    QCOMPARE(rig.records(), 0);
    QCOMPARE(item->text(), QStringLiteral("No sensor count sent"));
}

QTEST_MAIN(TestWindow2Status)
#include "tst_window2status.moc"

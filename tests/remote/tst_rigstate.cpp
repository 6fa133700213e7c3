// SPDX-License-Identifier: GPL-3.0-or-later
// What the remote window's status bar says the rig is doing, from its status and its run's events
// and records, with the moments on the rig's clock (the run's start plus the event's time).
#include "remote/rigstate.h"

#include <QtTest>

#include <limits>

class TstRigState : public QObject
{
    Q_OBJECT

private slots:
    void followsTheRunsEvents();
    void offlineSinceWhenItWasHeard();
    void timesNoRunReachesHaveNoMoment();
};

namespace {

const QDateTime Start = QDateTime(QDate(2026, 12, 7), QTime(14, 0, 0), Qt::LocalTime);

RunEvent at(double t, RunEventKind kind)
{
    return RunEvent{t, kind, 0, QString()};
}

} // namespace

void TstRigState::followsTheRunsEvents()
{
    RigState state;
    QCOMPARE(state.text(), QStringLiteral("Rig: waiting for its state"));
    state.setOnline(true, QDateTime());
    QCOMPARE(state.text(), QStringLiteral("Rig online"));
    QVERIFY(state.record(1.5, Start));
    QCOMPARE(state.text(), QStringLiteral("Rig online: acquiring"));
    QVERIFY(!state.record(2.5, Start)); // nothing new: the window need not redraw its item
    state.event(at(427.25, RunEventKind::Pause), Start);
    QCOMPARE(state.text(), QStringLiteral("Rig online: paused since 14:07:07"));
    // The unit goes while paused, and comes back to a paused run.
    state.event(at(3600, RunEventKind::UnitLost), Start);
    QCOMPARE(state.text(), QStringLiteral("Rig online: unit away since 15:00:00"));
    QCOMPARE(state.activity(), RigState::Activity::UnitAway);
    state.event(at(3700, RunEventKind::UnitBack), Start);
    QCOMPARE(state.activity(), RigState::Activity::Paused);
    QCOMPARE(state.activitySince(), Start.addSecs(3700));
    state.event(at(3800, RunEventKind::Start), Start);
    QCOMPARE(state.text(), QStringLiteral("Rig online: acquiring"));
    // The unit silent, then records again: acquiring.
    state.event(at(3900, RunEventKind::UnitSilent), Start);
    QCOMPARE(state.text(), QStringLiteral("Rig online: unit silent since 15:05:00"));
    QVERIFY(state.record(3905, Start));
    QCOMPARE(state.activity(), RigState::Activity::Acquiring);
}

void TstRigState::offlineSinceWhenItWasHeard()
{
    RigState state;
    state.setOnline(true, QDateTime());
    state.record(600, Start);
    state.setOnline(false, QDateTime(QDate(2026, 12, 7), QTime(16, 45, 30), Qt::LocalTime));
    QCOMPARE(state.text(), QStringLiteral("Rig offline since 16:45"));
    QCOMPARE(state.offlineSince().time(), QTime(16, 45, 30));
    // Said offline by the broker before this window listened: since its last record at best.
    RigState late;
    late.record(600, Start);
    late.setOnline(false, QDateTime());
    QCOMPARE(late.text(), QStringLiteral("Rig offline since 14:10"));
    late.setOnline(true, QDateTime::currentDateTime());
    QVERIFY(!late.offlineSince().isValid());
    QVERIFY(late.text().startsWith(QStringLiteral("Rig online")));
}

void TstRigState::timesNoRunReachesHaveNoMoment()
{
    // Times a message may hold (any finite number): never an overflow, never a made-up moment.
    for (double t : {1e300, -1e300, 9.3e15, std::numeric_limits<double>::max()}) {
        RigState state;
        state.setOnline(true, QDateTime());
        state.event(at(t, RunEventKind::Pause), Start);
        QCOMPARE(state.activity(), RigState::Activity::Paused);
        QVERIFY(!state.activitySince().isValid());
        state.record(t, Start);
        state.setOnline(false, QDateTime());
        QCOMPARE(state.text(), QStringLiteral("Rig offline"));
    }
}

QTEST_GUILESS_MAIN(TstRigState)
#include "tst_rigstate.moc"

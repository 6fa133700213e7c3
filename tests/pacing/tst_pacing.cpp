// SPDX-License-Identifier: GPL-3.0-or-later
// The pacer (at most every N ms, however often asked) and work in slices of the event loop's
// turns, on the event loop itself: how many times the work runs, never sooner than its interval,
// and never inside the call that asks for it.

#include "pacing/pacer.h"
#include "pacing/slicedwork.h"

#include <QElapsedTimer>
#include <QtTest>

#include <vector>

class TestPacing : public QObject
{
    Q_OBJECT

private slots:
    void manyRequestsMakeOneRunAfterTheInterval();
    void dueAtOnceBeforeTheFirstRunAndAfterTheInterval();
    void cancelDropsTheWaitingRequest();
    void aLongerIntervalCountsFromTheNextRequest();
    void slicesGoOnAtTheNextTurnsUntilComplete();
    void aSliceTakesStepsUntilItsTimeIsUp();
    void cancelledSlicesStop();
};

void TestPacing::manyRequestsMakeOneRunAfterTheInterval()
{
    constexpr int Interval = 200;
    std::vector<qint64> runs;
    QElapsedTimer clock;
    Pacer *self = nullptr;
    Pacer pacer(
        Interval,
        [&] {
            runs.push_back(clock.elapsed());
            self->done();
        },
        Qt::PreciseTimer);
    self = &pacer;
    clock.start();

    // Never done before: the first request runs at the event loop's next turn, not inside it.
    pacer.request();
    QVERIFY(runs.empty());
    QVERIFY(pacer.isPending());
    QTRY_COMPARE_WITH_TIMEOUT(runs.size(), size_t(1), 1000);

    // Asked again and again meanwhile: once more, the interval after the first run. (Asked for a
    // quarter of the interval by the clock, not a count of waits: on a busy machine twenty short
    // waits can outlast the interval, and a request after the second run rightly makes a third.)
    QElapsedTimer asking;
    asking.start();
    while (asking.elapsed() < Interval / 4) {
        pacer.request();
        QTest::qWait(5);
    }
    QTRY_COMPARE_WITH_TIMEOUT(runs.size(), size_t(2), 2000);
    // (Less 5 ms for the timer's rounding.)
    QVERIFY2(runs[1] - runs[0] >= Interval - 5, qPrintable(QString::number(runs[1] - runs[0])));
    QTest::qWait(Interval + 100);
    QCOMPARE(runs.size(), size_t(2));
    QVERIFY(!pacer.isPending());
}

void TestPacing::dueAtOnceBeforeTheFirstRunAndAfterTheInterval()
{
    Pacer pacer(60, [] {});
    QVERIFY(pacer.isDue());
    pacer.done();
    QVERIFY(!pacer.isDue());
    QTRY_VERIFY_WITH_TIMEOUT(pacer.isDue(), 1000);
    QVERIFY(!pacer.isPending()); // asking is the owner's choice
}

void TestPacing::cancelDropsTheWaitingRequest()
{
    int runs = 0;
    Pacer pacer(30, [&] { ++runs; });
    pacer.done();
    pacer.request();
    pacer.cancel();
    QVERIFY(!pacer.isPending());
    QTest::qWait(150);
    QCOMPARE(runs, 0);
}

void TestPacing::aLongerIntervalCountsFromTheNextRequest()
{
    int runs = 0;
    Pacer pacer(
        10, [&] { ++runs; }, Qt::PreciseTimer);
    pacer.done();
    pacer.setInterval(400);
    QCOMPARE(pacer.interval(), qint64(400));
    pacer.request();
    QTest::qWait(150);
    QCOMPARE(runs, 0);
    QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 2000);
}

void TestPacing::slicesGoOnAtTheNextTurnsUntilComplete()
{
    // Ten steps of work, one step a slice: ten turns of the event loop, each slice asking for the
    // next, and nothing left asked for once complete.
    int steps = 0;
    int slicesRun = 0;
    bool finished = false;
    SlicedWork *self = nullptr;
    const auto slice = [&] {
        ++slicesRun;
        finished = self->runSlice([&] { return ++steps >= 10; });
    };
    SlicedWork work(slice, 0);
    self = &work;

    slice();
    QCOMPARE(steps, 1);
    QVERIFY(!finished);
    QVERIFY(work.isPending());
    QTRY_VERIFY_WITH_TIMEOUT(finished, 2000);
    QCOMPARE(steps, 10);
    QCOMPARE(slicesRun, 10);
    QVERIFY(!work.isPending());

    // Work that is complete already takes one look and asks for nothing.
    QVERIFY(work.runSlice([] { return true; }));
    QVERIFY(!work.isPending());
}

void TestPacing::aSliceTakesStepsUntilItsTimeIsUp()
{
    SlicedWork work([] {}, 40);
    int steps = 0;
    QElapsedTimer clock;
    clock.start();
    const bool complete = work.runSlice([&] {
        ++steps;
        QThread::msleep(5);
        return false;
    });
    const qint64 took = clock.elapsed();
    QVERIFY(!complete);
    QVERIFY(work.isPending());
    // Several steps, ended by the slice's time (not by the first step, not run on forever).
    QVERIFY2(steps >= 2 && took >= 40, qPrintable(QStringLiteral("%1 steps, %2 ms").arg(steps).arg(took)));
    QVERIFY2(steps <= 9, qPrintable(QString::number(steps)));
    work.cancel();
}

void TestPacing::cancelledSlicesStop()
{
    int slicesRun = 0;
    SlicedWork *self = nullptr;
    SlicedWork work([&] { ++slicesRun; }, 0);
    self = &work;
    QVERIFY(!self->runSlice([] { return false; }));
    work.cancel();
    QTest::qWait(50);
    QCOMPARE(slicesRun, 0);
}

QTEST_GUILESS_MAIN(TestPacing)
#include "tst_pacing.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic method on a worker thread: requests made while one runs wait, and only the latest of
// them runs next; forget() makes an analysis still running count for nothing. The worker pool is
// held busy by the test, so that "while one runs" is certain, not a matter of timing.

#include "analysis/panels/dynamicrunner.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

#include <cmath>

namespace {

// n hourly means of a wall that answers at once, R = 2.
std::vector<DynamicInterval> steady(int n)
{
    std::vector<DynamicInterval> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        DynamicInterval &v = out[size_t(i)];
        v.difference = 20 + std::sin(i / 3.0);
        v.mean = 20 - v.difference / 2; // T_si steady at 20, T_se moving
        v.q = v.difference / 2;
        v.records = 60;
    }
    return out;
}

} // namespace

class TestDynamicRunner : public QObject
{
    Q_OBJECT

private slots:
    void latestRequestWinsAndForgetDrops();
};

void TestDynamicRunner::latestRequestWinsAndForgetDrops()
{
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(1);
    QSemaphore hold, holding;
    auto occupy = [&] {
        return QtConcurrent::run([&] {
            holding.release();
            hold.acquire();
        });
    };

    DynamicRunner runner;
    QSignalSpy finished(&runner, &DynamicRunner::finished);
    QFuture<void> busy = occupy();
    holding.acquire(); // the only worker is taken
    runner.request(steady(20), 3600, 0.13, 0.04);
    runner.request(steady(30), 3600, 0.13, 0.04);
    runner.request(steady(40), 3600, 0.13, 0.04);
    QVERIFY(runner.isBusy());
    hold.release();
    busy.waitForFinished();
    QTRY_VERIFY(!runner.isBusy());
    QCOMPARE(runner.analysesRun(), 2); // the first, then the last; the one between never ran
    QCOMPARE(finished.count(), 2);
    QVERIFY(runner.latest());
    QCOMPARE(runner.latest()->intervals, 40);
    QVERIFY(runner.latest()->r && std::fabs(*runner.latest()->r - 2) < 1e-9);

    // Forgotten while it waits for the worker: it runs, but nothing of it is kept or told.
    busy = occupy();
    holding.acquire();
    runner.request(steady(50), 3600, 0.13, 0.04);
    runner.forget();
    QVERIFY(!runner.latest());
    hold.release();
    busy.waitForFinished();
    QTRY_VERIFY(!runner.isBusy());
    QCOMPARE(runner.analysesRun(), 3);
    QCOMPARE(finished.count(), 2);
    QVERIFY(!runner.latest());
}

QTEST_GUILESS_MAIN(TestDynamicRunner)
#include "tst_dynamicrunner.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Saving a run as CSV while records keep coming: the event loop goes on during the save, the file
// holds the samples from before it, and appends that would move the series wait for the file.

#include "acquisition/runsafety/backgroundsave.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cmath>

class TestBackgroundSave : public QObject
{
    Q_OBJECT

private slots:
    void recordsKeepComingWhileTheFileIsWritten_data();
    void recordsKeepComingWhileTheFileIsWritten();
    void aFailedSaveSaysWhy();
};

void TestBackgroundSave::recordsKeepComingWhileTheFileIsWritten_data()
{
    QTest::addColumn<int>("room");    // samples that fit before the series must grow
    QTest::addColumn<bool>("shared"); // another container shares the series' data
    QTest::newRow("room to spare") << (1 << 20) << false;
    QTest::newRow("the series fill up during the save") << 2 << false;
    QTest::newRow("a copy shares the series") << (1 << 20) << true;
}

void TestBackgroundSave::recordsKeepComingWhileTheFileIsWritten()
{
    QFETCH(int, room);
    QFETCH(bool, shared);
    // Enough rows that writing them takes many turns of the event loop.
    constexpr int Rows = 600000;
    QVector<double> time, flux, temperature;
    for (QVector<double> *s : {&time, &flux, &temperature})
        s->reserve(Rows + room);
    for (int i = 0; i < Rows; ++i) {
        time.append(0.01 * i);
        flux.append(std::sin(0.001 * i) * 1e3);
        temperature.append(20 + 0.001 * (i % 977));
    }
    const QVector<double> copy = shared ? time : QVector<double>();
    // One sensor: the other channels are empty series, as in the window.
    std::array<QVector<double>, 6> absent;
    RecordedSeries series;
    series.time = &time;
    series.channels[0] = &flux;
    series.channels[1] = &temperature;
    for (size_t k = 0; k < absent.size(); ++k)
        series.channels[2 + k] = &absent[k];
    QBuffer expected;
    QVERIFY(expected.open(QIODevice::WriteOnly));
    QVERIFY(writeCsv(&expected, series, 1));

    // The run going on: a record at every turn of the event loop, appended as the window does.
    BackgroundSave save;
    int arrived = 0, waited = 0, movedAfterWait = 0;
    QTimer unit;
    unit.setInterval(0);
    connect(&unit, &QTimer::timeout, [&] {
        if (!save.hasRoomForOneMore()) {
            save.wait();
            ++waited;
        }
        const double *before = time.constData();
        time.append(0.01 * (Rows + arrived));
        flux.append(-1);
        temperature.append(-2);
        movedAfterWait += before != time.constData();
        ++arrived;
    });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    QString error;
    unit.start();
    QVERIFY2(save.save(path, series, 1, &error), qPrintable(error));
    unit.stop();
    const int duringSave = arrived;

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == expected.data());
    QVERIFY(!save.isRunning());
    if (shared) {
        // Written on this thread: the next append copies the series, and nothing runs meanwhile.
        QCOMPARE(duringSave, 0);
    } else {
        QVERIFY2(duringSave > 2, qPrintable(QString::number(duringSave)));
        // Only the append that found the series full waited, and only that one moved them.
        QCOMPARE(waited, room == 2 ? 1 : 0);
        QCOMPARE(movedAfterWait, room == 2 ? 1 : 0);
    }
    // What came during the save is all there, behind the saved rows.
    QCOMPARE(time.size(), Rows + duringSave);
    QCOMPARE(flux.size(), time.size());
    QCOMPARE(temperature.size(), time.size());
    for (int i = Rows; i < time.size(); ++i) {
        if (time[i] != 0.01 * i || flux[i] != -1 || temperature[i] != -2)
            QFAIL(qPrintable(QStringLiteral("row %1 changed").arg(i)));
    }
}

void TestBackgroundSave::aFailedSaveSaysWhy()
{
    QVector<double> time{1, 2}, flux{3, 4}, temperature{5, 6};
    RecordedSeries series;
    series.time = &time;
    series.channels[0] = &flux;
    series.channels[1] = &temperature;
    QTemporaryDir dir;
    BackgroundSave save;
    QString error;
    QVERIFY(!save.save(dir.filePath(QStringLiteral("no-such-folder/run.csv")), series, 1, &error));
    QVERIFY2(error.startsWith(QStringLiteral("The file could not be created")), qPrintable(error));
    QVERIFY(!save.isRunning());
    // The next save goes ahead as usual.
    QVERIFY(save.save(dir.filePath(QStringLiteral("run.csv")), series, 1, &error));
    QFile file(dir.filePath(QStringLiteral("run.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("1,3,5\n2,4,6\n"));
}

QTEST_MAIN(TestBackgroundSave)
#include "tst_backgroundsave.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window taking records from a unit on a real pseudo-terminal.
#include "acquisition/runsafety/liverecorder.h"
#include "support/acquisitionrig.h"
#include "support/streamcheck.h"

#include <QLCDNumber>
#include <QSerialPort>
#include <QStatusBar>
#include <QtTest>

class TestWindow2Reader : public QObject
{
    Q_OBJECT

private:
    static double lcd(const AcquisitionRig &rig, int k)
    {
        const QByteArray name = "LCD" + QByteArray::number(k);
        return rig.widget<QLCDNumber>(name.constData())->value();
    }

private slots:
    void oneSensorRecord()
    {
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1.5,20.0\n");
        QTRY_COMPARE(rig.records(), 1);
        // The readouts follow at the charts' pace.
        QTRY_COMPARE(lcd(rig, 1), 1.5);
        QTRY_COMPARE(lcd(rig, 2), 20.0);
        QCOMPARE(rig.window->channelSeries(1), QVector<double>{1.5});
        QCOMPARE(rig.window->channelSeries(2), QVector<double>{20.0});
        QVERIFY(rig.window->channelSeries(3).isEmpty());
        // The first record after the first Start is stamped about 0 s.
        QVERIFY(rig.window->recordedTimes().at(0) >= 0.0);
        QVERIFY(rig.window->recordedTimes().at(0) < 2.0);
        QCOMPARE(rig.window->pendingLineBytes(), 0);
    }

    void fourSensorRecordFillsEveryChannel()
    {
        AcquisitionRig rig(4);
        rig.start();
        rig.send("1,2,3,4,5,6,7,8\n");
        QTRY_COMPARE(rig.records(), 1);
        for (int k = 1; k <= 8; ++k) {
            QTRY_COMPARE(lcd(rig, k), double(k));
            QCOMPARE(rig.window->channelSeries(k), QVector<double>{double(k)});
        }
    }

    void lineEndsAndSpacesGiveTheSameValues()
    {
        AcquisitionRig rig(2);
        rig.start();
        rig.send("12.5,23.1,-3.4,22.8\n");
        rig.send("12.5,23.1,-3.4,22.8\r\n");
        rig.send(" 12.5 ,\t23.1, -3.4 ,22.8 \r\n");
        rig.send("1.25e1,+23.1,-34e-1,22.80\n");
        QTRY_COMPARE(rig.records(), 4);
        const QVector<double> q1(4, 12.5), t1(4, 23.1), q2(4, -3.4), t2(4, 22.8);
        QCOMPARE(rig.window->channelSeries(1), q1);
        QCOMPARE(rig.window->channelSeries(2), t1);
        QCOMPARE(rig.window->channelSeries(3), q2);
        QCOMPARE(rig.window->channelSeries(4), t2);
    }

    void bytesOutsideAsciiInARecordLine()
    {
        // A micro sign, a byte that is not UTF-8 or a NUL spoils its field, and so the line; a
        // Unicode minus is a minus.
        AcquisitionRig rig(2);
        rig.start();
        rig.send("1\xc2\xb5,2,3,4\n");
        rig.send(QByteArray("5,\xff,7,8\n5,6,7,\x00"
                            "8\n",
                            17));
        rig.send("\xe2\x88\x92"
                 "9,10,11,12\n");
        QTRY_COMPARE(rig.records(), 1);
        QCOMPARE(rig.window->channelSeries(1), QVector<double>{-9.0});
        QCOMPARE(rig.window->channelSeries(4), QVector<double>{12.0});
        QCOMPARE(rig.window->discardedLineCount(), quint64(3));
    }

    // An empty field is 0 (the unit may mark a missing value so); a field that is text is no
    // reading at all: its line is counted and reported with the other bad lines, never stored.
    void emptyFieldsGiveZeroAndTextIsNoReading()
    {
        AcquisitionRig rig(2);
        rig.start();
        rig.send("1,,3,4\n");
        rig.send("1,abc,3,4\n1,2,3,4x\n");
        QTRY_COMPARE(rig.records(), 1);
        QCOMPARE(rig.window->channelSeries(2), QVector<double>{0.0});
        QCOMPARE(rig.window->channelSeries(3), QVector<double>{3.0});
        QTRY_COMPARE(rig.widget<QStatusBar>("statusbar")->currentMessage(),
                     QStringLiteral("2 lines from the unit were not 4 numbers and were not recorded."));
        rig.pause();
        QCOMPARE(rig.window->liveRecorder()->recordedSamples(), quint64(1));
    }

    // A megabyte of line noise at N = 2: not one made-up reading, in memory or on disk, and every
    // line counted. What a careful host would take from it, independently, is the reference.
    void lineNoiseIsNeverStored()
    {
        QByteArray noise(1 << 20, '\0');
        quint32 x = 2024;
        for (char &c : noise) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x >> 24);
        }
        StreamReader reference(2);
        reference.feed(noise);
        const quint64 lines = quint64(noise.count('\n'));
        QVERIFY(lines > 3000);

        AcquisitionRig rig(2);
        rig.start();
        for (int at = 0; at < noise.size(); at += 4096) {
            QVERIFY(rig.pty.write(noise.mid(at, 4096)));
            AcquisitionRig::settle(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.window->discardedLineCount() + quint64(rig.records()), lines, 20000);
        QCOMPARE(quint64(rig.records()), reference.counters().goodRecords);
        QCOMPARE(rig.window->discardedLineCount(), reference.counters().badLines);
        rig.pause();
        QCOMPARE(rig.window->liveRecorder()->recordedSamples(), quint64(rig.records()));
        QTRY_VERIFY(rig.widget<QStatusBar>("statusbar")
                        ->currentMessage()
                        .startsWith(QStringLiteral("%1 lines from the unit were not 4 numbers")
                                        .arg(reference.counters().badLines)));
    }

    void wrongFieldCountsAreDiscardedAndNeverJoinTheNextLine()
    {
        AcquisitionRig rig(2);
        rig.start();
        rig.send("1,2\n");
        rig.send("1,2,3,4,5\n");
        rig.send("letters only\n");
        rig.send("\n");
        QTest::qWait(100);
        QCOMPARE(rig.records(), 0);
        QCOMPARE(rig.window->discardedLineCount(), quint64(4));
        QCOMPARE(lcd(rig, 1), 0.0);
        // A bad line followed by a good one: the good one is taken as it is.
        rig.send("garbage\n3,4,5,6\n");
        QTRY_COMPARE(rig.records(), 1);
        QCOMPARE(rig.window->channelSeries(1), QVector<double>{3.0});
        QCOMPARE(rig.window->channelSeries(4), QVector<double>{6.0});
    }

    void severalLinesInOneWriteAreAllTakenAtOnce()
    {
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,10\n2,20\n3,30\n");
        QTRY_COMPARE(rig.records(), 3);
        QCOMPARE(rig.window->channelSeries(1), (QVector<double>{1, 2, 3}));
        QCOMPARE(rig.window->channelSeries(2), (QVector<double>{10, 20, 30}));
        QCOMPARE(rig.window->recordedTimes().size(), 3);
        // All three sat in the port together, so they never trail behind in a backlog.
        QCOMPARE(rig.window->pendingLineBytes(), 0);
    }

    void aLineSplitOverWritesIsTakenOnceWhole()
    {
        AcquisitionRig rig(2);
        rig.start();
        for (const char *piece : {"12", ".5,2", "3.1,-3", ".4,22.", "8\r", "\n"})
            rig.send(piece);
        QTRY_COMPARE(rig.records(), 1);
        QTest::qWait(50);
        QCOMPARE(rig.records(), 1);
        QCOMPARE(rig.window->channelSeries(1), QVector<double>{12.5});
        QCOMPARE(rig.window->channelSeries(2), QVector<double>{23.1});
        QCOMPARE(rig.window->channelSeries(3), QVector<double>{-3.4});
        QCOMPARE(rig.window->channelSeries(4), QVector<double>{22.8});
    }

    void overlongLineIsDroppedAndReadingGoesOn()
    {
        AcquisitionRig rig(1);
        rig.start();
        // 160 KiB without a line end, in pieces the line can carry.
        const QByteArray junk(4096, '7');
        for (int i = 0; i < 40; ++i) {
            QVERIFY(rig.pty.write(junk));
            AcquisitionRig::settle(5);
            QVERIFY(rig.window->pendingLineBytes() <= LineSplitter::DefaultMaxLineLength);
        }
        rig.send(",1\n4,5\n");
        QTRY_COMPARE(rig.records(), 1);
        QCOMPARE(rig.window->channelSeries(1), QVector<double>{4.0});
        QCOMPARE(rig.window->discardedLineCount(), quint64(1));
    }

    void countOutsideOneToFourConsumesLinesButTakesNone()
    {
        AcquisitionRig rig(0); // the window was opened before any count was sent
        rig.start();
        QLCDNumber *time = rig.widget<QLCDNumber>("timeLCD");
        rig.send("1,2\n");
        QTest::qWait(300);
        rig.send("1,2\n1,2,3,4\n");
        QTRY_VERIFY(time->value() > 0.2);
        QCOMPARE(rig.records(), 0);
        QCOMPARE(rig.panel->serialPort()->bytesAvailable(), qint64(0));
        QCOMPARE(rig.window->discardedLineCount(), quint64(3));
    }

    void recordsTakenTogetherShareOneTimeAndTimesNeverDecrease()
    {
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,1\n2,2\n");
        QTest::qWait(120);
        rig.send("3,3\n");
        QTRY_COMPARE(rig.records(), 3);
        const QVector<double> &t = rig.window->recordedTimes();
        QCOMPARE(t.at(0), t.at(1));
        QVERIFY(t.at(2) >= t.at(1) + 0.1);
    }
};

QTEST_MAIN(TestWindow2Reader)
#include "tst_window2reader.moc"

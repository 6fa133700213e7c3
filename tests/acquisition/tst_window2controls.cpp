// SPDX-License-Identifier: GPL-3.0-or-later
// Start, Pause, Reset, the sensor boxes, the charts and Save as in the acquisition window.
#include "acquisition/readouts/readoutpictures.h"
#include "charts/chartfeeder.h"
#include "data/recordedseries.h"
#include "messages/statusmessages.h"
#include "shell/rememberedsettings.h"
#include "support/acquisitionrig.h"
#include "support/followedaxis.h"
#include "support/imagedifference.h"
#include "support/modalcloser.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLCDNumber>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <qcustomplot.h>

class TestWindow2Controls : public QObject
{
    Q_OBJECT

private:
    static QCustomPlot *chart(const AcquisitionRig &rig, const char *name)
    {
        return rig.widget<QCustomPlot>(name);
    }

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }
    void init() { RememberedSettings().forgetAll(); } // no save folder from an earlier case

    // The readouts are drawn from pictures: frames made by the application style, digits by a
    // readout of the same look. Each must look as the readout draws itself with that style: the
    // frames exactly, the digits within the rounding of blending pictures, a level or two at the
    // edges of segments. The pictures are made once per frame and per character and place, not
    // at every repaint. (Rendered at twice the scale, the readouts draw themselves; the
    // high-DPI check sees the pictures at the screen's own scale.)
    void readoutsLookAsTheyDrawThemselves()
    {
        AcquisitionRig rig(4);
        const QList<QLCDNumber *> readouts = rig.window->findChildren<QLCDNumber *>();
        QCOMPARE(readouts.size(), 9);
        auto *pictures = qobject_cast<ReadoutPictures *>(readouts.first()->style());
        QVERIFY(pictures);
        // One readout in the disabled colours, which differ from the enabled ones here.
        QPalette disabled = readouts[3]->palette();
        disabled.setColor(QPalette::Disabled, QPalette::Light, QColor(250, 240, 0));
        disabled.setColor(QPalette::Disabled, QPalette::Dark, QColor(0, 90, 30));
        disabled.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 0, 120));
        readouts[3]->setPalette(disabled);
        readouts[3]->setEnabled(false);
        // Numbers of every shape, and one too long for the readouts, which keep the last.
        const QList<double> values = {-12.5, 3.25, 1234.5, 0,         -0.0012345,
                                      99999, 1e10, 1e-7,   123456789, 42.125};
        const int tooLong = 1;
        auto drawn = [](QLCDNumber *lcd, qreal ratio) {
            QImage image(lcd->size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(QColor(40, 90, 120)); // shows through wherever nothing is drawn
            lcd->render(&image);
            return image;
        };
        auto picturesOf = [&](QLCDNumber *lcd) {
            QList<QImage> images{drawn(lcd, 1.0)}; // as it starts
            for (double value : values) {
                lcd->display(value);
                for (qreal ratio : {1.0, 2.0})
                    images << drawn(lcd, ratio);
            }
            return images;
        };
        const quint64 servedBefore = pictures->digitsDrawn();
        for (QLCDNumber *lcd : readouts) {
            QCOMPARE(lcd->style(), pictures);
            lcd->display(0.0);
            const QList<QImage> fromPictures = picturesOf(lcd);
            lcd->setStyle(QApplication::style());
            lcd->display(0.0);
            const QList<QImage> asDrawn = picturesOf(lcd);
            lcd->setStyle(pictures);
            for (int i = 0; i < asDrawn.size(); ++i) {
                const QString how = blendingDifference(fromPictures[i], asDrawn[i], lcd->contentsRect());
                if (!how.isEmpty())
                    QFAIL(qPrintable(lcd->objectName() + QStringLiteral(" image %1 differs: ").arg(i) + how));
            }
        }
        // All pictures at the readouts' own scale but the too long number's had their digits from
        // pictures.
        QCOMPARE(pictures->digitsDrawn() - servedBefore,
                 quint64(readouts.size() * (1 + values.size() - tooLong)));
        const int frames = pictures->picturesMade(), digits = pictures->digitPicturesMade();
        QVERIFY2(frames >= 9 && frames <= 2 * 9,
                 qPrintable(QString::number(frames))); // per readout, per state
        QVERIFY2(digits > 9 * 5 && digits < 9 * 5 * 12, qPrintable(QString::number(digits)));
        for (QLCDNumber *lcd : readouts)
            picturesOf(lcd);
        QCOMPARE(pictures->picturesMade(), frames);
        QCOMPARE(pictures->digitPicturesMade(), digits);
    }

    void setUpChartsAndBoxes_data()
    {
        QTest::addColumn<int>("sensors");
        QTest::addColumn<int>("enabledBoxes");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("2") << 2 << 2;
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("4") << 4 << 4;
        QTest::newRow("no count") << 0 << 4;
    }
    void setUpChartsAndBoxes()
    {
        QFETCH(int, sensors);
        QFETCH(int, enabledBoxes);
        AcquisitionRig rig(sensors);
        for (int s = 1; s <= 4; ++s) {
            const QByteArray name = "toggle" + QByteArray::number(s);
            QCOMPARE(rig.widget<QCheckBox>(name.constData())->isEnabled(), s <= enabledBoxes);
        }
        const QColor colours[] = {QColor(255, 0, 0), QColor(0, 155, 0), QColor(0, 0, 255),
                                  QColor(255, 0, 255)};
        for (const char *name : {"plot", "plot2"}) {
            QCustomPlot *c = chart(rig, name);
            QCOMPARE(c->graphCount(), 4);
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(c->graph(i)->pen().color(), colours[i]);
                QCOMPARE(c->graph(i)->pen().widthF(), 2.0);
                QCOMPARE(c->graph(i)->dataCount(), 0);
            }
            QCOMPARE(c->xAxis->range(), QCPRange(0, 30));
            QCOMPARE(c->yAxis->range(), QCPRange(0, 30));
            QVERIFY(c->xAxis->label().isEmpty());
        }
        QCOMPARE(chart(rig, "plot")->yAxis->label(), QStringLiteral("Heat Flux (W/m2)"));
        QCOMPARE(chart(rig, "plot2")->yAxis->label(), QStringLiteral("Temperature (C)"));
    }

    void nothingIsTakenBeforeStartOrWhilePaused()
    {
        AcquisitionRig rig(1);
        rig.send("1,1\n");
        QTest::qWait(100);
        QCOMPARE(rig.records(), 0);
        QCOMPARE(rig.widget<QLCDNumber>("timeLCD")->value(), 0.0);
        rig.start();
        rig.send("2,2\n");
        QTRY_COMPARE(rig.records(), 1);
        rig.pause();
        rig.send("3,3\n4,4\n");
        QTest::qWait(100);
        QCOMPARE(rig.records(), 1);
        // What came during the pause is dropped at Start, even if still unread.
        rig.start();
        rig.send("5,5\n");
        QTRY_COMPARE(rig.records(), 2);
        QCOMPARE(rig.window->channelSeries(1), (QVector<double>{2, 5}));
    }

    void aLineInProgressAtStartIsNotCutIntoABogusRecord()
    {
        AcquisitionRig rig(2);
        rig.send("9,9,9,9\n12.5,2"); // the unit is mid-line when Start is pressed
        QTest::qWait(50);
        rig.start();
        rig.send("3.1,-3.4,22.8\n1,2,3,4\n");
        QTRY_VERIFY(rig.records() >= 1);
        QTest::qWait(50);
        const QVector<double> &q1 = rig.window->channelSeries(1);
        QVERIFY(!q1.contains(3.1));
        QCOMPARE(q1.last(), 1.0);
        QVERIFY(!q1.contains(9.0));
    }

    void pauseStopsRecordsButNotTheClock()
    {
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,1\n");
        QTRY_COMPARE(rig.records(), 1);
        rig.pause();
        QTest::qWait(400);
        rig.start();
        rig.send("2,2\n");
        QTRY_COMPARE(rig.records(), 2);
        const QVector<double> &t = rig.window->recordedTimes();
        QVERIFY2(t[1] - t[0] >= 0.35, qPrintable(QString::number(t[1] - t[0])));
    }

    void theElapsedTimeTicksOnlyWhileTheClockRunsAndIsSeen()
    {
        // Timers firing more often than once a second (the unit's watcher looks at the line
        // each second), counted over a while: the elapsed time's tick and the charts' pacing.
        struct TimerCount : QObject
        {
            int fired = 0;
            bool eventFilter(QObject *watched, QEvent *event) override
            {
                const auto *timer = qobject_cast<QTimer *>(watched);
                fired += event->type() == QEvent::Timer && timer && timer->interval() < 1000;
                return false;
            }
        } count;
        qApp->installEventFilter(&count);
        // After what was asked last is drawn (a mark, a readout), for a while.
        auto firedWithin = [&](int ms) {
            QTest::qWait(200);
            count.fired = 0;
            QTest::qWait(ms);
            return count.fired;
        };
        AcquisitionRig rig(1);
        QCOMPARE(firedWithin(700), 0); // not started
        rig.start();
        QCOMPARE(firedWithin(700), 0); // no record yet: the clock has not started
        rig.send("1,1\n");
        QTRY_COMPARE(rig.records(), 1);
        // The clock runs: the elapsed time ticks on between records.
        auto *time = rig.widget<QLCDNumber>("timeLCD");
        QVERIFY(firedWithin(700) >= 2);
        QTRY_VERIFY(time->value() >= 0.5);
        rig.window->hide(); // nobody sees it
        QCOMPARE(firedWithin(700), 0);
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.window));
        QVERIFY(firedWithin(700) >= 2);
        rig.pause();
        QCOMPARE(firedWithin(700), 0);
        qApp->removeEventFilter(&count);
    }

    void resetEmptiesSeriesAndChartsAndRestartsTheClock()
    {
        AcquisitionRig rig(2);
        rig.tick(1);
        rig.tick(2);
        rig.start();
        rig.send("0,0,0,0\n"); // starts the clock
        QTest::qWait(300);
        rig.send("-50,100,3,4\n");
        QTRY_COMPARE(rig.records(), 2);
        QCustomPlot *flux = chart(rig, "plot");
        QCOMPARE(flux->graph(0)->dataCount(), 2);
        QVERIFY(flux->yAxis->range().lower <= -50);
        QVERIFY(chart(rig, "plot2")->yAxis->range().upper >= 100);
        const double before = rig.window->recordedTimes().at(1);
        QVERIFY(before >= 0.25);

        rig.reset();
        for (int k = 1; k <= 8; ++k)
            QVERIFY(rig.window->channelSeries(k).isEmpty());
        QVERIFY(rig.window->recordedTimes().isEmpty());
        for (const char *name : {"plot", "plot2"}) {
            QCustomPlot *c = chart(rig, name);
            for (int i = 0; i < 4; ++i)
                QCOMPARE(c->graph(i)->dataCount(), 0);
            QCOMPARE(c->xAxis->range(), QCPRange(0, 30));
            QCOMPARE(c->yAxis->range(), QCPRange(0, 30));
        }
        // The readouts keep their values; acquisition goes on with times from the reset.
        QCOMPARE(rig.widget<QLCDNumber>("LCD1")->value(), -50.0);
        rig.send("1,2,3,4\n");
        QTRY_COMPARE(rig.records(), 1);
        QVERIFY(rig.window->recordedTimes().at(0) < before);
        QCOMPARE(flux->graph(0)->dataCount(), 1);
    }

    void sensorBoxesShowAndHideCurvesAtOnce()
    {
        AcquisitionRig rig(2);
        rig.tick(2);
        rig.start();
        rig.send("1,2,3,4\n5,6,7,8\n");
        QTRY_COMPARE(rig.records(), 2);
        QCustomPlot *flux = chart(rig, "plot");
        QCustomPlot *temp = chart(rig, "plot2");
        QCOMPARE(flux->graph(1)->lineStyle(), QCPGraph::lsLine);
        QCOMPARE(flux->graph(0)->lineStyle(), QCPGraph::lsNone);
        // Hidden sensors' points are kept, so a curve comes back complete.
        QCOMPARE(flux->graph(0)->dataCount(), 2);
        rig.pause();
        rig.tick(1);
        QCOMPARE(flux->graph(0)->lineStyle(), QCPGraph::lsLine);
        QCOMPARE(temp->graph(0)->lineStyle(), QCPGraph::lsLine);
        QCOMPARE(temp->graph(0)->dataCount(), 2);
        rig.tick(2);
        QCOMPARE(flux->graph(1)->lineStyle(), QCPGraph::lsNone);
        QCOMPARE(temp->graph(1)->lineStyle(), QCPGraph::lsNone);
        // Graphs of absent sensors stay empty.
        QCOMPARE(flux->graph(2)->dataCount(), 0);
        QCOMPARE(temp->graph(3)->dataCount(), 0);
    }

    void chartsWidenWithShownDataAndRedrawAtABoundedRate()
    {
        AcquisitionRig rig(1);
        rig.tick(1);
        rig.start();
        ChartFeeder *feeder = rig.window->chartFeeder();
        const quint64 before = feeder->redrawCount();
        QByteArray burst;
        for (int i = 0; i < 500; ++i)
            burst += QByteArray::number(i) + ",-" + QByteArray::number(i) + "\n";
        for (int i = 0; i < 10; ++i)
            rig.send(burst.mid(i * burst.size() / 10, burst.size() / 10));
        QTRY_COMPARE(rig.records(), 500);
        QTRY_VERIFY(feeder->redrawCount() > before);
        QCustomPlot *flux = chart(rig, "plot");
        QVERIFY(showsWithRoom(flux->yAxis->range(), {&rig.window->channelSeries(1)}));
        QVERIFY(showsWithRoom(chart(rig, "plot2")->yAxis->range(), {&rig.window->channelSeries(2)}));
        // Ten deliveries in ~600 ms: paced redraws, never one per record.
        QVERIFY(feeder->redrawCount() - before <= 20);
    }

    void saveWritesEveryRecordExactly()
    {
        QTemporaryDir dir;
        AcquisitionRig rig(2);
        rig.start();
        rig.send("1,2,3,4\n");
        QTest::qWait(30);
        rig.send("-2.5,30.0,12.3456789,1e-05\n0.1,0.2,0.3,1234567\n");
        QTRY_COMPARE(rig.records(), 3);
        const QString name = dir.filePath(QStringLiteral("run 1 Messung µ.csv"));
        QList<ModalCloser::Seen> boxes = rig.saveAs(name);
        QCOMPARE(boxes.size(), 1); // only the file dialog
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes, rig.expectedCsv(2));
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[1].endsWith(",-2.5,30,12.3456789,1e-05"));
        QVERIFY(lines[2].endsWith(",0.1,0.2,0.3,1234567"));
        // Saving again after Reset leaves an empty file.
        rig.reset();
        boxes = rig.saveAs(name);
        QVERIFY(file.open(QIODevice::ReadOnly) || file.isOpen());
        file.close();
        QCOMPARE(QFileInfo(name).size(), qint64(0));
    }

    void cancelledSaveWritesNothingAndSaysNothing()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        AcquisitionRig rig(1);
        QList<ModalCloser::Seen> boxes = rig.saveAs(QString());
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().title, QStringLiteral("Save File"));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    void failedSaveSaysSoAndWritesNothing()
    {
        QTemporaryDir dir;
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,2\n");
        QTRY_COMPARE(rig.records(), 1);
        const QString name = dir.filePath(QStringLiteral("missing/folder/data.csv"));
        QList<ModalCloser::Seen> boxes = rig.saveAs(name);
        const auto warning = std::find_if(boxes.begin(), boxes.end(), [](const ModalCloser::Seen &s) {
            return s.title == QStringLiteral("Save Error");
        });
        QVERIFY2(warning != boxes.end(), "no Save Error box");
        QVERIFY(warning->text.contains(name));
        QVERIFY(!QFile::exists(name));
    }

    void unpluggedUnitKeepsTheDataAndSaysSoInTheStatusBar()
    {
        QTemporaryDir dir;
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,2\n3,4\n");
        QTRY_COMPARE(rig.records(), 2);
        rig.pty.closeMaster();
        rig.pty.closeSlave();
        QStatusBar *status = rig.widget<QStatusBar>("statusbar");
        QTRY_VERIFY_WITH_TIMEOUT(
            status->currentMessage().startsWith(QStringLiteral("The measuring unit is gone")), 3000);
        QVERIFY(status->currentMessage().contains(QStringLiteral("save it with File > Save as...")));
        QCOMPARE(rig.records(), 2);
        QVERIFY(!rig.panel->serialPort()->isOpen());
        QVERIFY(rig.window->isAcquiring()); // goes on as soon as the unit is back
        const QString name = dir.filePath(QStringLiteral("after-unplug.csv"));
        QList<ModalCloser::Seen> boxes = rig.saveAs(name);
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), rig.expectedCsv(1));
    }

    void aUnitThatGoesQuietIsReportedUntilItSendsAgain()
    {
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,2\n");
        QTRY_COMPARE(rig.records(), 1);
        QStatusBar *status = rig.widget<QStatusBar>("statusbar");
        QVERIFY(status->currentMessage().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            status->currentMessage().startsWith(QStringLiteral("No data from the measuring unit")),
            PortWatcher::SilenceLimitMs + 3000);
        const QString silence = status->currentMessage();
        rig.send("3,4\n");
        QTRY_COMPARE(rig.records(), 2);
        // Its end is said, in place of the message about it.
        QVERIFY2(status->currentMessage().startsWith(QStringLiteral("The unit is sending again after ")) &&
                     status->currentMessage().endsWith(QStringLiteral(" s of silence.")),
                 qPrintable(status->currentMessage()));
        QCOMPARE(StatusMessages::of(status)->history().entries().at(1).text, silence);
        // Paused, silence is expected and not reported; one reported before is taken away.
        QTRY_VERIFY_WITH_TIMEOUT(status->currentMessage().startsWith(QStringLiteral("No data from")),
                                 PortWatcher::SilenceLimitMs + 3000);
        rig.pause();
        QVERIFY(status->currentMessage().isEmpty());
        QTest::qWait(PortWatcher::SilenceLimitMs + 1500);
        QVERIFY(status->currentMessage().isEmpty());
    }
};

QTEST_MAIN(TestWindow2Controls)
#include "tst_window2controls.moc"

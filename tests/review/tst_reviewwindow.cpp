// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a run back in the review window: the program's own live recording (also while it is
// still being written) and a Save-as export, charts that look like the acquisition window's,
// damaged files and files that are no recordings, a file that grew since, and a read cancelled
// part way with everything made from it kept in step.
#include "acquisition/runsafety/liverecorder.h"
#include "analysis/panels/walltestpanel.h"
#include "analysis/runstatistics.h"
#include "charts/chartfeeder.h"
#include "charts/chartimage.h"
#include "charts/chartview.h"
#include "data/recordingsfolder.h"
#include "data/rundescription.h"
#include "review/recordingloader.h"
#include "review/reviewwindow.h"
#include "support/acquisitionrig.h"
#include "support/imagedifference.h"
#include "support/runfiles.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <cstring>
#include <memory>

namespace {

std::unique_ptr<ReviewWindow> openAndWait(const QString &fileName)
{
    auto window = std::make_unique<ReviewWindow>(fileName);
    window->show();
    if (!QTest::qWaitFor([&] { return !window->isLoading(); }, 20000))
        qWarning("still reading %s", qPrintable(fileName));
    QCoreApplication::processEvents();
    return window;
}

bool sameBits(const QVector<double> &a, const QVector<double> &b, int rows)
{
    return a.size() >= rows && b.size() >= rows &&
           std::memcmp(a.constData(), b.constData(), sizeof(double) * size_t(rows)) == 0;
}

// Whether the window shows the first `rows` records of the acquisition window, bit for bit.
bool showsRecords(const ReviewWindow &review, const Window2 &window, int rows, int sensors)
{
    const RecordingData &d = review.recording()->data;
    bool same =
        d.rows() == rows && d.sensorCount == sensors && sameBits(d.time, window.recordedTimes(), rows);
    for (int k = 1; k <= 2 * sensors; ++k)
        same = same && sameBits(d.channels[size_t(k - 1)], window.channelSeries(k), rows);
    return same;
}

bool appendTo(const QString &fileName, const QByteArray &bytes)
{
    QFile f(fileName);
    return f.open(QIODevice::Append) && f.write(bytes) == bytes.size();
}

QImage chartImage(QWidget *window, const char *name)
{
    auto *chart = window->findChild<QCustomPlot *>(QLatin1String(name));
    // An axis keeps the margin its labels needed when it was last told to measure them, not
    // the one its labels need now (the acquisition window's value axes grew label by label):
    // both measured afresh.
    for (QCPAxis *axis : {chart->xAxis, chart->yAxis}) {
        axis->setTickLabels(false);
        axis->setTickLabels(true);
    }
    return chart->toPixmap(640, 300).toImage();
}

} // namespace

class TestReviewWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }
    void theProgramsOwnRecordingsAndExports();
    void damagedAndForeignFiles_data();
    void damagedAndForeignFiles();
    void aFileThatGrewIsReadAgainWhole();
    void aCancelledReadKeepsWhatWasReadInStep();
    void valuesNearTheLargestDouble();
};

void TestReviewWindow::theProgramsOwnRecordingsAndExports()
{
    QTemporaryDir folder;
    setRecordingsFolder(folder.path());
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.tick(2);
    rig.start();
    for (int i = 0; i < 40; ++i)
        rig.send(QByteArray::number(100 + i % 7) + ',' + QByteArray::number(20 + i * 0.25) + ",-" +
                 QByteArray::number(i) + ",18.5\n");
    QTRY_COMPARE(rig.records(), 40);
    const QString live = rig.window->liveRecorder()->fileName();

    // Still being written (the run goes on): what the file holds so far, its last line maybe torn.
    {
        auto review = openAndWait(live);
        QVERIFY2(review->recording(), qPrintable(review->problem()));
        const int rows = review->recording()->data.rows();
        QVERIFY(rows > 0 && rows <= 40);
        QVERIFY(showsRecords(*review, *rig.window, rows, 2));
    }

    rig.pause(); // writes the recording out
    QTRY_COMPARE(QFileInfo(live).size(),
                 QFileInfo(writeTestFile(folder, "expected.csv", rig.expectedCsv(2))).size());
    auto review = openAndWait(live);
    QVERIFY(showsRecords(*review, *rig.window, 40, 2));
    QVERIFY(review->notes().isEmpty());
    // The wall test over the file, from the charts' menu: sensor 1's heat flux, sensors 1 and 2
    // the warm and cold sides, as the records sent say.
    {
        auto *action = review->findChild<QAction *>(QStringLiteral("actionWallTest"));
        QVERIFY(action);
        action->trigger();
        auto *panel = review->findChild<WallTestPanel *>();
        QVERIFY(panel);
        QTRY_COMPARE(panel->analysis().state().records, qint64(40));
        double differences = 0, flux = 0;
        for (int i = 0; i < 40; ++i) {
            differences += (20 + i * 0.25) - 18.5;
            flux += 100 + i % 7;
        }
        QVERIFY(panel->analysis().state().r.has_value());
        QVERIFY(qAbs(*panel->analysis().state().r - differences / flux) < 1e-12);
    }
    // Titled with the file and the run's start from its description; every sensor of the file shown.
    RunDescription description;
    QString error;
    QVERIFY(readRunDescription(descriptionFileName(live), &description, &error));
    QCOMPARE(review->windowTitle(),
             QStringLiteral("%1, started %2 - Quellspan")
                 .arg(QFileInfo(live).fileName(),
                      description.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    // Its saved images are titled the same way.
    QCOMPARE(review->findChild<ChartViewController *>()->picture().title,
             chartsTitleText({QFileInfo(live).fileName(), description.start}));
    for (int sensor = 1; sensor <= 4; ++sensor) {
        auto *box = review->findChild<QCheckBox *>(QStringLiteral("sensor%1Box").arg(sensor));
        QCOMPARE(box->isChecked(), sensor <= 2);
        QCOMPARE(box->isEnabled(), sensor <= 2);
    }

    // The same charts as the acquisition window's for the same records, drawn the same way.
    rig.window->chartFeeder()->redraw(true);
    for (const char *name : {"plot", "plot2"}) {
        const QString difference =
            blendingDifference(chartImage(review.get(), name), chartImage(rig.window, name));
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(name, difference)));
    }

    // A Save-as export: the same samples, and the run's start from the description written beside it.
    const QString exported = folder.filePath(QStringLiteral("export.csv"));
    rig.saveAs(exported);
    auto fromExport = openAndWait(exported);
    QVERIFY(showsRecords(*fromExport, *rig.window, 40, 2));
    QCOMPARE(fromExport->windowTitle(),
             QStringLiteral("export.csv, started %1 - Quellspan")
                 .arg(description.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    QCOMPARE(fromExport->marks().size(), review->marks().size());

    // "Open Recording..." in the charts' menu: the dialog starts in the recordings folder, and the
    // run opens beside the acquisition window, closing with it.
    QString dialogFolder;
    ModalCloser closer;
    closer.setHandler([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog) {
            static_cast<QDialog *>(w)->reject();
            return;
        }
        dialogFolder = dialog->directory().absolutePath();
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(live);
        static_cast<QDialog *>(dialog)->accept();
    });
    rig.window->findChild<QAction *>(QStringLiteral("actionOpenRecording"))->trigger();
    QCOMPARE(dialogFolder, QDir(folder.path()).absolutePath());
    auto *beside = rig.window->findChild<ReviewWindow *>();
    QVERIFY(beside && beside->isWindow() && beside->isVisible());
    QCOMPARE(beside->fileName(), live);
    QTRY_VERIFY(!beside->isLoading());
    QVERIFY(showsRecords(*beside, *rig.window, 40, 2));
}

void TestReviewWindow::damagedAndForeignFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("said"); // in the notes when rows > 0, else the problem
    const QByteArray good = "0,1,2\n0.5,1.5,2.5\n1,2,3\n";
    QTest::newRow("recovered, torn") << good + "1.5,2." << 3 << "The last line has no line end (6 bytes)";
    QTest::newRow("garbage lines")
        << QByteArray("0,1,2\nhello\n0.5,1,2,3,4\n1,x,3\n2,2,2\n") << 2
        << "3 lines are not lines of samples and were left out (the first is line 2)";
    QTest::newRow("empty") << QByteArray() << 0 << "The file is empty.";
    QTest::newRow("binary") << QByteArray("\x7f"
                                          "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0",
                                          20)
                            << 0 << "The file is not a text file";
    QTest::newRow("wrong shape") << QByteArray("1,2,3,4\n5,6,7,8\n") << 0 << "its lines have 4 fields";
    QTest::newRow("header only") << QByteArray("time,flux,temperature\n") << 0
                                 << "The file holds no complete line of samples.";
}

void TestReviewWindow::damagedAndForeignFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);
    QFETCH(QString, said);
    QTemporaryDir folder;
    auto review = openAndWait(writeTestFile(folder, QStringLiteral("run.csv"), bytes));
    if (rows > 0) {
        QVERIFY2(review->recording(), qPrintable(review->problem()));
        QCOMPARE(review->recording()->data.rows(), rows);
        QVERIFY2(review->notes().join(' ').contains(said), qPrintable(review->notes().join(' ')));
        QVERIFY(review->findChild<QLabel *>(QStringLiteral("reviewNotes"))->isVisible());
        QVERIFY(review->windowTitle().startsWith(QStringLiteral("run.csv")));
    } else {
        QVERIFY(!review->recording());
        QVERIFY2(review->problem().contains(said), qPrintable(review->problem()));
        QVERIFY(review->findChild<QLabel *>(QStringLiteral("reviewMessage"))->isVisible());
        QVERIFY(!review->findChild<QProgressBar *>(QStringLiteral("loadProgress"))->isVisible());
    }
    // A file that is not there says so too.
    auto missing = openAndWait(folder.filePath(QStringLiteral("gone.csv")));
    QVERIFY2(missing->problem().contains(QStringLiteral("could not be opened")),
             qPrintable(missing->problem()));
}

void TestReviewWindow::aFileThatGrewIsReadAgainWhole()
{
    QTemporaryDir folder;
    QByteArray text;
    for (int i = 0; i < 100; ++i)
        text += QByteArray::number(i * 0.5) + ',' + QByteArray::number(i % 13) + ",20\n";
    const QString file = writeTestFile(folder, QStringLiteral("2026-12-07_14-05-09.csv"), text + "50,7");
    auto *first = new ReviewWindow(file);
    first->show();
    QTRY_VERIFY(!first->isLoading());
    QCOMPARE(first->recording()->data.rows(), 100);
    // No description: the start comes from the recording's name.
    QCOMPARE(first->windowTitle(),
             QStringLiteral("2026-12-07_14-05-09.csv, started 2026-12-07 14:05:09 - Quellspan"));

    // The torn line is finished and more come; Reload reads it all in a new window in its place.
    QVERIFY(appendTo(file, ".5,21\n50.5,1,2\n51,2,3\n"));
    QPointer<ReviewWindow> closed(first);
    first->findChild<QAction *>(QStringLiteral("actionReload"))->trigger();
    QTRY_VERIFY(!closed);
    ReviewWindow *again = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        again = again ? again : qobject_cast<ReviewWindow *>(w);
    QVERIFY(again);
    QTRY_VERIFY(!again->isLoading());
    QCOMPARE(again->recording()->data.rows(), 103);
    QCOMPARE(again->recording()->data.channels[0].last(), 2.0);
    QVERIFY(again->notes().isEmpty());
    delete again;
}

void TestReviewWindow::aCancelledReadKeepsWhatWasReadInStep()
{
    // Longer than two of the reader's chunks; cancelled after the first.
    QTemporaryDir folder;
    QByteArray text;
    for (int i = 0; i < 60000; ++i)
        text += QByteArray::number(i * 0.01, 'f', 2) + ",123.456,23.45,234.567,22.5," +
                QByteArray::number(i % 97) + ",21.25,-3.5,20\n";
    const QString file = writeTestFile(folder, QStringLiteral("long.csv"), text);
    LoadedRecording loaded;
    std::atomic<bool> cancel{false};
    loadRecording(file, &loaded, &cancel, [&](qint64, qint64) { cancel = true; });
    QCOMPARE(loaded.report.status, RecordingReadReport::Cancelled);
    const int rows = loaded.data.rows();
    QVERIFY(rows > 0 && rows < 60000);
    // The charts' and the statistics' summaries cover exactly the rows read.
    QCOMPARE(loaded.charts.recordCount(), qint64(rows));
    QCOMPARE(loaded.statistics.rows(), rows);
    QCOMPARE(loaded.statistics.computeRows(0, rows).channels[4].samples, qint64(rows));
    double lowest = 0, highest = 0;
    QVERIFY(loaded.charts.valueBounds(4, &lowest, &highest));
    QCOMPARE(highest, 96.0);

    // Cancelled in the window at once (the file is read in about 30 chunks): nothing read says so
    // in place of the charts; a part read is shown and said to be a part.
    const QString longer = writeTestFile(folder, QStringLiteral("longer.csv"), text.repeated(8));
    auto *window = new ReviewWindow(longer);
    window->cancelLoading();
    QTRY_VERIFY(!window->isLoading());
    if (!window->recording()) {
        QVERIFY2(window->problem().contains(QStringLiteral("Reading the file was cancelled.")),
                 qPrintable(window->problem()));
    } else {
        QVERIFY(window->recording()->data.rows() < 8 * 60000);
        QVERIFY(window->notes().value(0).startsWith(QStringLiteral("Reading was cancelled: only the first")));
        QVERIFY(window->windowTitle().contains(QStringLiteral("(partly read)")));
    }
    delete window;
}

// Values up to the largest double: times shown short, values beyond what a chart's axis reaches
// said in the notes (not left as curves that seem to be missing), the statistics right.
void TestReviewWindow::valuesNearTheLargestDouble()
{
    QTemporaryDir folder;
    auto review =
        openAndWait(writeTestFile(folder, QStringLiteral("huge.csv"),
                                  "0,1e308,20\n1e300,-1e308,21\n1.7976931348623157e308,1e308,22\n"));
    QVERIFY2(review->recording(), qPrintable(review->problem()));
    const QString status = review->statusBar()->currentMessage();
    QVERIFY2(status.contains(QStringLiteral("to 1.797693e+308 s")) && status.size() < 120,
             qPrintable(status));
    QVERIFY2(review->notes().join(' ').contains(QStringLiteral("further than the charts reach")),
             qPrintable(review->notes().join(' ')));
    RunStatistics statistics;
    statistics.setSeries(review->recording()->data.series(), 2);
    const ChannelStatistics flux = statistics.compute(-qInf(), qInf()).channels.at(0);
    QCOMPARE(flux.mean, 1e308 / 3);
    QVERIFY(std::fabs(flux.sd / 1.1547005383792515e308 - 1) < 1e-12); // sqrt(4/3) * 1e308
}

QTEST_MAIN(TestReviewWindow)
#include "tst_reviewwindow.moc"

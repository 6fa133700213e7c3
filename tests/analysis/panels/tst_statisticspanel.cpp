// SPDX-License-Identifier: GPL-3.0-or-later
// Statistics over a stretch, against a plain computation written here: in the review window over
// the view, a Shift-drag selection and between two marks of the description, for the shown
// sensors only, and the text Copy puts on the clipboard; in the acquisition window following a
// growing run, between the operator's marks, and starting over after Reset.
#include "acquisition/marks/runmarker.h"
#include "analysis/panels/statisticspanel.h"
#include "charts/chartfeeder.h"
#include "charts/chartselection.h"
#include "data/csvwriter.h"
#include "data/recordingsfolder.h"
#include "data/rundescription.h"
#include "review/reviewwindow.h"
#include "support/acquisitionrig.h"
#include "support/chartmouse.h"
#include "support/runfiles.h"
#include "support/statisticsreference.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

// Every figure of the shown channels against the reference over the rows in [from, to].
void checkShown(const StatisticsPanel &panel, const RecordedSeries &run, const QVector<int> &channels)
{
    const StretchStatistics &s = panel.shownStatistics();
    const QPair<int, int> rows = referenceRows(*run.time, panel.rangeFrom(), panel.rangeTo());
    QCOMPARE(s.rows(), rows.second - rows.first);
    QCOMPARE(s.channels.size(), channels.size());
    for (int i = 0; i < channels.size(); ++i) {
        const ChannelStatistics &c = s.channels[i];
        const ChannelStatistics r =
            referenceStatistics(*run.channels[size_t(channels[i] - 1)], rows.first, rows.second);
        QCOMPARE(c.channel, channels[i]);
        QCOMPARE(c.samples, r.samples);
        QCOMPARE(c.min, r.min);
        QCOMPARE(c.max, r.max);
        QVERIFY2(closeToReference(c.mean, r.mean, r.mean), qPrintable(QString::number(c.mean - r.mean)));
        QVERIFY2(closeToReference(c.sd, r.sd, r.sd), qPrintable(QString::number(c.sd / r.sd - 1)));
    }
}

QAction *statisticsAction(QWidget *window)
{
    return window->findChild<QAction *>(QStringLiteral("actionStatistics"));
}

// The marks a panel offers for a stretch, as the operator reads them.
QStringList markChoices(const StatisticsPanel *panel)
{
    const auto *box = panel->findChild<QComboBox *>(QStringLiteral("fromMarkBox"));
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

class TestStatisticsPanel : public QObject
{
    Q_OBJECT

private slots:
    void reviewOverTheViewASelectionAndMarks();
    void liveFollowsTheRunAndStartsOverAfterReset();
    void heatFluxCorrectedWhenAsked();
};

void TestStatisticsPanel::reviewOverTheViewASelectionAndMarks()
{
    // 200 s at 100 samples/s of two sensors: heat flux far from zero with little noise (where a
    // running sum of squares loses every digit), a temperature, and values left out.
    RecordedRun columns;
    const QVector<double> &time = columns.time;
    std::mt19937_64 random(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        columns.time.append(i * 0.01);
        columns.channels[0].append(1e5 + 1e-3 * noise(random));
        columns.channels[1].append(23 + 0.2 * noise(random));
        columns.channels[2].append(i % 1000 == 7 ? qQNaN() : -40 + noise(random));
        columns.channels[3].append(18.5 + 0.1 * noise(random));
    }
    const RecordedSeries run = columns.view();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("run.csv"));
    QVERIFY(saveCsv(file, run, 2, nullptr));
    QFile description(descriptionFileName(file));
    QVERIFY(description.open(QIODevice::WriteOnly));
    description.write("Started: 2026-12-07T14:05:09.000+01:00\n" +
                      formatEventLine(50, RunEventKind::Mark, "heater on") +
                      formatEventLine(120, RunEventKind::Pause, QString()) +
                      formatEventLine(150.005, RunEventKind::Mark, "steady"));
    description.close();

    ReviewWindow window(file);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    QTRY_VERIFY(!window.isLoading());
    statisticsAction(&window)->trigger();
    StatisticsPanel *panel = window.statisticsPanel();
    QVERIFY(panel->isVisible());
    QCustomPlot *flux = window.findChild<QCustomPlot *>(QStringLiteral("plot"));

    // The view, as it is zoomed and panned.
    window.chartFeeder()->setFollowing(false);
    flux->xAxis->setRange(30.5, 170.25);
    QCOMPARE(panel->range(), StatisticsPanel::Range::View);
    QCOMPARE(panel->rangeFrom(), 30.5);
    QCOMPARE(panel->rangeTo(), 170.25);
    checkShown(*panel, run, {1, 2, 3, 4});

    // A Shift-drag selects a stretch instead, whatever the view.
    drag(flux, inside(flux, 0.2, 0.5), inside(flux, 0.6, 0.5), Qt::ShiftModifier);
    auto *selection = window.findChild<ChartSelection *>();
    QVERIFY(selection->isActive());
    QCOMPARE(flux->xAxis->range(), QCPRange(30.5, 170.25)); // not panned
    QCOMPARE(panel->range(), StatisticsPanel::Range::Selection);
    QCOMPARE(panel->rangeFrom(), selection->range().lower);
    QCOMPARE(panel->rangeTo(), selection->range().upper);
    QVERIFY(panel->rangeFrom() > 50 && panel->rangeTo() < 120);
    checkShown(*panel, run, {1, 2, 3, 4});

    // Only the shown sensors' channels.
    window.findChild<QCheckBox *>(QStringLiteral("sensor2Box"))->click();
    QCOMPARE(panel->shownStatistics().channels.size(), 2);
    checkShown(*panel, run, {1, 2});

    // Between two marks of the description (the program's events count as marks too), each
    // called by its note, or by its kind where it has none.
    QCOMPARE(window.marks().size(), 3);
    QCOMPARE(markChoices(panel),
             QStringList({"heater on (50.000 s)", "Pause (120.000 s)", "steady (150.005 s)"}));
    panel->chooseMarks(2, 0); // either way round
    QCOMPARE(panel->range(), StatisticsPanel::Range::Marks);
    QCOMPARE(panel->rangeFrom(), 50.0);
    QCOMPARE(panel->rangeTo(), 150.005);
    checkShown(*panel, run, {1, 2});

    // Copy: the table with the stretch, tab-separated, the wall clock from the description.
    panel->copy();
    const QStringList lines = QApplication::clipboard()->text().split('\n');
    QCOMPARE(lines.size(), 4); // two channels and the last line end
    QCOMPARE(lines[0], QStringLiteral("channel\tsamples\tmean\tmin\tmax\tsd\tfrom_s\tto_s\tfrom\tto"));
    const QPair<int, int> rows = referenceRows(time, 50, 150.005);
    for (int k = 1; k <= 2; ++k) {
        const QStringList f = lines[k].split('\t');
        const ChannelStatistics r =
            referenceStatistics(columns.channels[size_t(k - 1)], rows.first, rows.second);
        QCOMPARE(f.size(), 10);
        QCOMPARE(f[0], QStringLiteral("CH%1").arg(k));
        QCOMPARE(f[1].toLongLong(), r.samples);
        QVERIFY(closeToReference(f[2].toDouble(), r.mean, r.mean));
        QCOMPARE(f[3].toDouble(), r.min);
        QCOMPARE(f[4].toDouble(), r.max);
        QVERIFY(closeToReference(f[5].toDouble(), r.sd, r.sd));
        QCOMPARE(f.mid(6), QStringList({"50", "150.005", "2026-12-07T14:05:59.000+01:00",
                                        "2026-12-07T14:07:39.005+01:00"}));
    }

    // A Shift-click clears the selection; the view counts again.
    panel->chooseRange(StatisticsPanel::Range::Selection);
    mouse(flux, QEvent::MouseButtonPress, inside(flux, 0.5, 0.5), Qt::LeftButton, Qt::LeftButton,
          Qt::ShiftModifier);
    mouse(flux, QEvent::MouseButtonRelease, inside(flux, 0.5, 0.5), Qt::LeftButton, Qt::NoButton,
          Qt::ShiftModifier);
    QVERIFY(!selection->isActive());
    QCOMPARE(panel->range(), StatisticsPanel::Range::View);
    QCOMPARE(panel->rangeFrom(), 30.5);
}

void TestStatisticsPanel::liveFollowsTheRunAndStartsOverAfterReset()
{
    QTemporaryDir folder;
    setRecordingsFolder(folder.path());
    AcquisitionRig rig(2);
    rig.tick(1);
    rig.start();
    const auto send = [&](int count) {
        QByteArray lines;
        for (int i = 0; i < count; ++i)
            lines += QByteArray::number(i % 17 * 1.25) + ',' + QByteArray::number(20 + i % 5) + ",3,4\n";
        rig.send(lines);
    };
    send(30);
    QTRY_COMPARE(rig.records(), 30);
    statisticsAction(rig.window)->trigger();
    StatisticsPanel *panel = rig.window->findChild<StatisticsPanel *>();
    QVERIFY(panel && panel->isVisible());
    RecordedSeries run;
    run.time = &rig.window->recordedTimes();
    for (int k = 1; k <= 8; ++k)
        run.channels[size_t(k - 1)] = &rig.window->channelSeries(k);
    // The followed view holds the whole run: sensor 1's channels, the only ones shown.
    QTRY_COMPARE(panel->shownStatistics().rows(), 30);
    checkShown(*panel, run, {1, 2});
    QVERIFY(panel->copyText().startsWith("channel\tsamples\tmean\tmin\tmax\tsd\tfrom_s\tto_s\tfrom\tto\n"));

    // The run grows: the table follows at the redraw pace.
    send(25);
    QTRY_COMPARE(rig.records(), 55);
    QTRY_COMPARE(panel->shownStatistics().rows(), 55);
    checkShown(*panel, run, {1, 2});

    // Between two of the operator's marks (the Start is the first of the list).
    send(10);
    QTRY_COMPARE(rig.records(), 65);
    rig.window->runMarker()->placeMark(); // at the 65th
    send(15);
    QTRY_COMPARE(rig.records(), 80);
    rig.window->runMarker()->placeMark(); // at the 80th
    panel->chooseMarks(2, 1);
    QCOMPARE(panel->range(), StatisticsPanel::Range::Marks);
    QCOMPARE(panel->rangeFrom(), rig.window->recordedTimes()[64]);
    QCOMPARE(panel->rangeTo(), rig.window->recordedTimes()[79]);
    // Records sent together may share a time stamp: all those at the marks' times count.
    QVERIFY(panel->shownStatistics().rows() >= 16);
    checkShown(*panel, run, {1, 2});
    panel->chooseRange(StatisticsPanel::Range::View);

    // The run saved and read back: its statistics offer the same marks, called the same.
    const QStringList liveChoices = markChoices(panel);
    QCOMPARE(liveChoices.size(), 3);
    QVERIFY2(liveChoices[1].startsWith(QStringLiteral("Mark 1 (")), qPrintable(liveChoices[1]));
    const QString exported = folder.filePath(QStringLiteral("export.csv"));
    rig.saveAs(exported);
    {
        ReviewWindow review(exported);
        review.setAttribute(Qt::WA_DeleteOnClose, false);
        review.show();
        QTRY_VERIFY(!review.isLoading());
        statisticsAction(&review)->trigger();
        QCOMPARE(markChoices(review.statisticsPanel()), liveChoices);
    }

    // Reset empties the run: the table starts over with the new records.
    rig.reset();
    QTRY_COMPARE(panel->shownStatistics().rows(), 0);
    send(4);
    QTRY_COMPARE(panel->shownStatistics().rows(), 4);
    checkShown(*panel, run, {1, 2});
}

void TestStatisticsPanel::heatFluxCorrectedWhenAsked()
{
    // Two sensors; sensor 1 with TD and T_cal, sensor 2 without. The corrected flux written out
    // here: q / (1 + TD/100 (T - T_cal)) with that sensor's temperature in the same record.
    QVector<double> time, q1, t1, q2, t2;
    const auto grow = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const int n = int(time.size());
            time.append(n * 0.25);
            q1.append(40 + (n % 13) * 0.5);
            t1.append(n == 7 ? -900 : 10 + (n % 29)); // at -900 C the sensitivity is not positive
            q2.append(-3 + n % 5);
            t2.append(21);
        }
    };
    const auto correctedFlux = [&](double td, double tcal) {
        QVector<double> out;
        for (int i = 0; i < q1.size(); ++i) {
            const double factor = 1 + td / 100 * (t1[i] - tcal);
            out.append(factor > 0 ? q1[i] / factor : qQNaN());
        }
        return out;
    };
    grow(9000); // more than two of the statistics' blocks
    RecordedSeries run;
    run.time = &time;
    run.channels = {&q1, &t1, &q2, &t2};
    FluxCorrections corrections{};
    corrections[0] = {0.25, 20};
    StatisticsPanel panel(run, [] { return 2; });
    panel.setCorrections([&] { return corrections; });
    panel.show();
    panel.setViewRange(0, 1e9);
    QTRY_VERIFY(!panel.isCatchingUp());
    checkShown(panel, run, {1, 2, 3, 4});

    panel.findChild<QCheckBox *>(QStringLiteral("fluxCorrectedBox"))->click();
    QVERIFY(panel.isFluxCorrected());
    QVector<double> expected = correctedFlux(0.25, 20);
    RecordedSeries reference = run;
    reference.channels[0] = &expected;
    QTRY_VERIFY(!panel.isCatchingUp());
    checkShown(panel, reference, {1, 2, 3, 4});
    QCOMPARE(panel.shownStatistics().channels[0].nonFinite, 1);
    QStringList lines = QString::fromUtf8(panel.copyText()).split('\n');
    QVERIFY2(lines[0].endsWith(QStringLiteral("\tcorrection")), qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith(QStringLiteral("\tTD 0.25 %/K, T_cal 20 \u00b0C")), qPrintable(lines[1]));
    QVERIFY2(lines[3].endsWith('\t'), qPrintable(lines[3])); // sensor 2: as sent

    // The run grows (the new records are corrected as they come), and the correction is changed.
    grow(5000);
    panel.runChanged();
    QTRY_COMPARE(panel.shownStatistics().rows(), 14000);
    expected = correctedFlux(0.25, 20);
    checkShown(panel, reference, {1, 2, 3, 4});
    corrections[0] = {-0.1, 30};
    corrections[1] = {0.3, 25};
    panel.runChanged();
    expected = correctedFlux(-0.1, 30);
    QVector<double> expected2;
    for (int i = 0; i < q2.size(); ++i)
        expected2.append(q2[i] / (1 + 0.003 * (t2[i] - 25)));
    reference.channels[2] = &expected2;
    QTRY_VERIFY(closeToReference(panel.shownStatistics().channels[0].mean,
                                 referenceStatistics(expected, 0, 14000).mean, 50));
    checkShown(panel, reference, {1, 2, 3, 4});

    // A reset: the run starts again and grows past where it was before the next look.
    time.clear(), q1.clear(), t1.clear(), q2.clear(), t2.clear();
    panel.runCleared();
    grow(15000);
    panel.runChanged();
    QTRY_COMPARE(panel.shownStatistics().rows(), 15000);
    expected = correctedFlux(-0.1, 30);
    expected2.clear();
    for (int i = 0; i < q2.size(); ++i)
        expected2.append(q2[i] / (1 + 0.003 * (t2[i] - 25)));
    QTRY_VERIFY(!panel.isCatchingUp());
    checkShown(panel, reference, {1, 2, 3, 4});

    // Asked no more: as the unit sent it.
    panel.setFluxCorrected(false);
    QTRY_VERIFY(!panel.isCatchingUp());
    checkShown(panel, run, {1, 2, 3, 4});
    QVERIFY(!panel.copyText().contains("correction"));
}

QTEST_MAIN(TestStatisticsPanel)
#include "tst_statisticspanel.moc"

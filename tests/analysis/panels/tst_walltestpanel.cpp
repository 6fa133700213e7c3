// SPDX-License-Identifier: GPL-3.0-or-later
// The wall-test panel on synthetic runs held as a window holds them (offscreen): it shows the
// state of a WallTest fed the same records, in words and with units; it says when heat flows the
// other way; an emptied run starts it over; catching up in slices ends where taking all at once
// does; the operator's choices are kept and judge the run again. Then the panel as the acquisition
// window offers it, on records from a pty unit.

#include "analysis/panels/dynamicrunner.h"
#include "analysis/panels/walltestpanel.h"
#include "charts/chartfeeder.h"
#include "shell/rememberedsettings.h"
#include "support/acquisitionrig.h"
#include "support/recordedrun.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

constexpr double Hour = 3600;

struct Wall
{
    double q, tsi, tse;
};

// Three sensors: sensor 1's heat flux and temperature on the warm side, sensor 2's temperature on
// the cold side, sensor 3 the other way round (its heat flux negative, its temperature 1 K above
// sensor 2's). A record every `step` seconds up to `hours`.
void fill(RecordedRun *run, double hours, double step, const std::function<Wall(double)> &wall)
{
    for (double t = 0; t <= hours * Hour; t += step) {
        const Wall w = wall(t);
        run->append(t, {w.q, w.tsi, w.q / 2, w.tse, -w.q, w.tse + 1});
    }
}

Wall steady(double)
{
    return {8, 20, 0};
}

Wall swinging(double t)
{
    const double day = std::sin(2 * M_PI * t / 86400);
    return {8 + 2 * day + 1.5 * std::exp(-t / 60000), 20 + 0.3 * day, 2 * day};
}

// The same records handed one by one to a WallTest of its own.
std::unique_ptr<WallTest> fedAtOnce(const RecordedRun &run, const WallTestSetup &setup)
{
    auto test = std::make_unique<WallTest>(setup.settings);
    const WallTestChannels c = setup.channels();
    for (int i = 0; i < run.time.size(); ++i)
        test->append(run.time[i], run.channels[size_t(c.heatFlux - 1)][i],
                     run.channels[size_t(c.warm - 1)][i], run.channels[size_t(c.cold - 1)][i]);
    return test;
}

// The first number in a text, as the operator reads it.
double numberIn(const QString &text)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("-?\\d+(\\.\\d+)?(e[-+]?\\d+)?")).match(text);
    return m.hasMatch() ? m.captured().toDouble() : qQNaN();
}

struct PanelRig
{
    RecordedRun run;
    int sensors = 3;
    WallTestSetup stored;
    int stores = 0;
    std::unique_ptr<WallTestPanel> panel;

    explicit PanelRig(const WallTestSetup &setup = {}, const WallTestRunContext &context = {})
    {
        panel = std::make_unique<WallTestPanel>(
            run.view(), [this] { return sensors; },
            WallTestMemory{[setup] { return setup; },
                           [this](const WallTestSetup &s) {
                               stored = s;
                               ++stores;
                           }},
            nullptr, context);
        panel->show();
    }
    QString text(const QString &label) const { return panel->findChild<QLabel *>(label)->text(); }
    template <typename T> T *widget(const char *name) const
    {
        return panel->findChild<T *>(QLatin1String(name));
    }
    void catchUp() const
    {
        panel->catchUp();
        QTRY_VERIFY(!panel->isCatchingUp() && panel->isShowingAllTaken());
        QTRY_VERIFY(!panel->dynamicAnalysis().isBusy() && panel->dynamicAnalysis().latest());
    }
};

} // namespace

class TestWallTestPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void showsTheStateOfTheRun();
    void saysWhenHeatFlowsTheOtherWay();
    void anEmptiedRunStartsOver();
    void catchingUpInSlicesEndsAsTakingAllAtOnce();
    void choicesAreKeptAndJudgeTheRunAgain();
    void offeredInTheAcquisitionWindow();
    void dynamicMethodBesideTheAverage();
    void correctionForTheSensorsTemperature();
    void notifiesOnceWhenALiveTestMayStop();
    void savesTheReport();
};

void TestWallTestPanel::showsTheStateOfTheRun()
{
    // A steady wall, 20 K across and 8 W/m^2 through, for four days: R = 2.5 m^2K/W exactly, U =
    // 1 / (0.13 + 2.5 + 0.04); A passes from 72 h, B from 24 h, C from 36 h, D (nothing stored) from 48 h.
    WallTestSetup setup;
    setup.settings.capacity = 50;
    PanelRig rig(setup);
    fill(&rig.run, 96, 60, steady);
    rig.catchUp();
    QCOMPARE(rig.text("resistance"), QStringLiteral("R = 2.5 m\u00b2K/W"));
    QCOMPARE(rig.text("transmittance"), QStringLiteral("U = 0.3745 W/(m\u00b2K)"));
    const char *firsts[] = {"72.00 h", "24.00 h", "36.00 h", "48.00 h"};
    for (int c = 0; c < 4; ++c) {
        const QString prefix = QStringLiteral("criterion") + QChar('A' + c);
        QCOMPARE(rig.text(prefix + "Verdict"), QStringLiteral("pass"));
        QCOMPARE(rig.text(prefix + "FirstPassed"), QLatin1String(firsts[c]));
        QCOMPARE(rig.text(prefix + "LastPassed"), QStringLiteral("96.00 h"));
    }
    QVERIFY2(rig.text("mayStop").contains(
                 "may stop: all assessed criteria have held at every record since 72.00 h"),
             qPrintable(rig.text("mayStop")));
    QVERIFY(rig.text("extent").startsWith("Records up to 96.00 h: 5761 used, 0 skipped"));
    QVERIFY(rig.panel->findChild<QLabel *>("flowProblem")->isHidden());

    // A settling wall over three days: what is shown is the state of a WallTest fed the same records.
    RecordedRun &run = rig.run;
    run.clear();
    fill(&run, 70, 45, swinging);
    rig.catchUp();
    const auto reference = fedAtOnce(run, setup);
    const WallTestState &s = reference->state();
    QCOMPARE(wallTestEverything(rig.panel->analysis()), wallTestEverything(*reference));
    QVERIFY(std::fabs(numberIn(rig.text("resistance")) - *s.r) <= 5e-4 * *s.r);
    QVERIFY(std::fabs(numberIn(rig.text("transmittance")) - *s.u) <= 5e-4 * *s.u);
    const QString words[] = {"not assessed", "fail", "pass"}; // by Verdict
    for (int c = 0; c < 4; ++c) {
        const QString prefix = QStringLiteral("criterion") + QChar('A' + c);
        const CriterionState &criterion = s.criteria[size_t(c)];
        QCOMPARE(rig.text(prefix + "Verdict"), words[int(criterion.verdict)]);
        for (const auto &[label, time] : {std::pair{"FirstPassed", criterion.firstPassed},
                                          std::pair{"LastPassed", criterion.lastPassed}}) {
            const QString shown = rig.text(prefix + label);
            QVERIFY2(time ? std::fabs(numberIn(shown) - *time / Hour) <= 0.005 : shown == "never",
                     qPrintable(shown));
        }
    }
    QVERIFY(!s.mayStopSince && rig.text("mayStop").startsWith("The test may not stop yet: A"));
}

void TestWallTestPanel::saysWhenHeatFlowsTheOtherWay()
{
    // Sensor 3 measures the heat flux the other way round; chosen as the heat flux, there is no R.
    WallTestSetup setup;
    setup.heatFluxSensor = 3;
    PanelRig rig(setup);
    fill(&rig.run, 30, 60, steady);
    rig.catchUp();
    QCOMPARE(rig.text("resistance"), QStringLiteral("R: none (see below)"));
    QCOMPARE(rig.text("transmittance"), QStringLiteral("U: none"));
    QVERIFY(rig.panel->findChild<QLabel *>("flowProblem")->isVisible());
    QVERIFY2(rig.text("flowProblem")
                 .startsWith("Heat flows the other way: the heat flux sums to -1.441e+04 W/m^2 "
                             "over 1801 records"),
             qPrintable(rig.text("flowProblem")));
    QCOMPARE(rig.text("criterionBVerdict"), QStringLiteral("fail"));
}

void TestWallTestPanel::anEmptiedRunStartsOver()
{
    PanelRig rig;
    fill(&rig.run, 30, 60, steady);
    rig.catchUp();
    QCOMPARE(rig.panel->analysis().state().records, qint64(1801));
    rig.run.clear();
    rig.catchUp();
    QCOMPARE(rig.panel->analysis().state().records, qint64(0));
    QCOMPARE(rig.text("extent"), QStringLiteral("No records yet"));
    QCOMPARE(rig.text("resistance"), QStringLiteral("R: no records yet"));
    fill(&rig.run, 50, 30, swinging); // more records than before, none of them seen
    rig.catchUp();
    QCOMPARE(wallTestEverything(rig.panel->analysis()), wallTestEverything(*fedAtOnce(rig.run, {})));
}

void TestWallTestPanel::catchingUpInSlicesEndsAsTakingAllAtOnce()
{
    PanelRig rig;
    rig.panel->setSliceBudget(0); // one step a turn of the event loop
    fill(&rig.run, 100, 15, swinging);
    const qint64 records = rig.run.time.size();
    QVERIFY(records > 10 * WallTestPanel::StepRecords);
    rig.panel->catchUp();
    QVERIFY(rig.panel->isCatchingUp());
    QCOMPARE(rig.panel->analysis().takenFromSeries(), qint64(WallTestPanel::StepRecords));
    QVERIFY(!rig.widget<QGroupBox>("results")->isEnabled()); // what it shows is not the run's yet
    const auto *progress = rig.panel->findChild<QLabel *>("catchingUp");
    QVERIFY(progress->isVisible());
    QVERIFY2(progress->text().contains(QStringLiteral(" % of %1 records").arg(records)),
             qPrintable(progress->text()));
    // Records keep coming meanwhile.
    QTest::qWait(1);
    const double last = rig.run.time.last();
    for (int i = 1; i <= 100; ++i)
        rig.run.append(last + 15 * i, {9, 20, -9, 0, 0, 20});
    QTRY_VERIFY(!rig.panel->isCatchingUp());
    QVERIFY(progress->isHidden() && rig.widget<QGroupBox>("results")->isEnabled());
    QCOMPARE(rig.panel->analysis().takenFromSeries(), records + 100);
    QCOMPARE(wallTestEverything(rig.panel->analysis()), wallTestEverything(*fedAtOnce(rig.run, {})));
}

void TestWallTestPanel::choicesAreKeptAndJudgeTheRunAgain()
{
    PanelRig rig;
    fill(&rig.run, 60, 60, swinging);
    rig.catchUp();
    auto sameAsFedAtOnce = [&rig] {
        QTRY_VERIFY(!rig.panel->isCatchingUp());
        QCOMPARE(rig.stored, rig.panel->setup());
        QCOMPARE(wallTestEverything(rig.panel->analysis()),
                 wallTestEverything(*fedAtOnce(rig.run, rig.stored)));
    };
    // Only the run's sensors are offered; the operator picks sensor 3's T as the cold side.
    auto *cold = rig.widget<QComboBox>("coldSensor");
    QCOMPARE(cold->count(), 3);
    cold->setFocus();
    QTest::keyClick(cold, Qt::Key_Down);
    QCOMPARE(rig.stores, 1);
    QCOMPARE(rig.stored.coldSensor, 3);
    sameAsFedAtOnce();

    rig.widget<QCheckBox>("heavyElement")->click();
    QVERIFY(rig.stored.settings.heavy);
    sameAsFedAtOnce();

    // A capacity that is no number, or a negative one, is refused and said so; empty is none.
    auto *capacity = rig.widget<QLineEdit>("arealHeatCapacity");
    auto *problem = rig.panel->findChild<QLabel *>("settingsProblem");
    for (const char *typed : {"abc", "-3", "12.5", ""}) {
        const int stores = rig.stores;
        capacity->setText(QLatin1String(typed));
        emit capacity->editingFinished();
        const bool refused = QByteArray(typed) == "abc" || QByteArray(typed) == "-3";
        QCOMPARE(problem->isVisible(), refused);
        QCOMPARE(rig.stores, stores + (refused ? 0 : 1));
        if (!refused)
            QCOMPARE(rig.stored.settings.capacity, *typed ? std::optional<double>(12.5) : std::nullopt);
    }
    sameAsFedAtOnce();

    // The surface resistances change U only: U = 1 / (R_si + R + R_se).
    rig.widget<QDoubleSpinBox>("insideSurfaceResistance")->setValue(0.25);
    QCOMPARE(rig.stored.settings.rsi, 0.25);
    const WallTestState &s = rig.panel->analysis().state();
    QCOMPARE(*s.u, 1 / (0.25 + *s.r + 0.04));
    QTRY_VERIFY(rig.panel->isShowingAllTaken());
    QVERIFY(std::fabs(numberIn(rig.text("transmittance")) - *s.u) <= 5e-4 * *s.u);

    // A run of one sensor offers only that one; a choice beyond it falls back to it.
    PanelRig one(rig.stored);
    one.sensors = 1;
    one.catchUp();
    QCOMPARE(one.widget<QComboBox>("coldSensor")->count(), 1);
    QCOMPARE(one.panel->setup().coldSensor, 1);
}

void TestWallTestPanel::offeredInTheAcquisitionWindow()
{
    RememberedSettings().forgetAll();
    WallTestSetup remembered;
    remembered.settings.capacity = 20;
    RememberedSettings().setWallTestSetup(remembered);
    AcquisitionRig rig(2);
    rig.start();
    for (int i = 0; i < 20; ++i)
        rig.send(QByteArray::number(8 + i % 3) + ",20,1," + QByteArray::number(i % 2) + "\n");
    QAction *action = rig.widget<QAction>("actionWallTest");
    QVERIFY(action && rig.widget<QCustomPlot>("plot")->actions().contains(action));
    QVERIFY(rig.widget<QCustomPlot>("plot2")->actions().contains(action));
    action->trigger();
    auto *panel = rig.window->findChild<WallTestPanel *>();
    QVERIFY(panel && panel->isVisible());
    QCOMPARE(panel->setup(), remembered);
    // Kept up at the charts' pace, from the window's own series.
    rig.send("10,20,1,0\n");
    QTRY_COMPARE(panel->analysis().state().records, qint64(rig.records()));
    QCOMPARE(panel->analysis().state().heatFluxSum, 8.0 * 7 + 9 * 7 + 10 * 7);
    rig.reset();
    QTRY_COMPARE(panel->analysis().state().records, qint64(0));
    // The operator's change is there at the next start; closing only hides the panel.
    panel->findChild<QCheckBox *>("heavyElement")->click();
    QVERIFY(RememberedSettings().wallTestSetup().settings.heavy);
    panel->close();
    action->trigger();
    QCOMPARE(rig.window->findChildren<WallTestPanel *>().size(), 1);
}

void TestWallTestPanel::dynamicMethodBesideTheAverage()
{
    // Steady, 20 K across and 8 W/m^2 through, for 30 h: the steady model, R = 2.5.
    PanelRig rig;
    fill(&rig.run, 30, 60, steady);
    rig.catchUp();
    QVERIFY2(
        rig.text("dynamicResistance").startsWith(QStringLiteral("R = 2.5 m\u00b2K/W (95 %: 2.5 to 2.5)")),
        qPrintable(rig.text("dynamicResistance")));
    QVERIFY(rig.text("dynamicTransmittance").startsWith(QStringLiteral("U = 0.3745 W/(m\u00b2K)")));
    QVERIFY2(
        rig.text("dynamicModel")
            .contains(
                "steady model (neither temperature moved); 30 whole interval(s) of 1 h (0 without records)"),
        qPrintable(rig.text("dynamicModel")));
    const DynamicRunner &dynamic = rig.panel->dynamicAnalysis();
    const int runs = dynamic.analysesRun();

    // Records within the same hour add no whole interval: no new analysis. The next hour does.
    const double last = rig.run.time.last();
    for (double t = last + 60; t < 30.9 * Hour; t += 60)
        rig.run.append(t, {8, 20, 4, 0, -8, 1});
    rig.catchUp();
    QCOMPARE(dynamic.analysesRun(), runs);
    for (double t = 30.9 * Hour; t < 31.5 * Hour; t += 60)
        rig.run.append(t, {8, 20, 4, 0, -8, 1});
    rig.catchUp();
    QCOMPARE(dynamic.analysesRun(), runs + 1);
    QVERIFY(rig.text("dynamicModel").contains("31 whole interval(s)"));

    // A new interval in the panel takes the run again: 15 intervals of 2 h.
    rig.widget<QDoubleSpinBox>("dynamicStep")->setValue(2);
    QCOMPARE(rig.stored.settings.step, 2 * Hour);
    rig.catchUp();
    QVERIFY2(rig.text("dynamicModel").contains("15 whole interval(s) of 2 h"),
             qPrintable(rig.text("dynamicModel")));

    // Too short: why there is no R, in words.
    rig.run.clear();
    fill(&rig.run, 5, 60, swinging);
    rig.catchUp();
    QCOMPARE(rig.text("dynamicResistance"), QStringLiteral("R: none"));
    QVERIFY(rig.text("dynamicModel").startsWith("Too few intervals for the dynamic method"));
}

void TestWallTestPanel::correctionForTheSensorsTemperature()
{
    // Sensor 1 gives q and T_si (20 degC). Calibrated at 25 degC with +0.2 %/K, its sensitivity at
    // 20 degC is 0.99 of the one sent: the 8 W/m^2 read were 8 / 0.99, so R = 20 * 0.99 / 8.
    // Each change goes into the run's description.
    QList<QByteArray> described;
    WallTestRunContext context;
    context.describe = [&](const QByteArray &line) { described << line; };
    PanelRig rig({}, context);
    fill(&rig.run, 30, 60, steady);
    rig.catchUp();
    rig.widget<QDoubleSpinBox>("calibrationTemperature1")->setValue(25);
    rig.widget<QDoubleSpinBox>("temperatureCoefficient1")->setValue(0.2);
    QCOMPARE(rig.stored.corrections[0], (FluxCorrection{0.2, 25}));
    rig.catchUp();
    QCOMPARE(rig.text("resistance"), QStringLiteral("R = 2.475 m\u00b2K/W"));
    QVERIFY(rig.text("dynamicResistance").startsWith(QStringLiteral("R = 2.475 m\u00b2K/W")));
    // The series keep what the unit sent.
    QCOMPARE(rig.run.channels[0].first(), 8.0);
    // Another sensor's coefficient is kept but changes nothing here.
    rig.widget<QDoubleSpinBox>("temperatureCoefficient2")->setValue(-1);
    QCOMPARE(rig.stored.corrections[1].coefficient, -1.0);
    rig.catchUp();
    QCOMPARE(rig.text("resistance"), QStringLiteral("R = 2.475 m\u00b2K/W"));
    QCOMPARE(described,
             (QList<QByteArray>{"Temperature coefficient of sensor 1 (%/K, T_cal in C): 0.2, 25\n",
                                "Temperature coefficient of sensor 2 (%/K, T_cal in C): -1, 25\n"}));
    // Only the run's sensors are offered.
    QVERIFY(rig.widget<QDoubleSpinBox>("temperatureCoefficient3")->isVisible());
    QVERIFY(!rig.widget<QDoubleSpinBox>("temperatureCoefficient4")->isVisible());
    // Remembered: a panel made later shows them.
    PanelRig later(rig.stored);
    QCOMPARE(later.widget<QDoubleSpinBox>("temperatureCoefficient1")->value(), 0.2);
    QCOMPARE(later.widget<QDoubleSpinBox>("calibrationTemperature1")->value(), 25.0);
}

void TestWallTestPanel::notifiesOnceWhenALiveTestMayStop()
{
    int told = 0;
    QString said;
    WallTestPanel::setStopNotifier([&](const QString &summary, const QString &body) {
        ++told;
        said = summary + ": " + body;
    });
    WallTestRunContext live;
    live.live = true;
    PanelRig rig({}, live);
    fill(&rig.run, 71, 60, steady);
    rig.catchUp();
    QCOMPARE(told, 0);
    for (double t = 71 * Hour + 60; t <= 80 * Hour; t += 60) {
        rig.run.append(t, {8, 20, 4, 0, -8, 1});
        if (int(t) % 3600 == 0)
            rig.catchUp();
    }
    rig.catchUp();
    QCOMPARE(told, 1);
    QVERIFY2(said.startsWith(
                 "The wall test may stop: All assessed criteria have held at every record since 72.00 h "
                 "(R = 2.5 m\u00b2K/W)"),
             qPrintable(said));
    // A run begun again may stop again: told once more.
    rig.run.clear();
    fill(&rig.run, 75, 60, steady);
    rig.catchUp();
    QCOMPARE(told, 2);
    // A recording looked at afterwards tells nobody.
    PanelRig review;
    fill(&review.run, 80, 60, steady);
    review.catchUp();
    QCOMPARE(told, 2);
    WallTestPanel::setStopNotifier({});
}

void TestWallTestPanel::savesTheReport()
{
    QTemporaryDir folder;
    WallTestRunContext context;
    context.source = [] { return QStringLiteral("run-7.csv"); };
    context.events = [] {
        RunEvent opened;
        opened.time = 3600;
        opened.note = QStringLiteral("door opened");
        return QVector<RunEvent>{opened};
    };
    PanelRig rig({}, context);
    fill(&rig.run, 30, 60, steady);
    rig.catchUp();
    auto *element = rig.widget<QLineEdit>("element");
    element->setText(QStringLiteral("Partition wall, room 2.14"));
    emit element->editingFinished();
    QCOMPARE(rig.stored.element, QStringLiteral("Partition wall, room 2.14"));
    QString proposed;
    const QString pdf = folder.filePath("report.pdf");
    rig.panel->setReportFileChooser([&](const QString &proposal) {
        proposed = proposal;
        return pdf;
    });
    rig.widget<QPushButton>("saveReport")->click();
    QCOMPARE(proposed, QStringLiteral("run-7-wall-test.pdf"));
    QVERIFY2(rig.text("reportStatus").startsWith("Report saved"), qPrintable(rig.text("reportStatus")));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-");
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QFAIL("pdftotext is needed (Debian poppler-utils, scripts/install-deps.sh installs it)");
    QProcess text;
    text.start(pdftotext, {pdf, "-"});
    QVERIFY(text.waitForFinished(30000));
    const QString said = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    for (const char *expected :
         {"Partition wall, room 2.14", "run-7.csv", "door opened", "Average 2.5", "Dynamic 2.5"})
        QVERIFY2(said.contains(QLatin1String(expected)), expected);
    // A folder that isn't there: said, and nothing else happens.
    rig.panel->setReportFileChooser([&](const QString &) { return folder.filePath("none/report.pdf"); });
    rig.widget<QPushButton>("saveReport")->click();
    QVERIFY2(rig.text("reportStatus").startsWith("The report could not be saved"),
             qPrintable(rig.text("reportStatus")));
}

QTEST_MAIN(TestWallTestPanel)
#include "tst_walltestpanel.moc"

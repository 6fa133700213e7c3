// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/panels/walltestpanel.h"

#include "analysis/panels/dynamicrunner.h"
#include "analysis/panels/walltestchart.h"
#include "analysis/panels/walltestpdf.h"
#include "analysis/walltesttexts.h"
#include "charts/chartfeeder.h"
#include "charts/chartview.h"
#include "data/csvnumber.h"
#include "data/descriptionfile.h"
#include "data/version.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString ResistanceSuffix = QStringLiteral(" m\u00b2K/W");

QLabel *namedLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    return label;
}

QDoubleSpinBox *resistanceBox(const QString &name, double value, QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, 10);
    box->setDecimals(3);
    box->setSingleStep(0.01);
    box->setSuffix(ResistanceSuffix);
    box->setValue(value);
    box->setKeyboardTracking(false); // a typed number counts when it is complete
    return box;
}

// Colour says it twice; the words say it first.
void showColoured(QLabel *label, const QString &text, const QColor &colour)
{
    if (label->text() == text)
        return;
    label->setText(text);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
}

QColor verdictColour(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QColor(0, 128, 0);
    case Verdict::Fail:
        return QColor(190, 0, 0);
    case Verdict::NotAssessed:
        break;
    }
    return QColor(100, 100, 100);
}

// The capacity as typed, in the operator's locale or with a decimal point; empty is none.
bool readCapacity(const QString &typed, std::optional<double> *capacity)
{
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        capacity->reset();
        return true;
    }
    bool ok = false;
    double value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    if (ok)
        *capacity = value;
    return ok;
}

DesktopNotifier &stopNotifier()
{
    static DesktopNotifier notifier = notifyDesktop;
    return notifier;
}

QDoubleSpinBox *numberBox(const QString &name, double low, double high, int decimals, const QString &suffix,
                          double value, QWidget *parent)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(low, high);
    box->setDecimals(decimals);
    box->setSuffix(suffix);
    box->setValue(value);
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

void WallTestPanel::setStopNotifier(const DesktopNotifier &notifier)
{
    stopNotifier() = notifier;
}

WallTestPanel::WallTestPanel(const RecordedSeries &series, std::function<int()> sensorCount,
                             const WallTestMemory &memory, QWidget *parent, const WallTestRunContext &context)
    : QWidget(parent, Qt::Window), series(series), sensorCount(std::move(sensorCount)), memory(memory),
      context(context), current(memory.load()), dynamic(new DynamicRunner(this))
{
    setObjectName(QStringLiteral("wallTestPanel"));
    setWindowTitle(tr("Wall Test: Thermal Resistance by the Average and the Dynamic Method"));
    if (!current.settings.problem().isEmpty())
        current.settings = WallTestSettings();
    for (FluxCorrection &c : current.corrections) {
        if (!c.problem().isEmpty())
            c = FluxCorrection();
    }
    connect(dynamic, &DynamicRunner::finished, this, &WallTestPanel::showDynamic);
    buildForm();
    startOver();
}

WallTestPanel::~WallTestPanel() = default;

void WallTestPanel::buildForm()
{
    auto *layout = new QVBoxLayout(this);

    auto *choices = new QGroupBox(tr("Sensors and element"), this);
    auto *form = new QFormLayout(choices);
    const char *const boxNames[] = {"heatFluxSensor", "warmSensor", "coldSensor"};
    const char *const boxLabels[] = {QT_TR_NOOP("Heat flux q (W/m\u00b2), positive from warm to cold:"),
                                     QT_TR_NOOP("Warm side surface temperature T_si (\u00b0C):"),
                                     QT_TR_NOOP("Cold side surface temperature T_se (\u00b0C):")};
    for (size_t i = 0; i < sensorBoxes.size(); ++i) {
        sensorBoxes[i] = new QComboBox(choices);
        sensorBoxes[i]->setObjectName(QLatin1String(boxNames[i]));
        form->addRow(tr(boxLabels[i]), sensorBoxes[i]);
        connect(sensorBoxes[i], QOverload<int>::of(&QComboBox::activated), this,
                &WallTestPanel::chooseSensors);
    }
    heavyBox = new QCheckBox(tr("Heavy element (above 20 kJ/(m\u00b2K)): judged at whole days"), choices);
    heavyBox->setObjectName(QStringLiteral("heavyElement"));
    heavyBox->setChecked(current.settings.heavy);
    form->addRow(heavyBox);
    auto *resistances = new QHBoxLayout;
    rsiBox = resistanceBox(QStringLiteral("insideSurfaceResistance"), current.settings.rsi, choices);
    rseBox = resistanceBox(QStringLiteral("outsideSurfaceResistance"), current.settings.rse, choices);
    resistances->addWidget(new QLabel(tr("R_si"), choices));
    resistances->addWidget(rsiBox);
    resistances->addWidget(new QLabel(tr("R_se"), choices));
    resistances->addWidget(rseBox);
    form->addRow(tr("Surface resistances (for U):"), resistances);
    capacityEdit = new QLineEdit(choices);
    capacityEdit->setObjectName(QStringLiteral("arealHeatCapacity"));
    capacityEdit->setPlaceholderText(tr("kJ/(m\u00b2K); empty: criterion D not assessed"));
    if (current.settings.capacity)
        capacityEdit->setText(QLocale().toString(*current.settings.capacity, 'g', 15));
    form->addRow(tr("Areal heat capacity C (kJ/(m\u00b2K)):"), capacityEdit);
    stepBox = numberBox(QStringLiteral("dynamicStep"), DynamicMethod::MinStep / 3600,
                        DynamicMethod::MaxStep / 3600, 2, tr(" h"), current.settings.step / 3600, choices);
    stepBox->setSingleStep(0.5);
    form->addRow(tr("Dynamic method's interval \u0394t:"), stepBox);
    connect(stepBox, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &WallTestPanel::editSettings);
    elementEdit = new QLineEdit(current.element, choices);
    elementEdit->setObjectName(QStringLiteral("element"));
    elementEdit->setPlaceholderText(tr("for the report: what is measured"));
    placeEdit = new QLineEdit(current.place, choices);
    placeEdit->setObjectName(QStringLiteral("place"));
    placeEdit->setPlaceholderText(tr("for the report: where"));
    form->addRow(tr("Element:"), elementEdit);
    form->addRow(tr("Place:"), placeEdit);
    for (QLineEdit *edit : {elementEdit, placeEdit}) {
        edit->setMaxLength(256); // as long as remembered settings keep texts
        connect(edit, &QLineEdit::editingFinished, this, &WallTestPanel::editReportTexts);
    }
    settingsProblem = namedLabel(QStringLiteral("settingsProblem"), choices);
    settingsProblem->setStyleSheet(QStringLiteral("color: #be0000;"));
    settingsProblem->hide();
    form->addRow(settingsProblem);
    connect(heavyBox, &QCheckBox::toggled, this, &WallTestPanel::editSettings);
    for (QDoubleSpinBox *box : {rsiBox, rseBox})
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &WallTestPanel::editSettings);
    connect(capacityEdit, &QLineEdit::editingFinished, this, &WallTestPanel::editSettings);
    layout->addWidget(choices);

    // E(T) = E_cal (1 + TD/100 (T - T_cal)): the heat-flux sensor's own temperature corrects q.
    auto *corrections =
        new QGroupBox(tr("Sensors' temperature: sensitivity E(T) = E_cal (1 + TD/100 (T - T_cal))"), this);
    auto *correctionGrid = new QGridLayout(corrections);
    for (int k = 0; k < 4; ++k) {
        CorrectionRow &row = correctionRows[size_t(k)];
        const FluxCorrection &c = current.corrections[size_t(k)];
        row.label = new QLabel(tr("Sensor %1:").arg(k + 1), corrections);
        row.coefficient =
            numberBox(QStringLiteral("temperatureCoefficient%1").arg(k + 1), -FluxCorrection::MaxCoefficient,
                      FluxCorrection::MaxCoefficient, 3, tr(" %/K"), c.coefficient, corrections);
        row.coefficient->setSingleStep(0.05);
        row.coefficient->setPrefix(tr("TD "));
        row.calibration = numberBox(QStringLiteral("calibrationTemperature%1").arg(k + 1), -100, 200, 1,
                                    tr(" \u00b0C"), c.calibration, corrections);
        row.calibration->setPrefix(tr("T_cal "));
        correctionGrid->addWidget(row.label, k, 0);
        correctionGrid->addWidget(row.coefficient, k, 1);
        correctionGrid->addWidget(row.calibration, k, 2);
        for (QDoubleSpinBox *box : {row.coefficient, row.calibration})
            connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                    &WallTestPanel::editCorrections);
    }
    correctionGrid->setColumnStretch(3, 1);
    layout->addWidget(corrections);

    results = new QGroupBox(tr("Now"), this);
    results->setObjectName(QStringLiteral("results"));
    auto *grid = new QGridLayout(results);
    resistance = namedLabel(QStringLiteral("resistance"), results);
    transmittance = namedLabel(QStringLiteral("transmittance"), results);
    QFont big = resistance->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    resistance->setFont(big);
    transmittance->setFont(big);
    grid->addWidget(resistance, 0, 0, 1, 3);
    grid->addWidget(transmittance, 0, 3, 1, 3);
    flowProblem = namedLabel(QStringLiteral("flowProblem"), results);
    flowProblem->setWordWrap(true);
    flowProblem->setStyleSheet(QStringLiteral("color: #be0000;"));
    grid->addWidget(flowProblem, 1, 0, 1, 6);
    extent = namedLabel(QStringLiteral("extent"), results);
    extent->setWordWrap(true);
    grid->addWidget(extent, 2, 0, 1, 6);
    const QString headings[] = {tr("Criterion"), QString(),          tr("Now"),
                                tr("Judged on"), tr("First passed"), tr("Last passed")};
    for (int column = 0; column < 6; ++column) {
        auto *heading = new QLabel(QStringLiteral("<b>%1</b>").arg(headings[column]), results);
        grid->addWidget(heading, 3, column);
    }
    const WallTestTexts meanings = describeWallTest(WallTestState(), current.settings);
    for (int c = 0; c < 4; ++c) {
        const QString prefix = QStringLiteral("criterion") + QChar('A' + c);
        grid->addWidget(new QLabel(QStringLiteral("<b>%1</b>").arg(QChar('A' + c)), results), 4 + c, 0);
        grid->addWidget(new QLabel(meanings.criteria[size_t(c)].meaning, results), 4 + c, 1);
        CriterionRow &row = criterionRows[size_t(c)];
        row.verdict = namedLabel(prefix + QStringLiteral("Verdict"), results);
        row.detail = namedLabel(prefix + QStringLiteral("Detail"), results);
        row.firstPassed = namedLabel(prefix + QStringLiteral("FirstPassed"), results);
        row.lastPassed = namedLabel(prefix + QStringLiteral("LastPassed"), results);
        QLabel *const cells[] = {row.verdict, row.detail, row.firstPassed, row.lastPassed};
        for (int column = 0; column < 4; ++column)
            grid->addWidget(cells[column], 4 + c, 2 + column);
    }
    mayStop = namedLabel(QStringLiteral("mayStop"), results);
    mayStop->setWordWrap(true);
    QFont bold = mayStop->font();
    bold.setBold(true);
    mayStop->setFont(bold);
    grid->addWidget(mayStop, 8, 0, 1, 6);
    grid->setColumnStretch(3, 1);
    layout->addWidget(results);

    auto *dynamicBox = new QGroupBox(tr("Dynamic method"), this);
    auto *dynamicGrid = new QGridLayout(dynamicBox);
    dynamicResistance = namedLabel(QStringLiteral("dynamicResistance"), dynamicBox);
    dynamicTransmittance = namedLabel(QStringLiteral("dynamicTransmittance"), dynamicBox);
    dynamicModel = namedLabel(QStringLiteral("dynamicModel"), dynamicBox);
    dynamicModel->setWordWrap(true);
    dynamicResistance->setFont(big);
    dynamicTransmittance->setFont(big);
    dynamicGrid->addWidget(dynamicResistance, 0, 0);
    dynamicGrid->addWidget(dynamicTransmittance, 0, 1);
    dynamicGrid->addWidget(dynamicModel, 1, 0, 1, 2);
    layout->addWidget(dynamicBox);

    auto *reportRow = new QHBoxLayout;
    reportButton = new QPushButton(tr("Save Report..."), this);
    reportButton->setObjectName(QStringLiteral("saveReport"));
    reportStatus = namedLabel(QStringLiteral("reportStatus"), this);
    reportStatus->setWordWrap(true);
    reportRow->addWidget(reportButton);
    reportRow->addWidget(reportStatus, 1);
    layout->addLayout(reportRow);
    connect(reportButton, &QPushButton::clicked, this, &WallTestPanel::askForReport);

    progress = namedLabel(QStringLiteral("catchingUp"), this);
    progress->hide();
    layout->addWidget(progress);
    chart = new WallTestChart(this);
    layout->addWidget(chart, 1);
}

void WallTestPanel::showSensors(int count)
{
    // Only the run's sensors are offered; a choice beyond them falls back to the last one.
    sensorsShown = count;
    int *const chosen[] = {&current.heatFluxSensor, &current.warmSensor, &current.coldSensor};
    for (size_t i = 0; i < sensorBoxes.size(); ++i) {
        QComboBox *box = sensorBoxes[i];
        const QSignalBlocker quiet(box);
        box->clear();
        for (int s = 1; s <= count; ++s)
            box->addItem(tr("Sensor %1").arg(s), s);
        if (count > 0)
            *chosen[i] = qBound(1, *chosen[i], count);
        box->setCurrentIndex(*chosen[i] - 1);
        box->setEnabled(count > 0);
    }
    for (int k = 0; k < int(correctionRows.size()); ++k) {
        const CorrectionRow &row = correctionRows[size_t(k)];
        for (QWidget *w : std::initializer_list<QWidget *>{row.label, row.coefficient, row.calibration})
            w->setVisible(k < std::max(count, 1));
    }
}

void WallTestPanel::chooseSensors()
{
    const WallTestSetup before = current;
    int *const chosen[] = {&current.heatFluxSensor, &current.warmSensor, &current.coldSensor};
    for (size_t i = 0; i < sensorBoxes.size(); ++i) {
        if (sensorBoxes[i]->currentIndex() >= 0)
            *chosen[i] = sensorBoxes[i]->currentData().toInt();
    }
    if (current == before)
        return;
    memory.store(current);
    startOver();
}

void WallTestPanel::editSettings()
{
    WallTestSettings wanted;
    wanted.heavy = heavyBox->isChecked();
    wanted.rsi = rsiBox->value();
    wanted.rse = rseBox->value();
    wanted.step = stepBox->value() * 3600;
    QString problem;
    if (!readCapacity(capacityEdit->text(), &wanted.capacity))
        problem = tr("The areal heat capacity \"%1\" is not a number (kJ/(m\u00b2K)); "
                     "the analysis goes on with the one before.")
                      .arg(capacityEdit->text());
    else
        problem = wanted.problem();
    settingsProblem->setText(problem);
    settingsProblem->setVisible(!problem.isEmpty());
    if (!problem.isEmpty())
        return;
    const WallTestSetup before = current;
    current.settings = wanted;
    if (current == before)
        return;
    memory.store(current);
    if (wanted.heavy != before.settings.heavy || wanted.capacity != before.settings.capacity ||
        wanted.step != before.settings.step) {
        // Every verdict so far depends on these (and the intervals on the step): judge the run
        // again, in slices.
        startOver();
    } else {
        test->setSettings(current.testSettings()); // U only
        takenShown = -1;
        showState();
        intervalsAsked = -1;
        analyseDynamically();
    }
}

void WallTestPanel::editCorrections()
{
    const WallTestSetup before = current;
    for (size_t k = 0; k < correctionRows.size(); ++k)
        current.corrections[k] = {correctionRows[k].coefficient->value(),
                                  correctionRows[k].calibration->value()};
    if (current == before)
        return;
    memory.store(current);
    for (size_t k = 0; k < current.corrections.size(); ++k) {
        const FluxCorrection &c = current.corrections[k];
        if (context.describe && c != before.corrections[k])
            context.describe(temperatureCoefficientLine(int(k) + 1, formatCsvNumber(c.coefficient) + ", " +
                                                                        formatCsvNumber(c.calibration)));
    }
    // Only the heat-flux sensor's correction enters the analyses.
    if (current.testSettings().correction != before.testSettings().correction)
        startOver();
}

void WallTestPanel::editReportTexts()
{
    const WallTestSetup before = current;
    current.element = elementEdit->text();
    current.place = placeEdit->text();
    if (current != before)
        memory.store(current);
}

void WallTestPanel::startOver()
{
    makeTest();
    catchUp();
}

void WallTestPanel::makeTest()
{
    test = std::make_unique<WallTest>(series, current.channels(), current.testSettings());
    takenShown = -1;
    historyShown = -1;
    slices.cancel();
    intervalsAsked = -1;
    dynamic->forget();
    showDynamic();
}

void WallTestPanel::catchUp()
{
    const int count = sensorCount ? sensorCount() : 0;
    if (count != sensorsShown) {
        const WallTestChannels before = current.channels();
        showSensors(count);
        const WallTestChannels after = current.channels();
        if (before.heatFlux != after.heatFlux || before.warm != after.warm || before.cold != after.cold)
            makeTest();
    }
    const qint64 takenBefore = test->takenFromSeries();
    test->takeFromSeries(0); // a run emptied (and maybe begun again) is taken from its start
    if (test->takenFromSeries() < takenBefore) {
        stopNoticed = false; // a new run
        intervalsAsked = -1;
        dynamic->forget();
        showDynamic();
    }
    const bool complete = slices.runSlice([this] {
        if (test->takenFromSeries() < test->availableInSeries())
            test->takeFromSeries(test->takenFromSeries() + StepRecords);
        return test->takenFromSeries() >= test->availableInSeries();
    });
    showProgress();
    if (complete) {
        showState(); // what the whole run says, not a part of it
        analyseDynamically();
        noticeMayStop();
    }
}

void WallTestPanel::analyseDynamically()
{
    // The dynamic method changes only with a whole interval more: at most once per interval of
    // run time (ten minutes or more), on a worker thread.
    const int whole = test->intervalMeans().wholeCount();
    if (whole == intervalsAsked)
        return;
    intervalsAsked = whole;
    dynamic->request(test->intervalMeans().whole(), current.settings.step, current.settings.rsi,
                     current.settings.rse);
}

void WallTestPanel::showDynamic()
{
    const DynamicTexts texts = describeDynamic(dynamic->latest() ? &*dynamic->latest() : nullptr);
    dynamicResistance->setText(texts.resistance);
    dynamicTransmittance->setText(texts.transmittance);
    dynamicModel->setText(texts.model);
    chart->showDynamic(dynamic->latest() ? *dynamic->latest() : DynamicResult());
}

void WallTestPanel::noticeMayStop()
{
    if (!context.live || stopNoticed || !test->state().mayStopSince)
        return;
    stopNoticed = true;
    if (stopNotifier())
        stopNotifier()(tr("The wall test may stop"),
                       tr("All assessed criteria have held at every record since %1 (R = %2 m\u00b2K/W).")
                           .arg(hoursText(*test->state().mayStopSince))
                           .arg(test->state().r ? QString::number(*test->state().r, 'g', 4) : tr("none")));
}

void WallTestPanel::askForReport()
{
    const QString proposal =
        (context.source ? QFileInfo(context.source()).completeBaseName() : QString()) + tr("-wall-test.pdf");
    const QString name =
        chooseReportFile ? chooseReportFile(proposal)
                         : QFileDialog::getSaveFileName(this, tr("Save Report"), proposal, tr("PDF (*.pdf)"));
    if (name.isEmpty())
        return;
    QString error;
    if (saveReport(name, &error))
        reportStatus->setText(tr("Report saved: %1").arg(QDir::toNativeSeparators(name)));
    else
        reportStatus->setText(
            tr("The report could not be saved to %1: %2").arg(QDir::toNativeSeparators(name), error));
}

bool WallTestPanel::saveReport(const QString &fileName, QString *error)
{
    // The report states the run as it stands: everything taken, and the dynamic method of it.
    test->takeFromSeries(test->availableInSeries());
    WallTestReportData data;
    data.source = context.source ? context.source() : tr("the run in this window");
    if (context.start)
        data.start = context.start();
    if (context.events)
        data.events = context.events();
    if (context.sensitivities)
        data.sensitivities = context.sensitivities();
    editReportTexts();
    data.setup = current;
    data.test = test.get();
    data.dynamic = DynamicMethod::analyse(test->intervalMeans().whole(), current.settings.step,
                                          current.settings.rsi, current.settings.rse);
    data.series = series;
    data.sensorCount = sensorCount ? sensorCount() : 0;
    data.program =
        QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(), QStringLiteral(QUELLSPAN_VERSION));
    data.made = QDateTime::currentDateTime();
    const bool written = writeWallTestPdf(fileName, data, error);
    catchUp();
    return written;
}

void WallTestPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    takenShown = -1;
    historyShown = -1;
    showState();
}

void WallTestPanel::showProgress()
{
    const qint64 available = test->availableInSeries();
    const bool behind = test->takenFromSeries() < available;
    results->setEnabled(!behind);
    progress->setVisible(behind);
    if (behind) {
        const int percent = int(100 * test->takenFromSeries() / std::max<qint64>(1, available));
        progress->setText(tr("Catching up with the run: %1 % of %2 records...").arg(percent).arg(available));
    }
}

void WallTestPanel::showState()
{
    // Hidden, nothing is drawn; and the texts are made again only when records were taken, at
    // most every MinTextIntervalMs.
    if (!isVisible() || test->takenFromSeries() == takenShown || texts.isPending())
        return;
    if (!texts.isDue()) {
        texts.request();
        return;
    }
    texts.done();
    takenShown = test->takenFromSeries();
    const WallTestState &state = test->state();
    const WallTestTexts texts = describeWallTest(state, current.settings);
    resistance->setText(texts.resistance);
    transmittance->setText(texts.transmittance);
    flowProblem->setText(texts.flowProblem);
    flowProblem->setVisible(!texts.flowProblem.isEmpty());
    extent->setText(texts.extent);
    for (size_t c = 0; c < texts.criteria.size(); ++c) {
        const WallTestTexts::Criterion &text = texts.criteria[c];
        const CriterionRow &row = criterionRows[c];
        showColoured(row.verdict, text.verdict, verdictColour(state.criteria[c].verdict));
        row.detail->setText(text.detail);
        row.firstPassed->setText(text.firstPassed);
        row.lastPassed->setText(text.lastPassed);
    }
    showColoured(mayStop, texts.mayStop, texts.stopAllowed ? QColor(0, 128, 0) : QColor(0, 0, 0));

    const QVector<WallTestPoint> &history = test->history();
    const double end = history.isEmpty() ? 0 : history.constLast().t;
    if (history.size() != historyShown || end != historyEndShown) {
        historyShown = history.size();
        historyEndShown = end;
        chart->showHistory(history);
    }
}

QAction *offerWallTestPanel(QWidget *window, ChartViewController *view, ChartFeeder *feeder,
                            const RecordedSeries &series, std::function<int()> sensorCount,
                            const WallTestMemory &memory, const WallTestRunContext &context)
{
    auto *action = new QAction(WallTestPanel::tr("Wall Test..."), window);
    action->setObjectName(QStringLiteral("actionWallTest"));
    view->addMenuAction(action);
    QObject::connect(action, &QAction::triggered, window, [=] {
        auto *panel = window->findChild<WallTestPanel *>(QString(), Qt::FindDirectChildrenOnly);
        if (!panel) {
            panel = new WallTestPanel(series, sensorCount, memory, window, context);
            QObject::connect(feeder, &ChartFeeder::redrawDue, panel, &WallTestPanel::catchUp);
        }
        panel->show();
        panel->raise();
        panel->activateWindow();
    });
    return action;
}

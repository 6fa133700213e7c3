// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/panels/desktopnotifier.h"
#include "analysis/walltest.h"
#include "analysis/walltestsetup.h"
#include "data/recordedseries.h"
#include "data/rundescription.h"
#include "pacing/pacer.h"
#include "pacing/slicedwork.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class DynamicRunner;
class WallTestChart;
struct DynamicResult;

// What the window around the panel knows of its run, for the report and the notification.
struct WallTestRunContext
{
    bool live = false; // a run being recorded: the operator is told when the test may first stop
    std::function<QString()> source;                  // the recording's file name, or what the run is
    std::function<QDateTime()> start;                 // the wall-clock time of the run's time 0
    std::function<QVector<RunEvent>()> events;        // its marks and events
    std::function<QList<QByteArray>()> sensitivities; // as sent to the unit
    // Appends a line to the run's description: a temperature coefficient changed during the run.
    std::function<void(const QByteArray &line)> describe;
};

// The wall test of a run, in a window of its own: which sensors give the heat flux and the two
// surface temperatures, the element and surface resistances, each heat-flux sensor's
// temperature coefficient, then R and U now by the average method with each criterion's verdict
// and when it first and last passed, whether the test may stop, R and U by the dynamic method with
// their interval (computed on a worker thread whenever a whole interval has been added), and the
// R(t) chart; and "Save Report..." writes the test's report as a PDF. It reads the run where it lies (a
// window's recorded series, never copied) and is told when to catch up with new records (at the charts'
// redraw pace). A long run is caught up with in slices, so that the window never stops answering.
class WallTestPanel : public QWidget
{
    Q_OBJECT

public:
    // Catching up takes at most about this long per turn of the event loop...
    static constexpr int SliceMs = 10;
    // ...in steps of this many records.
    static constexpr int StepRecords = 2048;
    // The texts are made again at most this often: repainting them at every redraw would cost
    // more than the analysis and be too fast to read.
    static constexpr int MinTextIntervalMs = 250;

    // series: the run, read where it lies; sensorCount: the sensors the run has now (only those
    // are offered); memory: where the operator's choices are read from and kept.
    WallTestPanel(const RecordedSeries &series, std::function<int()> sensorCount,
                  const WallTestMemory &memory, QWidget *parent = nullptr,
                  const WallTestRunContext &context = {});
    ~WallTestPanel() override;

    // How the operator is told that a live test may first stop (a desktop notification unless
    // set), for every panel made after.
    static void setStopNotifier(const DesktopNotifier &notifier);
    // Where "Save Report..." asks for the file (a save dialog unless set); empty: cancelled.
    void setReportFileChooser(std::function<QString(const QString &proposal)> chooser)
    {
        chooseReportFile = std::move(chooser);
    }
    // Writes the report now; false with *error set if it can't.
    bool saveReport(const QString &fileName, QString *error);
    // The dynamic method's latest result for the run as it stands, or none while it is computed.
    const DynamicRunner &dynamicAnalysis() const { return *dynamic; }

    // How long one slice may take: SliceMs unless set; 0 takes one step per turn.
    void setSliceBudget(int ms) { slices.setSliceMs(ms); }

    const WallTest &analysis() const { return *test; }
    WallTestSetup setup() const { return current; }
    bool isCatchingUp() const { return slices.isPending(); }
    // Whether the texts show the records taken so far (or the panel is hidden).
    bool isShowingAllTaken() const { return !isVisible() || takenShown == test->takenFromSeries(); }

public slots:
    // Takes the records that came since the last call (a run emptied and begun again is taken
    // from its start), for at most one slice; the rest follows at the event loop's next turns.
    void catchUp();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    void showSensors(int count);
    void chooseSensors();
    void editSettings();
    void editCorrections();
    void editReportTexts();
    void startOver();
    void makeTest(); // for the chosen sensors and settings, from the run's first record
    void showState();
    void showProgress();
    void analyseDynamically();
    void showDynamic();
    void noticeMayStop();
    void askForReport();

    RecordedSeries series;
    std::function<int()> sensorCount;
    WallTestMemory memory;
    WallTestRunContext context;
    WallTestSetup current;
    std::unique_ptr<WallTest> test;
    DynamicRunner *dynamic = nullptr;
    int intervalsAsked = -1; // the whole intervals of the last dynamic analysis asked for
    bool stopNoticed = false;
    std::function<QString(const QString &)> chooseReportFile;
    SlicedWork slices{[this] { catchUp(); }, SliceMs};
    Pacer texts{MinTextIntervalMs, [this] { showState(); }};
    int sensorsShown = -1;
    qint64 takenShown = -1;
    int historyShown = -1;
    double historyEndShown = 0;

    std::array<QComboBox *, 3> sensorBoxes{}; // heat flux, warm side, cold side
    QCheckBox *heavyBox = nullptr;
    QDoubleSpinBox *rsiBox = nullptr;
    QDoubleSpinBox *rseBox = nullptr;
    QLineEdit *capacityEdit = nullptr;
    QDoubleSpinBox *stepBox = nullptr;
    QLineEdit *elementEdit = nullptr;
    QLineEdit *placeEdit = nullptr;
    struct CorrectionRow
    {
        QLabel *label;
        QDoubleSpinBox *coefficient, *calibration;
    };
    std::array<CorrectionRow, 4> correctionRows{};
    QLabel *settingsProblem = nullptr;
    QGroupBox *results = nullptr;
    QLabel *resistance = nullptr;
    QLabel *transmittance = nullptr;
    QLabel *flowProblem = nullptr;
    QLabel *extent = nullptr;
    struct CriterionRow
    {
        QLabel *verdict, *detail, *firstPassed, *lastPassed;
    };
    std::array<CriterionRow, 4> criterionRows{};
    QLabel *mayStop = nullptr;
    QLabel *dynamicResistance = nullptr;
    QLabel *dynamicTransmittance = nullptr;
    QLabel *dynamicModel = nullptr;
    QPushButton *reportButton = nullptr;
    QLabel *reportStatus = nullptr;
    QLabel *progress = nullptr;
    WallTestChart *chart = nullptr;
};

class ChartFeeder;
class ChartViewController;

// Offers the panel in a window's chart context menu ("Wall Test..."): made when first asked for,
// then kept with the window (closing only hides it) and kept up to date at the charts' redraw
// pace. Returns the menu's action.
QAction *offerWallTestPanel(QWidget *window, ChartViewController *view, ChartFeeder *feeder,
                            const RecordedSeries &series, std::function<int()> sensorCount,
                            const WallTestMemory &memory, const WallTestRunContext &context = {});

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltest.h"
#include "analysis/walltestsetup.h"
#include "data/recordedseries.h"
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
class WallTestChart;

// The wall test of a run, in a window of its own: which sensors give the heat flux and the two
// surface temperatures, the element and surface resistances, then R and U now, each criterion
// with its verdict and when it first and last passed, whether the test may stop, and the R(t)
// chart. It reads the run where it lies (a window's recorded series, never copied) and is told
// when to catch up with new records (at the charts' redraw pace). A long run is caught up with
// in slices, so that the window never stops answering.
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
                  const WallTestMemory &memory, QWidget *parent = nullptr);
    ~WallTestPanel() override;

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
    void startOver();
    void makeTest(); // for the chosen sensors and settings, from the run's first record
    void showState();
    void showProgress();

    RecordedSeries series;
    std::function<int()> sensorCount;
    WallTestMemory memory;
    WallTestSetup current;
    std::unique_ptr<WallTest> test;
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
                            const WallTestMemory &memory);

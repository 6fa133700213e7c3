// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltestsetup.h"
#include "data/recordedseries.h"
#include "remote/rigmessages.h"

#include <QStringList>
#include <QVector>
#include <QWidget>

#include <array>

class ChartFeeder;
class ChartViewController;
class QAction;
class QCheckBox;
class QCustomPlot;
class QLabel;
class RunMarks;
class StatisticsPanel;

// One run of a watched rig, as the review window shows a recording: the same series and marks,
// filled as the run's records and events come (history first, then live), drawn by the same two
// charts (following, zoom, pan, hover, Save Image) with a check box per sensor, the latest value
// of each channel, and Statistics... and Wall Test... following the run. A stretch of records
// that will never come is said above the charts and left as a gap in the curves.
class RunView : public QWidget
{
    Q_OBJECT

public:
    RunView(const RigRun &run, const WallTestMemory &wallTest, QWidget *parent = nullptr);
    ~RunView() override;

    const RigRun &run() const { return shown; }
    // The run's next records, in order.
    void append(const RigRecords &records);
    // Records from to to - 1 will not come.
    void gap(quint64 from, quint64 to, const QString &why);
    // The run's next event: a mark, a mark's edit or deletion, or one of the program's events.
    void event(const RunEvent &event);
    // Nothing more will come: a Reset ended the run at the rig.
    void ended(bool whole);
    // Adds an action to the charts' context menu.
    void addMenuAction(QAction *action);

    int records() const { return time.size(); }
    // The seq the next record has (records held and those the gaps left out).
    quint64 nextSeq() const { return next; }
    RecordedSeries series() const;
    ChartFeeder *chartFeeder() const { return feeder; }
    ChartViewController *viewController() const { return view; }
    StatisticsPanel *statisticsPanel() const { return statistics; }
    RunMarks *marks() const { return runMarks; }
    // What the view says above the charts: gaps, the run's end.
    QStringList notes() const { return noteList; }
    // The latest values' texts, for sensor 1 first (heat flux, temperature).
    QString latestText(int sensor) const;

signals:
    // The run grew (records came).
    void grew();

private:
    void showLatest();
    void showNotes();

    RigRun shown;
    quint64 next = 0;
    QVector<double> time;
    std::array<QVector<double>, MaxChannels> channels;
    QStringList noteList;
    bool latestDue = false;

    std::array<QCheckBox *, MaxSensors> sensorBoxes{};
    std::array<QLabel *, MaxSensors> latest{};
    QLabel *notesLabel = nullptr;
    QCustomPlot *fluxChart = nullptr;
    QCustomPlot *temperatureChart = nullptr;
    ChartFeeder *feeder = nullptr;
    ChartViewController *view = nullptr;
    StatisticsPanel *statistics = nullptr;
    RunMarks *runMarks = nullptr;
};

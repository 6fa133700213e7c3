// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/runstatistics.h"
#include "data/recordedseries.h"
#include "pacing/pacer.h"
#include "pacing/slicedwork.h"

#include <QDateTime>
#include <QVector>
#include <QWidget>

#include <functional>

class ChartFeeder;
class ChartViewController;
class QAbstractItemModel;
class QComboBox;
class QLabel;
class QTableWidget;

// A point of a run that a stretch can start or end at: an operator's mark or a program event.
class RunMarks;

struct StatisticsMark
{
    double time = 0;
    QString label;
};

// The marks and events of a run that a stretch can run between, in time order: those not deleted,
// each labelled as lists label it (runEventLabel).
QVector<StatisticsMark> statisticsMarks(const RunMarks &marks);

// The statistics table's text for the clipboard: the columns of statisticsText() (channel,
// samples, mean, min, max, sd) for the channels given, then the range: from_s and to_s (elapsed
// seconds), and from and to (wall clock, ISO 8601 with the UTC offset) when start is valid.
// Numbers in their shortest round-trip text, tab-separated, one line per channel.
QByteArray statisticsCopyText(const StretchStatistics &statistics, double from, double to,
                              const QDateTime &start);

// Numbers over a stretch of a run in a small window of its own: for each shown sensor's two
// channels the samples, mean, minimum, maximum and sample standard deviation, and the stretch
// itself in elapsed seconds and, where the run's start is known, on the wall clock. The stretch
// is the time range in view, a selection made on the charts, or the time between two marks.
// It reads the run where it lies (a window's series) and follows it as it grows: the run's block
// summaries are caught up with in slices, so that a long run never holds up the window.
class StatisticsPanel : public QWidget
{
    Q_OBJECT

public:
    enum class Range
    {
        View,
        Selection,
        Marks,
    };
    // Catching up takes at most about this long per turn of the event loop...
    static constexpr int SliceMs = 10;
    // ...in steps of this many blocks of each channel.
    static constexpr int StepBlocks = 8;
    // A growing run's table is made again at most this often: faster is too fast to read.
    static constexpr int MinRefreshIntervalMs = 250;

    // series: the run, read where it lies; sensorCount: the sensors it has.
    StatisticsPanel(const RecordedSeries &series, std::function<int()> sensorCount,
                    QWidget *parent = nullptr);

    // Block summaries made beforehand over the same series (a recording read on another thread).
    void adoptSummaries(RunStatistics &&summaries);
    // Which sensors are shown (default: all); the table holds their channels only.
    void setSensorShown(std::function<bool(int sensor)> shown) { sensorShown = std::move(shown); }
    // The wall-clock time of the run's time 0, invalid when unknown.
    void setStart(std::function<QDateTime()> start) { runStart = std::move(start); }

    void setViewRange(double from, double to);
    // A selection made (the table turns to it) or cleared (the table goes back to the view).
    void setSelection(bool active, double from, double to);
    void setMarks(const QVector<StatisticsMark> &marks);
    // Keeps the marks those of a run as it goes on (statisticsMarks), for a run recorded now and a
    // run read back alike.
    void followMarks(const RunMarks *marks);
    void chooseRange(Range range);
    // The marks (indices into the list) the stretch runs between, for Range::Marks.
    void chooseMarks(int from, int to);

    Range range() const { return chosen; }
    bool isCatchingUp() const { return slices.isPending(); }
    // What the table shows now: the statistics of the shown channels and the range they are over.
    const StretchStatistics &shownStatistics() const { return shown; }
    double rangeFrom() const { return from; }
    double rangeTo() const { return to; }
    QByteArray copyText() const;

public slots:
    // The run grew: the table follows, at most every MinRefreshIntervalMs.
    void runChanged();
    // Sensors were shown or hidden: the table holds the shown ones' channels.
    void sensorsChanged();
    // The run was emptied (a reset): its summaries start over.
    void runCleared();
    // Puts copyText() on the clipboard.
    void copy();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    void catchUp();
    void refresh();
    void showRange();
    void showTable();
    void showChoices();
    void showMarkChoices();
    void rangeChosen(int index);
    int channelCount() const;

    RecordedSeries series;
    std::function<int()> sensorCount;
    std::function<bool(int)> sensorShown = [](int) { return true; };
    std::function<QDateTime()> runStart = [] { return QDateTime(); };
    RunStatistics statistics;
    int summarisedChannels = -1;

    Range chosen = Range::View;
    double viewFrom = 0, viewTo = 0;
    bool selectionActive = false;
    double selectionFrom = 0, selectionTo = 0;
    QVector<StatisticsMark> marks;
    int fromMark = 0, toMark = 1;

    // What is shown.
    double from = 0, to = 0;
    StretchStatistics shown;
    QDateTime shownStart;

    SlicedWork slices{[this] { catchUp(); }, SliceMs};
    Pacer refreshes{MinRefreshIntervalMs, [this] { refresh(); }};

    QComboBox *rangeBox = nullptr;
    QWidget *markRow = nullptr;
    QComboBox *fromMarkBox = nullptr;
    QComboBox *toMarkBox = nullptr;
    QAbstractItemModel *markChoices = nullptr; // the marks as both boxes list them
    QLabel *rangeLabel = nullptr;
    QTableWidget *table = nullptr;
};

// Offers the panel in a window's chart context menu ("Statistics..."), with Shift-drag on the
// charts to select a stretch: the panel is made now, hidden, and shown when asked for (closing
// only hides it); it follows the view, the selection and, at the charts' redraw pace, the run.
StatisticsPanel *offerStatisticsPanel(QWidget *window, ChartViewController *view, ChartFeeder *feeder,
                                      const RecordedSeries &series, std::function<int()> sensorCount);

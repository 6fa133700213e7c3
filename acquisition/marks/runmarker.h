// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/descriptionfile.h"
#include "data/rundescription.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class ChartFeeder;
class ChartMarksView;
class ChartViewController;
class LiveRecorder;
class MarksDialog;
class QAction;
class QWidget;
class RunMarks;

// Marks in the acquisition window. The operator places a mark with Ctrl+M, wherever the focus is
// in the window, or with "Mark" in the charts' context menu: at once, at the latest record's
// time, nothing modal. The program notes its own events (Start, Pause, Reset, the unit lost, back,
// silent and sending again, the live recording stopped) as marks of their own kinds. All of
// them are drawn on the charts (ChartMarksView), listed in a non-modal window ("Marks..." in the
// context menu) where notes are edited and marks deleted, and noted line by line in the live
// recording's description as they happen. "Save as..." writes a description with them beside
// the CSV.
class RunMarker : public QObject
{
    Q_OBJECT

public:
    struct Clock
    {
        std::function<double()> now;          // the run's elapsed time now, in seconds
        std::function<double()> latestRecord; // the latest record's time; NaN when there is none
    };

    RunMarker(QWidget *window, ChartFeeder *feeder, ChartViewController *view, LiveRecorder *recorder,
              Clock clock);

    RunMarks *marks() const { return runMarks; }
    ChartMarksView *chartView() const { return view; }
    QAction *markAction() const { return mark; }
    QAction *listAction() const { return showList; }
    // The marks window, once it was opened.
    MarksDialog *listWindow() const;

    // Places an operator mark at the latest record's time (the run's time now if none).
    void placeMark();

    // The window's moments. Start and Pause are noted when they change something.
    void started();
    void paused();
    // Reset: noted at the end of the run that ends (before its clock restarts), then the new run
    // starts with it (after the old recording is finished).
    void runEnds();
    void runBegins(bool acquiring);
    void unitLost(const QString &reason);
    void unitBack(const QString &portName, qint64 awayMs);
    void unitSilent(int seconds);
    void unitSending();
    void recordingStopped(const QString &reason);

    // After "Save as..." wrote csvFile: writes the run's description beside it (descriptionFileName)
    // unless a file there is not the program's own. Returns a sentence for the status bar when it
    // was not written (with a leading space), else nothing.
    QString describeSave(const QString &csvFile, const RecordingInfo &info, int samples);

private:
    void note(RunEventKind kind, const QString &text);

    QWidget *window;
    Clock clock;
    RunMarks *runMarks;
    ChartMarksView *view;
    QAction *mark;
    QAction *showList;
    QPointer<MarksDialog> list;
    bool acquiring = false;
    bool silent = false;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/panels/statisticspanel.h"
#include "analysis/walltestsetup.h"
#include "review/recordingloader.h"

#include <QMainWindow>
#include <QVector>

#include <array>
#include <functional>
#include <memory>

class ChartFeeder;
class ChartViewController;
class QAction;
class QCheckBox;
class QCustomPlot;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class RunMarks;

// A recording read back and shown as the acquisition window shows a run: the same two charts
// (pens, band drawing, zoom, pan, the whole run, hover values, Save Image), a check box per sensor
// (every sensor of the file shown at first), statistics over a stretch, and what the file's
// description tells (its start, its marks and events). No acquisition controls, no readouts.
// The file is read on a thread of its own with a progress bar and Cancel, so a long run never
// holds up the window; a file that is not a recording says why in the window.
class ReviewWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Starts reading fileName. parent: the window it belongs to (it closes with it), or none for a
    // window of its own. It is deleted when closed.
    explicit ReviewWindow(const QString &fileName, QWidget *parent = nullptr);
    ~ReviewWindow() override;

    // Where every review window's wall test reads and keeps the operator's setup (by default it
    // starts from the defaults and is kept nowhere). Set once, before the first window opens.
    static void setWallTestMemory(const WallTestMemory &memory);

    // Opens fileName in a new review window, shown beside `beside` (when given), owned by owner.
    static ReviewWindow *openBeside(QWidget *owner, QWidget *beside, const QString &fileName);

    QString fileName() const { return file; }
    bool isLoading() const;
    // The recording shown, once read (null while reading, or after a file that could not be read).
    const LoadedRecording *recording() const { return shownRecording.get(); }
    // Why the file is not shown, or empty when it is (or is being read).
    QString problem() const;
    // What was left out of the file or could not be read beside it, one sentence each.
    QStringList notes() const { return noteList; }
    ChartFeeder *chartFeeder() const { return feeder; }
    StatisticsPanel *statisticsPanel() const { return statistics; }
    // The description's marks and events, in time order.
    QVector<StatisticsMark> marks() const;

public slots:
    // Stops reading; what was read until then is shown.
    void cancelLoading();

signals:
    // The file was read and is shown, or why it is not.
    void loadFinished();

private:
    void buildForm();
    void showProgress(qint64 done, qint64 total);
    void loaded();
    void showRecording();
    void showProblem(const QString &text);
    void showSensor(int sensor, bool shown);
    void reload();
    QString title() const;

    RecordingLoader loader;
    QString file;
    std::unique_ptr<LoadedRecording> shownRecording;
    QStringList noteList;

    QStackedWidget *pages = nullptr;
    QLabel *message = nullptr;
    QWidget *loadingRow = nullptr;
    QLabel *loadingLabel = nullptr;
    QProgressBar *progress = nullptr;
    QPushButton *cancelButton = nullptr;
    QLabel *notesLabel = nullptr;
    std::array<QCheckBox *, 4> sensorBoxes{};
    QCustomPlot *fluxChart = nullptr;
    QCustomPlot *temperatureChart = nullptr;
    QAction *openAction = nullptr;

    // Made once the recording is read: they draw from its series.
    ChartFeeder *feeder = nullptr;
    ChartViewController *view = nullptr;
    StatisticsPanel *statistics = nullptr;
    RunMarks *runMarks = nullptr;
};

// Asks for recordings to open (a file dialog in folder) and opens each in a review window beside
// window, owned by owner; the action does it from a window's menus.
void askAndOpenRecordings(QWidget *owner, QWidget *window, const QString &folder);
QAction *openRecordingAction(QWidget *owner, QWidget *window, std::function<QString()> folder);

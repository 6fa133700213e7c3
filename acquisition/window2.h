// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acquisition/runsafety/backgroundsave.h"
#include "data/descriptionfile.h"
#include "data/recordparser.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <QVector>

#include <array>

class MainWindow;
class ChartFeeder;
class WindowExposure;
class LiveRecorder;
class RunState;
class RunMarker;
class RunPublisher;
class Ui_Window2;
class UnitLink;
struct RecordedSeries;

// The acquisition window: takes the unit's records while acquiring, shows them on the readouts
// and the two charts, keeps every sample since the last reset and saves them to CSV.
class Window2 : public QMainWindow
{
    Q_OBJECT

public:
    explicit Window2(MainWindow *controlPanel);
    ~Window2() override;

    // Read-only views for diagnostics, tests and benchmarks.
    const QVector<double> &recordedTimes() const { return timeData; }
    const QVector<double> &channelSeries(int channel) const; // channel 1..8
    bool isAcquiring() const { return acquiring; }
    // Lines that came while acquiring but were not records (wrong field count, overlong), and
    // lines dropped unread because acquisition was off.
    quint64 discardedLineCount() const { return linesDiscarded + lines.overlongLines(); }
    quint64 ignoredLineCount() const { return linesIgnored; }
    int pendingLineBytes() const { return lines.pendingSize(); }
    ChartFeeder *chartFeeder() const { return charts; }
    LiveRecorder *liveRecorder() const { return recorder; }
    // The run's state and its moments (started, paused, the unit lost and back, ...).
    RunState *runState() const { return state; }
    RunMarker *runMarker() const { return marker; }
    // Publishing the run to the lab's MQTT broker.
    RunPublisher *runPublisher() const { return publishing; }
    // Samples taken since the last reset that no successful "Save as..." has written.
    int unsavedSampleCount() const { return timeData.size() - savedSamples; }
    // Saves every sample since the last reset to fileName, as "Save as..." does once a name is
    // chosen. Records keep coming while the file is written; the file holds those from before.
    bool saveRun(const QString &fileName, QString *error);

private slots:
    void readSerial();
    void updateLCD1(double value);
    void updateLCD2(double value);
    void updateLCD3(double value);
    void updateLCD4(double value);
    void updateLCD5(double value);
    void updateLCD6(double value);
    void updateLCD7(double value);
    void updateLCD8(double value);
    void on_startData_clicked();
    void on_pauseData_clicked();
    void plot();
    void graph_1();
    void graph_2();
    void graph_3();
    void graph_4();
    void on_toggle1_clicked();
    void on_toggle2_clicked();
    void on_toggle3_clicked();
    void on_toggle4_clicked();
    void on_resetData_clicked();
    void on_actionSave_as_triggered();

private:
    Ui_Window2 *ui;
    MainWindow *controlPanel;
    bool acquiring = false;
    bool toggle1Checked = false;
    bool toggle2Checked = false;
    bool toggle3Checked = false;
    bool toggle4Checked = false;
    bool clockStarted = false;
    QElapsedTimer elapsedClock;
    QByteArray lastLine;
    QString serialBuffer;
    QVector<double> timeData;
    QVector<double> ch1Data, ch2Data, ch3Data, ch4Data, ch5Data, ch6Data, ch7Data, ch8Data;
    QString saveFileName;
    QString ch1Text, ch2Text, ch3Text, ch4Text, ch5Text, ch6Text, ch7Text, ch8Text;
    double ch1Value = 0, ch2Value = 0, ch3Value = 0, ch4Value = 0;
    double ch5Value = 0, ch6Value = 0, ch7Value = 0, ch8Value = 0;
    double elapsedSeconds = 0;

    // ch1Data .. ch8Data by channel, as const or mutable pointers after the window's own constness.
    template <typename Self> static auto channelSeriesList(Self *w)
    {
        return std::array{&w->ch1Data, &w->ch2Data, &w->ch3Data, &w->ch4Data,
                          &w->ch5Data, &w->ch6Data, &w->ch7Data, &w->ch8Data};
    }
    void disableAbsentSensorBoxes(int sensorCount);
    void discardIncoming(QSerialPort *port);
    void takeRecord(int sensorCount, const RecordValues &values);
    void reserveForLongRun(int channels);
    void showOnReadout(int channel, double value); // channel 1..8
    RecordedSeries recordedSeries() const;
    void showLatestReadouts();
    void showSensorNow(int sensor, bool shown);
    UnitLink *unitLink() const;
    void watchUnit();
    void unitLost(const QString &reason);
    void unitOpenFailed(const QString &portName, const QString &reason);
    void unitBack(const QString &portName, qint64 awayMs);
    double runTimeNow() const;
    // The wall-clock time of the run's time 0 (the clock's start or last reset); invalid before.
    QDateTime runStart() const { return clockStarted ? runStartedAt : QDateTime(); }
    void showRunState();
    void closeRunForQuit(const QString &why);
    // Runs the elapsed time's tick while the run's clock runs and the window is seen.
    void keepClockTicking();
    RecordingInfo describeRun() const;
    QString whereUnsavedAre() const;
    void reportDiscardedLines();
    void reportNoSensorCount();

    // Splits the port's bytes into lines, and feeds the charts.
    LineSplitter lines;
    ChartFeeder *charts = nullptr;
    WindowExposure *exposure = nullptr;
    // Readouts are repainted at the charts' pace: channels of the last record not shown yet (0:
    // none), and the elapsed time shown last.
    int readoutChannels = 0;
    double timeShown = -1;
    quint64 linesDiscarded = 0;
    quint64 linesIgnored = 0;
    // The run's live recording on disk, and how much of the run the last save holds.
    LiveRecorder *recorder = nullptr;
    int savedSamples = 0;
    // The operator's marks and the program's events during the run.
    RunMarker *marker = nullptr;
    RunPublisher *publishing = nullptr;
    // "Save as..." writes on a thread of its own, so that records keep coming during the save.
    BackgroundSave csvSave;
    // Lines discarded while acquiring are reported in the status bar, at most twice a second.
    QTimer discardReport;
    quint64 reportedDiscards = 0;
    // What the run is doing (shown in the status bar), and the elapsed time shown running while
    // acquiring even when no line comes (the unit away or silent).
    RunState *state = nullptr;
    QTimer clockTick;
    QDateTime runStartedAt;
};

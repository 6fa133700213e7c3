// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/window2.h"

#include "acquisition/marks/runmarker.h"
#include "acquisition/readouts/readoutpictures.h"
#include "acquisition/runsafety/closeguard.h"
#include "acquisition/runsafety/liverecorder.h"
#include "acquisition/runsafety/politequit.h"
#include "acquisition/runstate/runstate.h"
#include "acquisition/runstate/runstateitem.h"
#include "analysis/panels/statisticspanel.h"
#include "analysis/panels/walltestpanel.h"
#include "charts/chartfeeder.h"
#include "charts/chartsetup.h"
#include "charts/chartview.h"
#include "charts/envelopegraph.h"
#include "charts/windowexposure.h"
#include "chartwindow/chartwindow.h"
#include "control_panel/mainwindow.h"
#include "data/csvnumber.h"
#include "data/csvwriter.h"
#include "data/recordedseries.h"
#include "data/recordingsfolder.h"
#include "data/runmarks.h"
#include "data/version.h"
#include "messages/statusmessages.h"
#include "publish/ui/runpublisher.h"
#include "remote/ui/remotewindow.h"
#include "review/reviewwindow.h"
#include "shell/logopicture.h"
#include "shell/rememberedsettings.h"
#include "ui_window2.h"
#include "unit/unitlink.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>

#include <new>

namespace {

// A description written now also says which sensors' heat flux the wall test corrects for their
// temperature, as the operator set it (the CSV keeps what the unit sent).
RecordingInfo withTemperatureCoefficients(RecordingInfo info)
{
    const WallTestSetup wall = RememberedSettings().wallTestSetup();
    for (int s = 0; s < info.sensorCount && s < int(wall.corrections.size()); ++s) {
        const FluxCorrection &c = wall.corrections[size_t(s)];
        info.temperatureCoefficients.append(c.isIdentity() ? QByteArray()
                                                           : formatCsvNumber(c.coefficient) + ", " +
                                                                 formatCsvNumber(c.calibration));
    }
    return info;
}

// Whether the unit was sent a sensor count: without one, nothing can be recorded.
bool sensorCountSent(MainWindow *controlPanel)
{
    return controlPanel->sensorCount() >= 1 && controlPanel->sensorCount() <= MaxSensors;
}

} // namespace

Window2::Window2(MainWindow *controlPanel)
    : QMainWindow(controlPanel), ui(new Ui_Window2), controlPanel(controlPanel)
{
    ui->setupUi(this);
    LogoPicture::show(ui->label_2, QStringLiteral(":/Images/tarvi_logo_small.png"));
    // Status bar: the message (never cut unseen), the run's state, the live recording.
    new StatusMessages(statusBar());
    state = new RunState(this);
    state->setSensorCountSent(sensorCountSent(controlPanel));
    new RunStateItem(state, statusBar());
    // Beside the run's state: the link to the lab's broker, when the run is published.
    publishing = new RunPublisher(
        this, statusBar(),
        {[] { return RememberedSettings().publishChoice(); },
         [](const PublishChoice &choice) { RememberedSettings().setPublishChoice(choice); },
         [this] { return recorder && recorder->hasStarted() ? recorder->fileName() : QString(); },
         [this] { return recorder ? recorder->openedInfo() : RecordingInfo(); }});
    showRunMessages(state, statusBar());
    connect(state, &RunState::stateChanged, this, [this] { showRunState(); });
    ReadoutPictures::install(
        {ui->timeLCD, ui->LCD1, ui->LCD2, ui->LCD3, ui->LCD4, ui->LCD5, ui->LCD6, ui->LCD7, ui->LCD8}, this);

    setUpRunCharts(ui->plot, ui->plot2);
    charts = new ChartFeeder(ui->plot, ui->plot2, recordedSeries(), this);
    connect(charts, &ChartFeeder::redrawDue, this, [this] { showLatestReadouts(); });
    // Charts and readouts are drawn only while someone can see the window.
    exposure = new WindowExposure(this);
    connect(exposure, &WindowExposure::seenChanged, charts, &ChartFeeder::setSeen);
    connect(exposure, &WindowExposure::seenChanged, this, [this] { keepClockTicking(); });
    auto *view = new ChartViewController(charts, this);
    // Beside the data: the image dialog opens in the folder of the last successful data save.
    view->setSaveProposal([](const QString &name) { return RememberedSettings().saveProposal(name); });
    // Saved images are titled with the run's live recording and the date and time of its time 0.
    view->setImageTitle([this] {
        return ChartsTitle{recorder->hasStarted() ? QFileInfo(recorder->fileName()).fileName() : QString(),
                           runStart()};
    });
    view->setRunStart([this] { return runStart(); });
    StatisticsPanel *statistics = offerStatisticsPanel(this, view, charts, recordedSeries(),
                                                       [this] { return this->controlPanel->sensorCount(); });
    statistics->setStart([this] { return runStart(); });
    statistics->setCorrections([] { return RememberedSettings().wallTestSetup().corrections; });
    // The wall test's report states the run's recording, start, marks and events; being live,
    // the operator is told when the test may first stop.
    WallTestRunContext wallContext;
    wallContext.live = true;
    wallContext.source = [this] {
        return recorder->hasStarted() ? QFileInfo(recorder->fileName()).fileName()
                                      : tr("the run (not recorded)");
    };
    wallContext.start = [this] { return runStart(); };
    wallContext.events = [this] { return marker->marks()->events(); };
    wallContext.sensitivities = [this] { return describeRun().sensitivities; };
    wallContext.describe = [this](const QByteArray &line) { recorder->addToDescription(line); };
    offerWallTestPanel(
        this, view, charts, recordedSeries(), [this] { return this->controlPanel->sensorCount(); },
        {[] { return RememberedSettings().wallTestSetup(); },
         [](const WallTestSetup &setup) { RememberedSettings().setWallTestSetup(setup); }},
        wallContext);
    view->addMenuAction(openRecordingAction(this, this, [] { return recordingsFolder(); }));
    view->addMenuAction(watchRigAction(this, this));

    QSerialPort *port = controlPanel->serialPort();
    connect(port, SIGNAL(readyRead()), this, SLOT(readSerial()));
    serialBuffer = QStringLiteral("");
    watchUnit();

    const int n = controlPanel->sensorCount();
    qDebug() << n;
    disableAbsentSensorBoxes(n);

    recorder = new LiveRecorder(
        statusBar(), [this] { return withTemperatureCoefficients(describeRun()); }, this);
    connect(recorder, &LiveRecorder::stopped, this,
            [this](const QString &reason) { state->recordingStopped(runTimeNow(), reason); });
    marker = new RunMarker(this, charts, view, recorder,
                           {[this] { return clockStarted ? double(elapsedClock.elapsed()) / 1000.0 : 0.0; },
                            [this] { return timeData.isEmpty() ? qQNaN() : timeData.last(); }});
    // The table's stretch can run between two of the run's marks or events.
    statistics->followMarks(marker->marks());
    publishing->followMarks(marker->marks());
    connect(recorder, &LiveRecorder::stopped, publishing, &RunPublisher::recordingStopped);
    view->addMenuAction(publishing->dialogAction());
    offerChartWindow(this, {charts, view, marker->marks(), true, statistics->chartSelection()});
    PortWatcher *watcher = unitLink()->watcher();
    connect(watcher, &PortWatcher::unitLost, marker, &RunMarker::unitLost);
    connect(watcher, &PortWatcher::unitReady, marker, &RunMarker::unitBack);
    connect(watcher, &PortWatcher::unitSilent, marker, &RunMarker::unitSilent);
    connect(watcher, &PortWatcher::unitSending, marker, &RunMarker::unitSending);
    new CloseGuard(
        this,
        [this] {
            return CloseGuard::Unsaved{quint64(unsavedSampleCount()), whereUnsavedAre(),
                                       recorder->holdsWholeRun()};
        },
        [this] {
            // A successful save moves the count of saved samples on.
            const int before = savedSamples;
            ui->actionSave_as->trigger();
            return savedSamples != before;
        });
    // Asked by the system to quit: the run is closed as on a normal close, without a question.
    connect(PoliteQuit::instance(), &PoliteQuit::requested, this, &Window2::closeRunForQuit);
    // The elapsed time ticks on between records (keepClockTicking says when).
    clockTick.setInterval(250);
    connect(&clockTick, &QTimer::timeout, this, [this] {
        elapsedSeconds = double(elapsedClock.elapsed()) / 1000.0;
        charts->requestRedraw();
    });
    discardReport.setSingleShot(true);
    discardReport.setInterval(500);
    connect(&discardReport, &QTimer::timeout, this, &Window2::reportDiscardedLines);
    if (statusBar()->currentMessage().isEmpty())
        reportNoSensorCount();
}

Window2::~Window2()
{
    // Closing the window as a QWidget tells that it is no longer seen, when this is no longer a
    // Window2.
    exposure->disconnect(this);
    QSerialPort *port = controlPanel->serialPort();
    if (port->isOpen())
        port->close();
    delete ui;
}

const QVector<double> &Window2::channelSeries(int channel) const
{
    return *channelSeriesList(this)[size_t(qBound(1, channel, MaxChannels) - 1)];
}

void Window2::disableAbsentSensorBoxes(int sensorCount)
{
    // Counts outside 1..4 switch nothing off; nothing is ever switched on again.
    QCheckBox *const boxes[] = {ui->toggle1, ui->toggle2, ui->toggle3, ui->toggle4};
    if (sensorCount < 1 || sensorCount > MaxSensors)
        return;
    for (int s = sensorCount + 1; s <= MaxSensors; ++s)
        boxes[s - 1]->setEnabled(false);
}

void Window2::discardIncoming(QSerialPort *port)
{
    // Complete lines that arrive while not acquiring are never taken; a partial line is kept so
    // that its rest, arriving later, still makes one whole line and not a bogus record.
    if (!port->isOpen())
        return;
    lines.append(port->readAll());
    QByteArray line;
    while (lines.takeLine(&line))
        ++linesIgnored;
}

void Window2::readSerial()
{
    QSerialPort *port = controlPanel->serialPort();
    const int n = controlPanel->sensorCount();
    // A reconnected unit that has not had its configuration again sends no records.
    if (!acquiring || !unitLink()->watcher()->isUnitReady()) {
        discardIncoming(port);
        return;
    }
    if (!clockStarted) {
        elapsedClock.start();
        runStartedAt = QDateTime::currentDateTime();
        clockStarted = true;
        keepClockTicking();
    }
    elapsedSeconds = double(elapsedClock.elapsed()) / 1000.0;
    charts->requestRedraw(); // the elapsed-time readout, at the readouts' pace

    lines.append(port->readAll());
    // Every complete line is dealt with now, so no backlog builds up; records taken in one
    // call share its time stamp.
    QByteArray taken;
    RecordValues values;
    while (lines.takeLine(&lastLine)) {
        if (!parseRecord(lastLine, n, &values)) {
            ++linesDiscarded;
            continue;
        }
        takeRecord(n, values);
        taken = lastLine;
    }
    if (discardedLineCount() != reportedDiscards && !discardReport.isActive())
        discardReport.start();
    if (taken.isNull())
        return;

    // The field texts of the last record taken, as received.
    const QList<QByteArray> fields = taken.split(',');
    QString *const texts[] = {&ch1Text, &ch2Text, &ch3Text, &ch4Text, &ch5Text, &ch6Text, &ch7Text, &ch8Text};
    for (int k = 0; k < fields.size() && k < MaxChannels; ++k)
        *texts[k] = QString::fromUtf8(fields[k]);
    plot();
}

void Window2::takeRecord(int sensorCount, const RecordValues &values)
{
    double *const current[] = {&ch1Value, &ch2Value, &ch3Value, &ch4Value,
                               &ch5Value, &ch6Value, &ch7Value, &ch8Value};
    const auto series = channelSeriesList(this);
    const int channels = 2 * sensorCount;
    for (int k = 0; k < channels; ++k)
        *current[k] = values[size_t(k)];
    // The readouts show the latest values at the charts' pace (showLatestReadouts).
    readoutChannels = channels;
    // A save in progress reads the series where they lie: what would move them waits for it.
    if (!csvSave.hasRoomForOneMore())
        csvSave.wait();
    if (timeData.size() == timeData.capacity() && timeData.capacity() < LongRunRecords)
        reserveForLongRun(channels);
    for (int k = 0; k < channels; ++k)
        series[k]->append(values[size_t(k)]);
    timeData.append(elapsedSeconds);
    charts->append(sensorCount, elapsedSeconds, values);
    recorder->record(elapsedSeconds, values, channels);
    publishing->record(elapsedSeconds, values, channels);
}

void Window2::reserveForLongRun(int channels)
{
    // A vector that outgrows its room is copied whole into a larger one: at 8 million records
    // that takes over half a second, and lines arriving meanwhile would be stamped that late.
    // So the series get room for a long run before they need it. Only address space is taken;
    // memory is used as records come in. With less address space to spare, less is reserved.
    const auto series = channelSeriesList(this);
    for (int room = LongRunRecords; room >= LongRunRecords / 64; room /= 4) {
        try {
            timeData.reserve(room);
            for (int k = 0; k < channels && k < MaxChannels; ++k)
                series[size_t(k)]->reserve(room);
            return;
        } catch (const std::bad_alloc &) {
            qWarning() << "Could not reserve room for" << room << "records; trying less";
        }
    }
}

void Window2::showOnReadout(int channel, double value)
{
    // A plain switch. Calls through an array of member-function pointers made GCC 12's
    // sanitizer build take the array index from a stack slot it had never written, which
    // aborted the run as an out-of-bounds index whenever that slot held a large value.
    switch (channel) {
    case 1:
        updateLCD1(value);
        break;
    case 2:
        updateLCD2(value);
        break;
    case 3:
        updateLCD3(value);
        break;
    case 4:
        updateLCD4(value);
        break;
    case 5:
        updateLCD5(value);
        break;
    case 6:
        updateLCD6(value);
        break;
    case 7:
        updateLCD7(value);
        break;
    case 8:
        updateLCD8(value);
        break;
    default:
        break;
    }
}

RecordedSeries Window2::recordedSeries() const
{
    RecordedSeries series;
    series.time = &timeData;
    const auto channels = channelSeriesList(this);
    std::copy(channels.begin(), channels.end(), series.channels.begin());
    return series;
}

void Window2::showLatestReadouts()
{
    // Repainting nine readouts for every record would cost more than everything else a record
    // does; once per redraw, with the latest values, is as much as anyone can read.
    const double current[] = {ch1Value, ch2Value, ch3Value, ch4Value, ch5Value, ch6Value, ch7Value, ch8Value};
    const QLCDNumber *const shown[] = {ui->LCD1, ui->LCD2, ui->LCD3, ui->LCD4,
                                       ui->LCD5, ui->LCD6, ui->LCD7, ui->LCD8};
    for (int k = 0; k < readoutChannels && k < MaxChannels; ++k) {
        if (shown[k]->value() != current[k]) // an unchanged readout is not repainted
            showOnReadout(k + 1, current[k]);
    }
    readoutChannels = 0;
    if (clockStarted && elapsedSeconds != timeShown) {
        timeShown = elapsedSeconds;
        ui->timeLCD->display(elapsedSeconds);
    }
}

void Window2::updateLCD1(double value)
{
    ui->LCD1->display(value);
}

void Window2::updateLCD2(double value)
{
    ui->LCD2->display(value);
}

void Window2::updateLCD3(double value)
{
    ui->LCD3->display(value);
}

void Window2::updateLCD4(double value)
{
    ui->LCD4->display(value);
}

void Window2::updateLCD5(double value)
{
    ui->LCD5->display(value);
}

void Window2::updateLCD6(double value)
{
    ui->LCD6->display(value);
}

void Window2::updateLCD7(double value)
{
    ui->LCD7->display(value);
}

void Window2::updateLCD8(double value)
{
    ui->LCD8->display(value);
}

void Window2::on_startData_clicked()
{
    // What arrived while stopped is dropped. The port's buffer is drained rather than cleared:
    // clearing would also throw away bytes of the line in progress and join its head to a
    // later tail.
    discardIncoming(controlPanel->serialPort());
    acquiring = true;
    keepClockTicking();
    marker->started();
    unitLink()->watcher()->setSilenceWatched(true);
    state->setSensorCountSent(sensorCountSent(controlPanel));
    state->started(runTimeNow());
    reportNoSensorCount();
}

void Window2::on_pauseData_clicked()
{
    acquiring = false;
    keepClockTicking();
    marker->paused();
    recorder->syncSoon();
    unitLink()->watcher()->setSilenceWatched(false);
    state->paused(runTimeNow());
}

void Window2::plot()
{
    switch (controlPanel->sensorCount()) {
    case 4:
        graph_1();
        graph_2();
        graph_3();
        graph_4();
        break;
    case 3:
        graph_1();
        graph_2();
        graph_3();
        break;
    case 2:
        graph_1();
        graph_2();
        break;
    case 1:
        graph_1();
        break;
    default:
        return;
    }
    charts->requestRedraw();
}

void Window2::graph_1()
{
    charts->applySensor(1, toggle1Checked);
}

void Window2::graph_2()
{
    charts->applySensor(2, toggle2Checked);
}

void Window2::graph_3()
{
    charts->applySensor(3, toggle3Checked);
}

void Window2::graph_4()
{
    charts->applySensor(4, toggle4Checked);
}

void Window2::on_toggle1_clicked()
{
    toggle1Checked = ui->toggle1->isChecked();
    showSensorNow(1, toggle1Checked);
}

void Window2::on_toggle2_clicked()
{
    toggle2Checked = ui->toggle2->isChecked();
    showSensorNow(2, toggle2Checked);
}

void Window2::on_toggle3_clicked()
{
    toggle3Checked = ui->toggle3->isChecked();
    showSensorNow(3, toggle3Checked);
}

void Window2::on_toggle4_clicked()
{
    toggle4Checked = ui->toggle4->isChecked();
    showSensorNow(4, toggle4Checked);
}

void Window2::showSensorNow(int sensor, bool shown)
{
    // Sensors beyond the count have no data; their graphs are left alone.
    if (sensor > controlPanel->sensorCount())
        return;
    charts->applySensor(sensor, shown);
    charts->requestRedraw(true);
}

void Window2::on_resetData_clicked()
{
    csvSave.wait();
    marker->runEnds();
    elapsedClock.restart();
    runStartedAt = QDateTime::currentDateTime();
    timeData.clear();
    for (QVector<double> *series : channelSeriesList(this))
        series->clear();
    charts->clear();
    charts->requestRedraw(true);
    // The run so far stays on disk, complete; the next record starts a new recording.
    recorder->finish();
    publishing->runEnds();
    marker->runBegins(acquiring);
    savedSamples = 0;
}

bool Window2::saveRun(const QString &fileName, QString *error)
{
    // The file holds the samples there are now; those arriving during the save are not in it
    // and stay unsaved.
    const int samples = timeData.size();
    if (!csvSave.save(fileName, recordedSeries(), controlPanel->sensorCount(), error))
        return false;
    savedSamples = samples;
    return true;
}

void Window2::on_actionSave_as_triggered()
{
    const int n = controlPanel->sensorCount();
    // The dialog opens in the folder of the last successful save, if any.
    RememberedSettings remembered;
    saveFileName = QFileDialog::getSaveFileName(
        this, tr("Save File"), remembered.saveProposal(QStringLiteral("test.csv")), tr("Data (*.csv)"));
    if (!saveFileName.isEmpty()) {
        QString error;
        if (saveRun(saveFileName, &error)) {
            remembered.rememberSaveFolderOf(saveFileName);
            // The file written, which is not the name chosen when that is a link.
            const QString written = savedFileName(saveFileName);
            QString file = QDir::toNativeSeparators(written);
            if (written != saveFileName)
                file += tr(" (through the link %1)").arg(QDir::toNativeSeparators(saveFileName));
            statusBar()->showMessage(savedSamples == 1
                                         ? tr("Saved 1 sample to %1.").arg(file)
                                         : tr("Saved %1 samples to %2.").arg(savedSamples).arg(file));
            // The run's description beside it; the status bar says so when it is not written.
            if (const QString why = marker->describeSave(
                    saveFileName, withTemperatureCoefficients(describeRun()), savedSamples);
                !why.isEmpty())
                statusBar()->showMessage(statusBar()->currentMessage() + why);
        } else {
            QMessageBox::warning(this, tr("Save Error"),
                                 tr("The data could not be saved to %1.\n%2").arg(saveFileName, error));
        }
    }
    disableAbsentSensorBoxes(n);
}

void Window2::watchUnit()
{
    // The watcher notices a unit that goes away and brings it back; this window keeps the run
    // going meanwhile and tells the operator without interrupting it.
    PortWatcher *watcher = unitLink()->watcher();
    connect(watcher, &PortWatcher::unitLost, this, &Window2::unitLost);
    connect(watcher, &PortWatcher::openFailed, this, &Window2::unitOpenFailed);
    connect(watcher, &PortWatcher::unitReady, this, &Window2::unitBack);
    connect(watcher, &PortWatcher::unitSilent, this,
            [this](int seconds) { state->unitSilent(runTimeNow(), seconds); });
    connect(watcher, &PortWatcher::unitSending, this, [this] { state->unitSending(runTimeNow()); });
    if (!watcher->isUnitReady())
        state->unitMissing();
    if (watcher->state() == PortWatcher::State::Searching)
        statusBar()->showMessage(tr("No measuring unit is connected. Looking for it every second..."));
}

void Window2::unitLost(const QString &reason)
{
    // A line cut off by the unplug must never be completed by bytes from after it.
    lines.clear();
    state->unitLost(runTimeNow(), reason);
}

void Window2::unitOpenFailed(const QString &portName, const QString &reason)
{
    statusBar()->showMessage(
        tr("The measuring unit was found at %1 but cannot be opened: %2. The recorded data "
           "is kept. Trying again every second...")
            .arg(portName, reason));
}

void Window2::unitBack(const QString &portName, qint64 awayMs)
{
    // What came while the unit restarted is not part of any record.
    lines.clear();
    state->unitBack(runTimeNow(), portName, awayMs);
}

UnitLink *Window2::unitLink() const
{
    // The link of the port borrowed from the control panel, which owns both.
    return UnitLink::of(controlPanel->serialPort());
}

double Window2::runTimeNow() const
{
    return clockStarted ? double(elapsedClock.elapsed()) / 1000.0 : -1.0;
}

void Window2::showRunState()
{
    // While the unit is away the readouts keep its last values, shown disabled.
    showReadoutsAway({ui->LCD1, ui->LCD2, ui->LCD3, ui->LCD4, ui->LCD5, ui->LCD6, ui->LCD7, ui->LCD8},
                     state->state() == RunState::State::UnitAway);
}

void Window2::keepClockTicking()
{
    // Only while the clock runs and someone can see its readout: a paused, stopped or unseen
    // window has no timer firing for nothing.
    const bool needed = acquiring && clockStarted && charts->isSeen();
    if (needed && !clockTick.isActive())
        clockTick.start();
    else if (!needed)
        clockTick.stop();
}

void Window2::closeRunForQuit(const QString &why)
{
    // No more records: the recording closes now with everything taken, and no new one opens.
    acquiring = false;
    keepClockTicking();
    recorder->closeForQuit(why, quint64(unsavedSampleCount()));
    // The broker hears "offline" before the connection goes.
    publishing->stop();
}

RecordingInfo Window2::describeRun() const
{
    RecordingInfo info;
    // The wall-clock time of the run's time 0 (the clock's start or last reset).
    info.start = clockStarted ? runStartedAt : QDateTime::currentDateTime();
    info.sensorCount = controlPanel->sensorCount();
    // The sensitivities of the sensors in use, and of any other sensor that was sent one.
    const QList<QByteArray> sent = unitLink()->sentSensitivities();
    int listed = qBound(0, info.sensorCount, int(sent.size()));
    for (int s = listed; s < sent.size(); ++s) {
        if (!sent[s].isNull())
            listed = s + 1;
    }
    info.sensitivities = sent.mid(0, listed);
    info.program =
        QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(), QStringLiteral(QUELLSPAN_VERSION));
    return info;
}

QString Window2::whereUnsavedAre() const
{
    const QString file = QDir::toNativeSeparators(recorder->fileName());
    if (recorder->holdsWholeRun())
        return tr("The live recording %1 holds all of them.").arg(file);
    if (!recorder->hasStarted() || file.isEmpty())
        return tr("They are not in any live recording: if you close anyway, they are lost.");
    return tr("The live recording %1 holds only the first %2 samples (it stopped: %3); if you close anyway, "
              "the rest are lost.")
        .arg(file)
        .arg(recorder->recordedSamples())
        .arg(recorder->problem());
}

void Window2::reportDiscardedLines()
{
    const quint64 discarded = discardedLineCount();
    if (discarded == reportedDiscards)
        return;
    reportedDiscards = discarded;
    const int n = controlPanel->sensorCount();
    if (n < 1 || n > MaxSensors) {
        reportNoSensorCount();
        return;
    }
    statusBar()->showMessage(
        discarded == 1 ? tr("1 line from the unit was not %1 numbers and was not recorded.").arg(2 * n)
                       : tr("%1 lines from the unit were not %2 numbers and were not recorded.")
                             .arg(discarded)
                             .arg(2 * n));
}

void Window2::reportNoSensorCount()
{
    const int n = controlPanel->sensorCount();
    if (n >= 1 && n <= MaxSensors)
        return;
    statusBar()->showMessage(
        tr("No sensor count was sent to the unit (Set Number of Sensors), so nothing can "
           "be recorded."));
}

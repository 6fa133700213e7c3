// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/reviewwindow.h"

#include "analysis/panels/statisticspanel.h"
#include "analysis/panels/walltestpanel.h"
#include "charts/chartalignment.h"
#include "charts/chartfeeder.h"
#include "charts/chartimage.h"
#include "charts/chartmarksview.h"
#include "charts/chartsetup.h"
#include "charts/chartview.h"
#include "chartwindow/chartwindow.h"
#include "data/counted.h"
#include "data/csvnumber.h"
#include "data/runmarks.h"
#include "placement/windowplacement.h"
#include "remote/ui/remotewindow.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>

namespace {

// "1 sample", "2 samples": as the window's texts count them.
QString samplesText(qint64 n)
{
    return counted(n, ReviewWindow::tr("sample"), ReviewWindow::tr("samples"));
}

WallTestMemory &wallTestMemory()
{
    static WallTestMemory memory;
    return memory;
}

} // namespace

ReviewWindow::ReviewWindow(const QString &fileName, QWidget *parent)
    : QMainWindow(parent, Qt::Window), file(fileName)
{
    setObjectName(QStringLiteral("ReviewWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The acquisition window's font, which its charts inherit: the same labels and the same plot
    // area, so that both windows draw a run alike.
    setFont(QFont(QStringLiteral("Arial"), 12));
    buildForm();
    setWindowTitle(title());
    connect(&loader, &RecordingLoader::progressed, this, &ReviewWindow::showProgress);
    connect(&loader, &RecordingLoader::finished, this, &ReviewWindow::loaded);
    loadingLabel->setText(tr("Reading %1 ...").arg(QFileInfo(file).fileName()));
    loader.start(file);
}

ReviewWindow::~ReviewWindow() = default;

void ReviewWindow::buildForm()
{
    pages = new QStackedWidget(this);
    setCentralWidget(pages);

    // The run: the sensors' check boxes, what was left out and the two charts, shown from the
    // start (so that showing the run later does not lay them out and draw them once more).
    // While the file is read, the status bar shows the progress and Cancel.
    auto *chartsPage = new QWidget(pages);
    auto *chartsLayout = new QVBoxLayout(chartsPage);
    loadingRow = new QWidget(this);
    auto *loadingLayout = new QHBoxLayout(loadingRow);
    loadingLayout->setContentsMargins(0, 0, 0, 0);
    loadingLabel = new QLabel(loadingRow);
    progress = new QProgressBar(loadingRow);
    progress->setObjectName(QStringLiteral("loadProgress"));
    progress->setRange(0, 1000);
    progress->setValue(0);
    cancelButton = new QPushButton(tr("Cancel"), loadingRow);
    cancelButton->setObjectName(QStringLiteral("cancelLoading"));
    cancelButton->setToolTip(tr("Stops reading and shows what was read so far."));
    loadingLayout->addWidget(loadingLabel);
    loadingLayout->addWidget(progress, 1);
    loadingLayout->addWidget(cancelButton);
    statusBar()->addPermanentWidget(loadingRow, 1);
    connect(cancelButton, &QPushButton::clicked, this, &ReviewWindow::cancelLoading);

    auto *sensorRow = new QHBoxLayout;
    for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
        auto *box = new QCheckBox(tr("Sensor %1").arg(sensor), chartsPage);
        box->setObjectName(QStringLiteral("sensor%1Box").arg(sensor));
        box->setStyleSheet(QStringLiteral("QCheckBox { color: %1; }").arg(sensorColour(sensor).name()));
        box->setEnabled(false);
        connect(box, &QCheckBox::toggled, this, [this, sensor](bool on) { showSensor(sensor, on); });
        sensorBoxes[size_t(sensor - 1)] = box;
        sensorRow->addWidget(box);
    }
    sensorRow->addStretch(1);
    chartsLayout->addLayout(sensorRow);
    notesLabel = new QLabel(chartsPage);
    notesLabel->setObjectName(QStringLiteral("reviewNotes"));
    notesLabel->setWordWrap(true);
    notesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notesLabel->setStyleSheet(QStringLiteral("QLabel { background: #fff4c8; padding: 4px; }"));
    notesLabel->hide();
    chartsLayout->addWidget(notesLabel);
    fluxChart = new QCustomPlot(chartsPage);
    fluxChart->setObjectName(QStringLiteral("plot"));
    temperatureChart = new QCustomPlot(chartsPage);
    temperatureChart->setObjectName(QStringLiteral("plot2"));
    setUpRunCharts(fluxChart, temperatureChart);
    // They grow with the window; their plot areas start at the same x, so a time is at one x.
    new ChartAlignment(fluxChart, temperatureChart);
    chartsLayout->addWidget(fluxChart, 1);
    chartsLayout->addWidget(temperatureChart, 1);
    pages->addWidget(chartsPage);

    // A file that cannot be shown: why, in place of the charts.
    message = new QLabel(pages);
    message->setObjectName(QStringLiteral("reviewMessage"));
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignCenter);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->setMargin(24);
    pages->addWidget(message);

    QMenu *fileMenu = menuBar()->addMenu(tr("&File"));
    openAction = openRecordingAction(parentWidget(), this, [this] { return QFileInfo(file).absolutePath(); });
    openAction->setShortcut(QKeySequence::Open);
    fileMenu->addAction(openAction);
    QAction *reloadAction = fileMenu->addAction(tr("&Reload"), this, &ReviewWindow::reload);
    reloadAction->setObjectName(QStringLiteral("actionReload"));
    reloadAction->setShortcut(QKeySequence::Refresh);
    reloadAction->setToolTip(tr("Reads the file again, with what was added to it since."));
    fileMenu->addSeparator();
    QAction *closeAction = fileMenu->addAction(tr("&Close"), this, &QWidget::close);
    closeAction->setShortcut(QKeySequence::Close);
    resize(1000, 720);
}

ReviewWindow *ReviewWindow::openBeside(QWidget *owner, QWidget *beside, const QString &fileName)
{
    auto *window = new ReviewWindow(fileName, owner);
    placeBeside(window, beside);
    window->show();
    return window;
}

bool ReviewWindow::isLoading() const
{
    return loader.isLoading();
}

QString ReviewWindow::problem() const
{
    return pages->currentWidget() == message ? message->text() : QString();
}

void ReviewWindow::cancelLoading()
{
    loader.cancel();
    cancelButton->setEnabled(false);
}

void ReviewWindow::showProgress(qint64 done, qint64 total)
{
    progress->setValue(total > 0 ? int(done * 1000 / total) : 0);
}

void ReviewWindow::loaded()
{
    loadingRow->hide();
    std::unique_ptr<LoadedRecording> r = loader.take();
    const RecordingReadReport &report = r->report;
    if (!r->hasSamples()) {
        showProblem(report.ok() ? RecordingReadReport{}.errorMessage() : report.errorMessage());
        emit loadFinished();
        return;
    }
    noteList = report.notes();
    if (report.status == RecordingReadReport::Cancelled)
        noteList.prepend(
            tr("Reading was cancelled: only the first %1 shown.").arg(samplesText(r->data.rows())));
    else if (!report.ok())
        noteList.prepend(
            tr("%1 Only the first %2 shown.").arg(report.errorMessage(), samplesText(r->data.rows())));
    if (!r->descriptionProblem.isEmpty())
        noteList << tr("The description beside the file could not be read: %1").arg(r->descriptionProblem);
    else if (r->description.truncated)
        noteList << tr("The description beside the file is too long: only its start was read.");
    shownRecording = std::move(r);
    showRecording();
    emit loadFinished();
}

void ReviewWindow::showProblem(const QString &text)
{
    message->setText(tr("%1 cannot be shown.\n\n%2").arg(QDir::toNativeSeparators(file), text));
    pages->setCurrentWidget(message);
    statusBar()->showMessage(text);
}

QVector<StatisticsMark> ReviewWindow::marks() const
{
    return runMarks ? statisticsMarks(*runMarks) : QVector<StatisticsMark>();
}

void ReviewWindow::showRecording()
{
    LoadedRecording *r = shownRecording.get();
    const int sensors = r->data.sensorCount;
    feeder = new ChartFeeder(fluxChart, temperatureChart, r->data.series(), this);
    feeder->adoptSummaries(std::move(r->charts));
    view = new ChartViewController(feeder, this);
    // The image is proposed beside the recording, named after it.
    const QFileInfo info(file);
    view->setSaveProposal(
        [info](const QString &) { return info.absoluteDir().filePath(info.completeBaseName() + ".png"); });
    const QDateTime start = r->start();
    // Saved images are titled with the recording and the run's start, as the acquisition
    // window's are.
    view->setImageTitle([name = info.fileName(), start] { return ChartsTitle{name, start}; });
    view->setRunStart([start] { return start; });
    statistics = offerStatisticsPanel(this, view, feeder, r->data.series(), [sensors] { return sensors; });
    statistics->adoptSummaries(std::move(r->statistics));
    statistics->setStart([start] { return start; });
    statistics->setCorrections([] { return wallTestMemory().load().corrections; });
    // The marks and events of the description, drawn as the acquisition window drew them and
    // offered to the statistics as it offered them.
    runMarks = new RunMarks(this);
    runMarks->reserve(int(r->description.events.size()));
    for (const RunEvent &e : qAsConst(r->description.events))
        runMarks->addRecorded(e);
    r->description.events = {}; // held once, by the marks

    auto *marksView = new ChartMarksView(feeder, runMarks, this);
    marksView->setEditable(false);
    marksView->setTimeFormat([view = view] { return view->timeFormat(); });
    statistics->followMarks(runMarks);
    WallTestRunContext wallContext;
    wallContext.source = [name = info.fileName()] { return name; };
    wallContext.start = [start] { return start; };
    // The description's events are held by the marks alone.
    wallContext.events = [marks = runMarks] { return marks->events(); };
    wallContext.sensitivities = [sent = r->description.sensitivities] { return sent; };
    offerWallTestPanel(
        this, view, feeder, r->data.series(), [sensors] { return sensors; }, wallTestMemory(), wallContext);
    view->addMenuAction(openAction);
    offerChartWindow(this, {feeder, view, runMarks, false, statistics->chartSelection()});
    view->addMenuAction(watchRigAction(parentWidget(), this));

    for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
        QCheckBox *box = sensorBoxes[size_t(sensor - 1)];
        const QSignalBlocker quiet(box); // one drawing for all of them, below
        box->setEnabled(sensor <= sensors);
        box->setChecked(sensor <= sensors);
        feeder->applySensor(sensor, sensor <= sensors);
    }
    // Values beyond what a chart's axis reaches are in the statistics and the wall test, not on
    // the charts: said rather than left as curves that seem to be missing.
    for (int channel = 0; channel < 2 * sensors; ++channel) {
        double lowest = 0, highest = 0;
        if (feeder->data().valueBounds(channel, &lowest, &highest) &&
            std::max(std::fabs(lowest), std::fabs(highest)) > drawableLimit()) {
            noteList << tr("Some values lie beyond \u00b1%1, further than the charts reach: they are not "
                           "drawn, but "
                           "the statistics and the wall test take them.")
                            .arg(drawableLimit(), 0, 'g', 2);
            break;
        }
    }
    notesLabel->setText(noteList.join(QLatin1Char('\n')));
    notesLabel->setVisible(!noteList.isEmpty());
    setWindowTitle(title());
    const QVector<double> &t = r->data.time;
    const QString span = tr("%1 s to %2 s").arg(shownNumber(t.first(), 3), shownNumber(t.last(), 3));
    statusBar()->showMessage(
        tr("%1 of %2, from %3.")
            .arg(samplesText(t.size()), counted(sensors, tr("sensor"), tr("sensors")), span));
    feeder->requestRedraw(true);
}

void ReviewWindow::showSensor(int sensor, bool shown)
{
    if (!feeder)
        return;
    feeder->applySensor(sensor, shown);
    feeder->requestRedraw(true);
}

void ReviewWindow::reload()
{
    // A fresh window in this one's place: the file is read again from its start.
    auto *again = new ReviewWindow(file, parentWidget());
    again->setGeometry(geometry());
    again->show();
    close();
}

void ReviewWindow::setWallTestMemory(const WallTestMemory &memory)
{
    wallTestMemory() = memory;
}

QString ReviewWindow::title() const
{
    QString text = QFileInfo(file).fileName();
    if (shownRecording) {
        const QDateTime start = shownRecording->start();
        if (start.isValid())
            text = tr("%1, started %2").arg(text, start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        if (shownRecording->report.status != RecordingReadReport::Read)
            text += tr(" (partly read)");
    }
    return tr("%1 - Quellspan").arg(text);
}

void askAndOpenRecordings(QWidget *owner, QWidget *window, const QString &folder)
{
    const QStringList names =
        QFileDialog::getOpenFileNames(window, ReviewWindow::tr("Open Recording"), folder,
                                      ReviewWindow::tr("Recordings (*.csv);;All files (*)"));
    for (const QString &name : names)
        ReviewWindow::openBeside(owner, window, name);
}

QAction *openRecordingAction(QWidget *owner, QWidget *window, std::function<QString()> folder)
{
    auto *action = new QAction(ReviewWindow::tr("Open Recording..."), window);
    action->setObjectName(QStringLiteral("actionOpenRecording"));
    QObject::connect(action, &QAction::triggered, window,
                     [owner, window, folder] { askAndOpenRecordings(owner, window, folder()); });
    return action;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/ui/runview.h"

#include "analysis/panels/statisticspanel.h"
#include "analysis/panels/walltestpanel.h"
#include "charts/chartfeeder.h"
#include "charts/chartmarksview.h"
#include "charts/chartsetup.h"
#include "charts/chartview.h"
#include "charts/measuringgaps.h"
#include "data/csvnumber.h"
#include "data/runmarks.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <qcustomplot.h>

RunView::RunView(const RigRun &run, const WallTestMemory &wallTest, QWidget *parent)
    : QWidget(parent), shown(run)
{
    const int sensors = run.sensorCount;
    auto *layout = new QVBoxLayout(this);
    auto *sensorRow = new QHBoxLayout;
    for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
        const QString colour = sensorColour(sensor).name();
        auto *box = new QCheckBox(tr("Sensor %1").arg(sensor), this);
        box->setObjectName(QStringLiteral("sensor%1Box").arg(sensor));
        box->setStyleSheet(QStringLiteral("QCheckBox { color: %1; }").arg(colour));
        box->setEnabled(sensor <= sensors);
        box->setChecked(sensor <= sensors);
        sensorBoxes[size_t(sensor - 1)] = box;
        sensorRow->addWidget(box);
        // The channel's latest values beside the sensor's box, in its colour.
        auto *values = new QLabel(this);
        values->setObjectName(QStringLiteral("latest%1").arg(sensor));
        values->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(colour));
        values->setVisible(sensor <= sensors);
        latest[size_t(sensor - 1)] = values;
        sensorRow->addWidget(values);
        sensorRow->addSpacing(12);
    }
    sensorRow->addStretch(1);
    layout->addLayout(sensorRow);
    notesLabel = new QLabel(this);
    notesLabel->setObjectName(QStringLiteral("remoteNotes"));
    notesLabel->setWordWrap(true);
    notesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notesLabel->setStyleSheet(QStringLiteral("QLabel { background: #fff4c8; padding: 4px; }"));
    notesLabel->hide();
    layout->addWidget(notesLabel);
    fluxChart = new QCustomPlot(this);
    fluxChart->setObjectName(QStringLiteral("plot"));
    temperatureChart = new QCustomPlot(this);
    temperatureChart->setObjectName(QStringLiteral("plot2"));
    setUpRunCharts(fluxChart, temperatureChart);
    layout->addWidget(fluxChart, 1);
    layout->addWidget(temperatureChart, 1);

    const RecordedSeries recorded = series();
    feeder = new ChartFeeder(fluxChart, temperatureChart, recorded, this);
    view = new ChartViewController(feeder, this);
    const QDateTime start = run.start;
    const QString name = run.recording.isEmpty() ? run.start.toString(Qt::ISODate) : run.recording;
    view->setImageTitle([name, start] { return ChartsTitle{name, start}; });
    statistics = offerStatisticsPanel(this, view, feeder, recorded, [sensors] { return sensors; });
    statistics->setStart([start] { return start; });
    runMarks = new RunMarks(this);
    (new ChartMarksView(feeder, runMarks, this))->setEditable(false);
    statistics->followMarks(runMarks);
    offerWallTestPanel(
        this, view, feeder, recorded, [sensors] { return sensors; }, wallTest);
    connect(feeder, &ChartFeeder::redrawDue, this, &RunView::showLatest);

    for (int sensor = 1; sensor <= MaxSensors; ++sensor) {
        feeder->applySensor(sensor, sensor <= sensors);
        connect(sensorBoxes[size_t(sensor - 1)], &QCheckBox::toggled, this, [this, sensor](bool on) {
            feeder->applySensor(sensor, on);
            feeder->requestRedraw(true);
        });
    }
}

RunView::~RunView() = default;

RecordedSeries RunView::series() const
{
    RecordedSeries s;
    s.time = &time;
    for (int k = 0; k < MaxChannels; ++k)
        s.channels[size_t(k)] = &channels[size_t(k)];
    return s;
}

void RunView::append(const RigRecords &records)
{
    const int channelCount = records.fieldCount - 1;
    if (records.rows == 0 || channelCount != 2 * shown.sensorCount)
        return;
    if (time.capacity() < time.size() + records.rows) {
        // Room for what came and as much again, so that a long history is not copied over and over.
        const int room = std::max(time.size() + records.rows, 2 * time.size());
        time.reserve(room);
        for (int k = 0; k < channelCount; ++k)
            channels[size_t(k)].reserve(room);
    }
    RecordValues values{};
    for (int row = 0; row < records.rows; ++row) {
        const double *fields = records.row(row);
        for (int k = 0; k < channelCount; ++k) {
            values[size_t(k)] = fields[k + 1];
            channels[size_t(k)].append(fields[k + 1]);
        }
        time.append(fields[0]);
        feeder->append(shown.sensorCount, fields[0], values);
    }
    next = records.first + quint64(records.rows);
    latestDue = true;
    feeder->requestRedraw();
    emit grew();
}

void RunView::gap(quint64 from, quint64 to, const QString &why)
{
    // Drawn as a gap: the curves break where the missing records would be.
    if (!time.isEmpty())
        feeder->noteQuietFrom(time.constLast());
    next = to;
    noteList << (to - from == 1
                     ? tr("Record %1 of the run is missing: %2.").arg(from).arg(why)
                     : tr("Records %1 to %2 of the run are missing: %3.").arg(from).arg(to - 1).arg(why));
    showNotes();
}

void RunView::event(const RunEvent &e)
{
    switch (e.kind) {
    case RunEventKind::MarkEdit:
        runMarks->setNote(e.markNumber, e.note);
        break;
    case RunEventKind::MarkDelete:
        runMarks->deleteMark(e.markNumber);
        break;
    default:
        runMarks->addRecorded(e);
        break;
    }
    // Nothing is measured while the rig is paused or its unit away: the curves break there, by
    // the rule the rig's own window and a review follow.
    if (endsMeasuring(e.kind))
        feeder->noteQuietFrom(e.time);
}

void RunView::ended(bool whole)
{
    noteList << (whole ? tr("The run ended at the rig (a Reset): it is shown whole.")
                       : tr("The run ended at the rig (a Reset); the rig no longer had all of it."));
    showNotes();
}

void RunView::addMenuAction(QAction *action)
{
    view->addMenuAction(action);
}

void RunView::showNotes()
{
    // The latest few: a rig that keeps failing should not fill the window.
    QStringList shownNotes = noteList.mid(std::max(0, noteList.size() - 5));
    if (noteList.size() > 5)
        shownNotes.prepend(tr("(%1 notes before these)").arg(noteList.size() - 5));
    notesLabel->setText(shownNotes.join(QLatin1Char('\n')));
    notesLabel->setVisible(!noteList.isEmpty());
}

QString RunView::latestText(int sensor) const
{
    const int k = 2 * (sensor - 1);
    if (time.isEmpty() || sensor < 1 || sensor > shown.sensorCount)
        return QString();
    return tr("%1 W/m2  %2 C")
        .arg(QString::fromLatin1(formatCsvNumber(channels[size_t(k)].last())),
             QString::fromLatin1(formatCsvNumber(channels[size_t(k + 1)].last())));
}

void RunView::showLatest()
{
    // At the charts' pace, as the acquisition window's readouts.
    if (!latestDue)
        return;
    latestDue = false;
    for (int sensor = 1; sensor <= shown.sensorCount; ++sensor)
        latest[size_t(sensor - 1)]->setText(latestText(sensor));
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/marks/runmarker.h"

#include "acquisition/marks/marksdialog.h"
#include "acquisition/runsafety/liverecorder.h"
#include "charts/chartmarksview.h"
#include "charts/chartview.h"
#include "data/descriptionfile.h"
#include "data/runmarks.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

#include <cmath>

RunMarker::RunMarker(QWidget *window, ChartFeeder *feeder, ChartViewController *charts,
                     LiveRecorder *recorder, Clock clock)
    : QObject(window), window(window), clock(std::move(clock)), runMarks(new RunMarks(this))
{
    view = new ChartMarksView(feeder, runMarks, this);
    // Every line goes to the live recording's description as it is made.
    connect(runMarks, &RunMarks::lineMade, recorder, &LiveRecorder::addToDescription);
    connect(recorder, &LiveRecorder::stopped, this, &RunMarker::recordingStopped);

    mark = new QAction(tr("Mark"), this);
    mark->setObjectName(QStringLiteral("actionMark"));
    // Anywhere in the window, whatever has the focus.
    mark->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    mark->setShortcutContext(Qt::WindowShortcut);
    connect(mark, &QAction::triggered, this, &RunMarker::placeMark);
    window->addAction(mark);
    charts->addMenuAction(mark);

    showList = new QAction(tr("Marks..."), this);
    showList->setObjectName(QStringLiteral("actionMarks"));
    connect(showList, &QAction::triggered, this, [this] {
        if (!list) {
            list = new MarksDialog(runMarks, this->window);
            list->addAction(mark); // Ctrl+M there too
        }
        list->show();
        list->raise();
        list->activateWindow();
    });
    charts->addMenuAction(showList);
}

MarksDialog *RunMarker::listWindow() const
{
    return list.data();
}

void RunMarker::placeMark()
{
    const double latest = clock.latestRecord();
    runMarks->addMark(std::isnan(latest) ? clock.now() : latest);
}

void RunMarker::note(RunEventKind kind, const QString &text)
{
    runMarks->addEvent(clock.now(), kind, text);
}

void RunMarker::started()
{
    if (!acquiring)
        note(RunEventKind::Start, tr("Start"));
    acquiring = true;
}

void RunMarker::paused()
{
    if (acquiring)
        note(RunEventKind::Pause, tr("Pause"));
    acquiring = false;
    silent = false; // silence is watched only while acquiring
}

void RunMarker::runEnds()
{
    note(RunEventKind::Reset, tr("Reset: the run ends here"));
}

void RunMarker::runBegins(bool acquiringNow)
{
    runMarks->clear();
    note(RunEventKind::Reset, acquiringNow ? tr("Reset: a new run starts here, acquiring")
                                           : tr("Reset: a new run starts here, paused"));
}

void RunMarker::unitLost(const QString &reason)
{
    silent = false;
    note(RunEventKind::UnitLost, tr("Unit lost: %1").arg(reason));
}

void RunMarker::unitBack(const QString &portName, qint64 awayMs)
{
    if (awayMs < 0) // found for the first time, not back
        return;
    note(RunEventKind::UnitBack,
         tr("Unit back after %1 s at %2").arg(QString::number(double(awayMs) / 1000.0, 'f', 1), portName));
}

void RunMarker::unitSilent(int seconds)
{
    // Reported each second while it lasts: noted once.
    if (silent)
        return;
    silent = true;
    note(RunEventKind::UnitSilent, tr("Unit silent for %1 s").arg(seconds));
}

void RunMarker::unitSending()
{
    if (!silent)
        return;
    silent = false;
    note(RunEventKind::UnitSending, tr("Unit sending again"));
}

void RunMarker::recordingStopped(const QString &reason)
{
    note(RunEventKind::RecordingStopped, tr("Recording stopped: %1").arg(reason));
}

QString RunMarker::describeSave(const QString &csvFile, const RecordingInfo &info, int samples)
{
    const QString path = descriptionFileName(csvFile);
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(csvFile).absoluteFilePath())
        return tr(" No description was written beside it: it would have the data file's own name.");
    QByteArray text = descriptionHead(DescriptionOf::SavedRun, QFileInfo(csvFile).fileName(), info);
    text += QStringLiteral("Saved: %1, %2 samples\n")
                .arg(isoTime(QDateTime::currentDateTime()))
                .arg(samples)
                .toUtf8();
    text += runMarks->currentLines();
    QString error;
    switch (saveDescription(path, text, &error)) {
    case DescriptionSaved::Written:
        return QString();
    case DescriptionSaved::Foreign:
        return tr(" The description was not written: %1: %2; it is left as it was.").arg(shown, error);
    case DescriptionSaved::Failed:
        break;
    }
    return tr(" The description %1 could not be written: %2.").arg(shown, error);
}

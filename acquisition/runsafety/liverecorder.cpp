// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/liverecorder.h"

#include "data/recordingsfolder.h"
#include "data/recovery.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QStringList>

#include <utility>

namespace {

// Reports of recordings made whole at start-up, waiting for a window to show them.
QStringList &pendingRecoveryReports()
{
    static QStringList reports;
    return reports;
}

QString samplesText(quint64 n)
{
    return n == 1 ? LiveRecorder::tr("1 sample") : LiveRecorder::tr("%1 samples").arg(n);
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

LiveRecorder::LiveRecorder(QStatusBar *statusBar, std::function<RecordingInfo()> describeRun, QObject *parent)
    : QObject(parent), statusBar(statusBar), label(new QLabel(statusBar)), describeRun(std::move(describeRun))
{
    label->setObjectName(labelName());
    statusBar->addPermanentWidget(label);
    showLabel(tr("Recording starts with the first sample"), QString());
    connect(&file, &RecordingFile::failed, this, &LiveRecorder::failed);

    QStringList &reports = pendingRecoveryReports();
    if (!reports.isEmpty()) {
        statusBar->showMessage(reports.join(QLatin1Char(' ')));
        reports.clear();
    }
}

void LiveRecorder::recoverAbandoned()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QList<RecoveredRecording> recovered = recoverAbandonedRecordings(recordingsFolder());
    for (const RecoveredRecording &r : recovered) {
        const QString start = QLocale().toString(r.start, QLocale::ShortFormat);
        pendingRecoveryReports().append(
            r.lost
                ? tr("The run of %1 was not closed properly, and its samples file %2 is missing: its samples "
                     "were lost with it.")
                      .arg(start, nativePath(r.fileName))
                : tr("The run of %1 was not closed properly; its %2 are kept in %3.")
                      .arg(start, samplesText(r.samples), nativePath(r.fileName)));
    }
}

void LiveRecorder::record(double time, const RecordValues &values, int channelCount)
{
    if (closedForGood)
        return;
    if (!started)
        open();
    file.append(time, values, channelCount);
}

void LiveRecorder::open()
{
    started = true;
    const QString folder = recordingsFolder();
    const QByteArray lines = std::exchange(descriptionLines, QByteArray());
    info = describeRun();
    if (file.open(folder, info)) {
        showLabel(QFileInfo(file.fileName()).fileName(), file.fileName());
        if (!lines.isEmpty())
            file.appendToDescription(lines);
        return;
    }
    showLabel(tr("Not recording to disk"), QString());
    statusBar->showMessage(tr("Live recording could not start in %1: %2. The run is kept in memory; "
                              "File > Save as... still saves every sample.")
                               .arg(nativePath(folder), file.errorString()));
    emit stopped(file.errorString());
}

void LiveRecorder::addToDescription(const QByteArray &line)
{
    if (!started)
        descriptionLines += line;
    else
        file.appendToDescription(line);
}

void LiveRecorder::syncSoon()
{
    file.syncSoon();
}

void LiveRecorder::finish()
{
    descriptionLines.clear();
    if (!started)
        return;
    const bool hadFile = !file.fileName().isEmpty();
    const bool whole = file.isRecording();
    const quint64 samples = file.appendedRecords();
    file.close();
    started = false;
    showLabel(tr("Recording starts with the next sample"), QString());
    if (hadFile && whole)
        statusBar->showMessage(tr("The previous run's recording is kept in %1 (%2).")
                                   .arg(nativePath(file.fileName()), samplesText(samples)));
}

void LiveRecorder::closeForQuit(const QString &why, quint64 unsaved)
{
    closedForGood = true;
    const QString program = QCoreApplication::applicationName();
    if (!started || file.fileName().isEmpty()) {
        if (unsaved > 0)
            qWarning("%s: %s of this run were neither saved nor in a live recording; they are lost.",
                     qPrintable(program), qPrintable(samplesText(unsaved)));
        return;
    }
    const bool whole = file.isRecording();
    const quint64 samples = file.appendedRecords();
    file.close(tr("the program was asked to quit (%1)").arg(why));
    started = false;
    showLabel(tr("Not recording to disk"), QString());
    if (whole) {
        qInfo("%s: the live recording %s is closed with all %s of the run%s.", qPrintable(program),
              qPrintable(nativePath(file.fileName())), qPrintable(samplesText(samples)),
              unsaved > 0 ? qPrintable(tr(", %1 of them not saved elsewhere").arg(unsaved)) : "");
    } else {
        qWarning("%s: the live recording %s had stopped (%s) and holds only the first %s of the run.",
                 qPrintable(program), qPrintable(nativePath(file.fileName())), qPrintable(file.errorString()),
                 qPrintable(samplesText(samples)));
    }
}

void LiveRecorder::failed(const QString &reason)
{
    showLabel(tr("Not recording to disk"), QString());
    statusBar->showMessage(tr("Live recording stopped: %1. The samples before are in %2; the run goes on in "
                              "memory and File > Save as... still saves every sample.")
                               .arg(reason, nativePath(file.fileName())));
    emit stopped(reason);
}

void LiveRecorder::showLabel(const QString &text, const QString &path)
{
    // The file's name only, so that the status bar keeps its room for messages; its whole path
    // is in the tooltip.
    label->setText(text);
    label->setToolTip(path.isEmpty() ? QString() : tr("Recording to %1").arg(nativePath(path)));
}

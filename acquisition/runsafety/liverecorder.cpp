// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/liverecorder.h"

#include "data/recovery.h"

#include <QDir>
#include <QFontMetrics>
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
        pendingRecoveryReports().append(tr("The run of %1 was not closed properly; its %2 are kept in %3.")
                                            .arg(QLocale().toString(r.start, QLocale::ShortFormat),
                                                 samplesText(r.samples), nativePath(r.fileName)));
    }
}

void LiveRecorder::record(double time, const RecordValues &values, int channelCount)
{
    if (!started)
        open();
    file.append(time, values, channelCount);
}

void LiveRecorder::open()
{
    started = true;
    const QString folder = recordingsFolder();
    const QByteArray lines = std::exchange(descriptionLines, QByteArray());
    if (file.open(folder, describeRun())) {
        showLabel(tr("Recording to %1").arg(nativePath(file.fileName())), file.fileName());
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
    // Long paths are shortened in the middle; the whole path is in the tooltip.
    const QFontMetrics metrics(label->font());
    label->setText(metrics.elidedText(text, Qt::ElideMiddle, metrics.averageCharWidth() * 60));
    label->setToolTip(path.isEmpty() ? QString() : nativePath(path));
}

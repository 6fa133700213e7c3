// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/liverecorder.h"

#include "data/csvnumber.h"
#include "data/recordingsfolder.h"
#include "data/recovery.h"
#include "data/rundescription.h"
#include "data/runmarks.h"

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

// A description line as the operator knows what it notes: "Mark 124 (at 12.5 s)".
QString lineShown(const QByteArray &line)
{
    const RunDescription noted = parseRunDescription(line);
    if (noted.events.isEmpty())
        return QString::fromUtf8(line.trimmed());
    const RunEvent &event = noted.events.first();
    QByteArray time;
    appendCsvNumber(&time, event.time);
    return LiveRecorder::tr("\u201c%1\u201d (at %2 s)").arg(runEventLabel(event), QString::fromLatin1(time));
}

} // namespace

LiveRecorder::LiveRecorder(QStatusBar *statusBar, std::function<RecordingInfo()> describeRun, QObject *parent)
    : QObject(parent), statusBar(statusBar), label(new QLabel(statusBar)), describeRun(std::move(describeRun))
{
    label->setObjectName(labelName());
    statusBar->addPermanentWidget(label);
    showLabel(tr("Recording starts with the first sample"), QString());
    connect(&file, &RecordingFile::failed, this, &LiveRecorder::failed);
    connect(&file, &RecordingFile::descriptionBehind, this, &LiveRecorder::descriptionBehind);
    connect(&file, &RecordingFile::descriptionCaughtUp, this, [this](int lines) {
        this->statusBar->showMessage(
            tr("The run's description %1 has caught up: the %2 kept back are written.")
                .arg(nativePath(descriptionFileName(file.fileName())),
                     lines == 1 ? tr("line") : tr("%1 lines").arg(lines)));
    });

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
        if (!r.leftAlone.isEmpty()) {
            QStringList names;
            for (const QString &name : r.leftAlone)
                names << nativePath(name);
            const QString left = tr("%1: not a plain file of its own (a link, say), left as it is.")
                                     .arg(names.join(tr(" and ")));
            if (r.leftAlone.first() == r.fileName) {
                pendingRecoveryReports().append(
                    tr("The run of %1 was not closed properly; it was not mended: %2").arg(start, left));
                continue;
            }
            pendingRecoveryReports().append(left);
        }
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
    const bool wasWhole = file.isRecording();
    file.close();
    started = false;
    showLabel(tr("Recording starts with the next sample"), QString());
    if (!hadFile || !(wasWhole || file.descriptionLinesLeftOut() > 0))
        return;
    if (file.errorString().isEmpty() && file.descriptionLinesLeftOut() == 0)
        statusBar->showMessage(tr("The previous run's recording is kept in %1 (%2).")
                                   .arg(nativePath(file.fileName()), samplesText(file.syncedRecords())));
    else
        statusBar->showMessage(tr("The previous run's recording %1").arg(closedText(QString())));
}

// What a closed recording holds, counted from the file: "kept in ... (N samples)", or where it
// stopped; and the description's lines that could not be written.
QString LiveRecorder::closedText(const QString &why) const
{
    const QString file = nativePath(this->file.fileName());
    const QString samples = samplesText(this->file.syncedRecords());
    QString text = this->file.errorString().isEmpty()
                       ? tr("%1 is closed with all %2%3.").arg(file, samples, why)
                       : tr("%1 had stopped (%2) and holds only the first %3.")
                             .arg(file, this->file.errorString(), samples);
    const int leftOut = this->file.descriptionLinesLeftOut();
    if (leftOut > 0)
        text += QLatin1Char(' ') + tr("%1 of its description could not be written (the window still shows "
                                      "the marks; File > Save as... writes them).")
                                       .arg(leftOut == 1 ? tr("1 line") : tr("%1 lines").arg(leftOut));
    return text;
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
    file.close(tr("the program was asked to quit (%1)").arg(why));
    started = false;
    showLabel(tr("Not recording to disk"), QString());
    const QString text =
        tr("the live recording %1")
            .arg(closedText(unsaved > 0 && file.errorString().isEmpty()
                                ? tr(" of the run, %1 of them not saved elsewhere").arg(unsaved)
                                : tr(" of the run")));
    if (file.errorString().isEmpty() && file.descriptionLinesLeftOut() == 0)
        qInfo("%s: %s", qPrintable(program), qPrintable(text));
    else
        qWarning("%s: %s", qPrintable(program), qPrintable(text));
}

void LiveRecorder::failed(const QString &reason)
{
    showLabel(tr("Not recording to disk"), QString());
    statusBar->showMessage(tr("Live recording stopped: %1. The first %2 are in %3; the run goes on in "
                              "memory and File > Save as... still saves every sample.")
                               .arg(reason, samplesText(file.syncedRecords()), nativePath(file.fileName())));
    emit stopped(reason);
}

void LiveRecorder::descriptionBehind(const QByteArray &firstLine, const QString &reason)
{
    statusBar->showMessage(
        tr("The run's description %1 could not be written (%2): %3 and what follows are not "
           "on disk. They stay in the window and are written, in order, when there is room "
           "again; File > Save as... writes them too.")
            .arg(nativePath(descriptionFileName(file.fileName())), reason, lineShown(firstLine)));
}

void LiveRecorder::showLabel(const QString &text, const QString &path)
{
    // The file's name only, so that the status bar keeps its room for messages; its whole path
    // is in the tooltip.
    label->setText(text);
    label->setToolTip(path.isEmpty() ? QString() : tr("Recording to %1").arg(nativePath(path)));
}

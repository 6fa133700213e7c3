// SPDX-License-Identifier: GPL-3.0-or-later
#include "mirror/runcopies.h"

#include "data/recordingfile.h"
#include "data/recordingsfolder.h"
#include "data/recovery.h"

#include <QCoreApplication>
#include <QDir>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RunCopies", text);
}

} // namespace

struct RunCopies::Copy
{
    RigRun run;
    RecordingFile file;
    bool open = false;
    quint64 gaps = 0;
};

RunCopies::RunCopies(const QString &folder, const QString &source, std::function<void(const QString &)> log)
    : place(folder), source(source), log(std::move(log))
{
}

RunCopies::~RunCopies()
{
    closeAll(tr("the mirror was stopped"));
}

void RunCopies::closeAll(const QString &why)
{
    for (auto &[id, copy] : copies) {
        if (copy->open) {
            copy->file.close(why);
            copy->open = false;
            log(tr("Closed %1.").arg(QDir::toNativeSeparators(copy->file.fileName())));
        }
    }
}

int RunCopies::openCopies() const
{
    int n = 0;
    for (const auto &[id, copy] : copies)
        n += copy->open;
    return n;
}

QString RunCopies::fileOf(const QByteArray &run) const
{
    const auto it = copies.find(run);
    return it == copies.end() ? QString() : it->second->file.fileName();
}

RunCopies::Copy *RunCopies::copyOf(const QByteArray &run)
{
    const auto it = copies.find(run);
    return it == copies.end() || !it->second->open ? nullptr : it->second.get();
}

RunSink::Held RunCopies::runSeen(const RigRun &run)
{
    if (!recovered) {
        // Copies a mirror left open when it died are made whole before any is gone on with.
        recovered = true;
        for (const RecoveredRecording &r : recoverAbandonedRecordings(place))
            log(tr("Recovered %1 left open by a mirror that ended abruptly (%2 samples kept).")
                    .arg(QDir::toNativeSeparators(r.fileName))
                    .arg(r.samples));
    }
    auto copy = std::make_unique<Copy>();
    copy->run = run;
    RecordingInfo info;
    info.start = run.start;
    info.sensorCount = run.sensorCount;
    info.sensitivities = run.sensitivities;
    info.program = run.program;
    // The rig's own name for it, else one made the same way from its start.
    QString name = run.recording;
    if (name.endsWith(QLatin1String(".csv")))
        name.chop(4);
    if (name.isEmpty())
        name = run.start.toString(recordingNameFormat());
    Held held;
    const QByteArray note = QStringLiteral("Mirror of: %1\n").arg(source).toUtf8();
    copy->open = copy->file.openCopy(place, name, info, note, &held.records, &held.events);
    if (copy->open) {
        log(held.records == 0
                ? tr("Copying the run started %1 to %2.")
                      .arg(run.start.toString(Qt::ISODate), QDir::toNativeSeparators(copy->file.fileName()))
                : tr("Copying the run started %1 on in %2, from sample %3.")
                      .arg(run.start.toString(Qt::ISODate), QDir::toNativeSeparators(copy->file.fileName()))
                      .arg(held.records));
        Copy *c = copy.get();
        QObject::connect(&copy->file, &RecordingFile::failed, [this, c](const QString &reason) {
            log(tr("The copy %1 stopped: %2. The samples before are complete.")
                    .arg(QDir::toNativeSeparators(c->file.fileName()), reason));
        });
    } else {
        log(tr("The run started %1 can't be copied: %2.")
                .arg(run.start.toString(Qt::ISODate), copy->file.errorString()));
    }
    copies[run.id] = std::move(copy);
    return held;
}

void RunCopies::records(const QByteArray &run, const RigRecords &records)
{
    if (Copy *copy = copyOf(run))
        copy->file.appendLines(records.lines, quint64(records.rows));
}

void RunCopies::gap(const QByteArray &run, quint64 from, quint64 to, const QString &why)
{
    Copy *copy = copyOf(run);
    if (!copy)
        return;
    // Said where the lines after it are, so that a reader (and the next start) knows that from
    // here on a line is not the rig's line of the same number.
    copy->gaps += to - from;
    copy->file.appendToDescription(
        QStringLiteral("Gap: %1 records from seq %2 are not in this copy (it holds the "
                       "ones after them from line %3 on): %4\n")
            .arg(to - from)
            .arg(from)
            .arg(copy->file.appendedRecords() + 1)
            .arg(why)
            .toUtf8());
    log(tr("%1: records %2 to %3 of the rig's run are not in the copy: %4.")
            .arg(QDir::toNativeSeparators(copy->file.fileName()))
            .arg(from)
            .arg(to - 1)
            .arg(why));
}

void RunCopies::event(const QByteArray &run, const RigEvent &e)
{
    Copy *copy = copyOf(run);
    if (!copy)
        return;
    const RunEventKind kind = e.event.kind;
    const bool aboutMark = kind == RunEventKind::MarkEdit || kind == RunEventKind::MarkDelete;
    copy->file.appendToDescription(
        formatEventLine(e.event.time, kind, e.event.note, aboutMark ? e.event.markNumber : 0));
}

void RunCopies::runEnded(const QByteArray &run, bool whole)
{
    Copy *copy = copyOf(run);
    if (!copy)
        return;
    copy->file.close(whole ? tr("the run ended at the rig")
                           : tr("the run ended at the rig; the rig no longer had all of it"));
    copy->open = false;
    log(tr("The run started %1 ended at the rig; %2 is closed%3.")
            .arg(copy->run.start.toString(Qt::ISODate), QDir::toNativeSeparators(copy->file.fileName()),
                 whole ? QString() : tr(", without the records the rig no longer had")));
}

void RunCopies::rigStatus(bool online, bool retained)
{
    log(online     ? tr("The rig is online.")
        : retained ? tr("The rig is offline.")
                   : tr("The rig went offline."));
}

void RunCopies::refused(const QByteArray &topic, const QString &why)
{
    // Said for the first ones and then now and then, so that a flood does not flood the log.
    ++refusals;
    if (refusals <= 10 || refusals % 1000 == 0)
        log(tr("A message on %1 was not taken (%2 so far): %3.")
                .arg(QString::fromUtf8(topic))
                .arg(refusals)
                .arg(why));
}

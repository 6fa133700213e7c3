// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "remote/rigfollower.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

class RecordingFile;

// The runs of one rig copied into a folder, each as the rig's own live recording is: a CSV of
// the same lines (byte for byte: the lines come with the rig's own text) and a description with
// the same start, sensors and events, written and synced about once a second by a thread of its
// own, with a lock while it is written (RecordingFile). A copy that is there already from an
// earlier start goes on where it ended; one left open by a mirror that died is recovered first.
class RunCopies : public RunSink
{
public:
    // source: the rig's URL, noted in each description; log: one line for the mirror's output.
    RunCopies(const QString &folder, const QString &source, std::function<void(const QString &)> log);
    ~RunCopies() override;

    // Closes every open copy, noting why.
    void closeAll(const QString &why);
    int openCopies() const;
    QString folder() const { return place; }
    // The CSV of a run's copy (empty when it has none).
    QString fileOf(const QByteArray &run) const;

    Held runSeen(const RigRun &run) override;
    void records(const QByteArray &run, const RigRecords &records) override;
    void gap(const QByteArray &run, quint64 from, quint64 to, const QString &why) override;
    void event(const QByteArray &run, const RigEvent &event) override;
    void runEnded(const QByteArray &run, bool whole) override;
    void rigStatus(bool online, bool retained) override;
    void refused(const QByteArray &topic, const QString &why) override;

private:
    struct Copy;
    Copy *copyOf(const QByteArray &run);

    QString place;
    QString source;
    std::function<void(const QString &)> log;
    bool recovered = false;
    std::map<QByteArray, std::unique_ptr<Copy>> copies;
    quint64 refusals = 0;
};

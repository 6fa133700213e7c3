// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// What happened during a run, as noted in its description file, one "Event:" line each:
//   Event: <t> <kind>: <note>
// <t> is the elapsed time written as the CSV writes times. An operator mark that is edited or
// deleted later gets a line of its own, "Event: <t> mark-edit <n>: <new note>" or
// "Event: <t> mark-delete <n>:", where n is the mark's number: marks are numbered 1, 2, 3 ... in
// the order of their "mark" lines, and a number is never given again, deleted or not. The file
// stays append-only; for each mark the last of its lines decides (an edit after a deletion
// brings the mark back with the edit's note), and the mark keeps the time of its "mark" line.
enum class RunEventKind
{
    Mark,
    Start,
    Pause,
    Reset,
    UnitLost,
    UnitBack,
    UnitSilent,
    UnitSending,
    RecordingStopped,
    MarkEdit,
    MarkDelete,
};

// The spellings in the file: "mark", "start", "pause", "reset", "unit-lost", "unit-back",
// "unit-silent", "unit-sending", "recording-stopped", "mark-edit", "mark-delete".
QByteArray runEventKindName(RunEventKind kind);
bool runEventKindFromName(const QByteArray &name, RunEventKind *kind);

struct RunEvent
{
    double time = 0;
    RunEventKind kind = RunEventKind::Mark;
    int markNumber = 0; // of a mark, or of the mark an edit or deletion is about; else 0
    QString note;
};

// A recording's description file (<base>.txt beside the CSV) read back. Lines it does not know,
// and Event lines it cannot read, are ignored.
struct RunDescription
{
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024; // read of a file at most

    QDateTime start; // the samples' time 0, with the UTC offset written; invalid when missing
    int sensorCount = 0;
    QList<QByteArray> sensitivities;           // sensor 1 first, as sent; a null entry was not sent
    QList<QByteArray> temperatureCoefficients; // sensor 1 first, "TD, T_cal"; empty: none given
    QString program;                           // name and version
    QStringList columns;                       // from the "Columns:" line, e.g. "time_s", "q1_W/m2", "T1_C"
    QString samplesFile;                       // the CSV's name, from the "Samples:" line
    QDateTime closed;                          // when the recording was closed properly; invalid if not
    qint64 closedSamples = -1;                 // the samples it held then
    QStringList problems;                      // the "Stopped: ..." and "Recovered: ..." lines
    // Every event in the order of the file, with marks' edits and deletions applied: deleted
    // marks are left out, and there are no MarkEdit or MarkDelete entries.
    QVector<RunEvent> events;
    bool truncated = false; // the file is longer than MaxBytes: only its start was read
};

RunDescription parseRunDescription(const QByteArray &text);
// Reads fileName (at most MaxBytes of it). Returns false, with *error set, when it can't be read.
bool readRunDescription(const QString &fileName, RunDescription *description, QString *error);
// The description file that belongs to a CSV file: the same name with ".txt" for its suffix.
QString descriptionFileName(const QString &csvFileName);

// One "Event:" line with its line end (LF), ready to be appended: the time as the CSV writes it,
// the kind (with the mark's number for an edit or a deletion), and the note with control
// characters and line breaks made spaces (a deletion has none).
QByteArray formatEventLine(double time, RunEventKind kind, const QString &note, int markNumber = 0);
// A note as an "Event:" line holds it: control characters and line breaks made spaces.
QString plainEventNote(const QString &note);

// The columns of a CSV of sensorCount sensors: "time_s", then "q1_W/m2", "T1_C", ... and the
// machine-readable line that names them, "Columns: time_s,q1_W/m2,T1_C,..." with its line end.
QStringList columnNames(int sensorCount);
QByteArray columnsLine(int sensorCount);

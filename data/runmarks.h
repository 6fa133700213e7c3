// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/rundescription.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

// What happened during one run: the operator's marks and the program's own events (Start, Pause,
// the unit lost and back, ...), in the order they were made, as the charts show them and as the
// run's description notes them. Every change makes the "Event:" line that notes it (lineMade),
// so that a description that receives each line, append-only, reads back as this list
// (parseRunDescription). Marks are numbered 1, 2, 3 ... in the order they are placed; a number
// is never given again, even when its mark is deleted.
class RunMarks : public QObject
{
    Q_OBJECT

public:
    // Notes are at most this long: a paste of a whole file makes no mark.
    static constexpr int MaxNoteLength = 1000;

    struct Entry
    {
        RunEvent event;       // for a mark, event.markNumber is its number
        bool deleted = false; // a deleted mark stays here, so that numbers keep their entries
        bool isMark() const { return event.kind == RunEventKind::Mark; }
    };

    explicit RunMarks(QObject *parent = nullptr);

    // Places an operator mark at time, noted "Mark <n>"; returns its number.
    int addMark(double time);
    // Notes one of the program's events (any kind but the marks' own).
    void addEvent(double time, RunEventKind kind, const QString &note);
    // Adds an event or mark as a description read back holds it (parseRunDescription: edits
    // applied, deleted marks left out): a mark keeps its number and note. Marks must come in
    // the order of their numbers; one that does not, and edit or delete lines, are ignored.
    void addRecorded(const RunEvent &event);
    // Gives a mark a new note (line breaks and control characters become spaces, as in the
    // file). A note that is empty or blank, or the same as before, changes nothing; nor does a
    // mark that does not exist or is deleted. Returns whether the note changed.
    bool setNote(int markNumber, const QString &note);
    // Deletes a mark; false if there is no such mark (or it is deleted already).
    bool deleteMark(int markNumber);
    // Room for this many entries, when it is known how many come (a description read back).
    void reserve(int entries) { list.reserve(entries); }
    // Forgets everything (a new run): numbering starts at 1 again. Makes no line.
    void clear();

    const QVector<Entry> &entries() const { return list; }
    // The entry of a mark, or -1.
    int entryOfMark(int markNumber) const;
    // The lines that describe the run as it stands: each event and each mark that is not
    // deleted, with its present note, in order (what a description written now holds).
    QByteArray currentLines() const;

signals:
    void added(int entry);
    void noteChanged(int entry);
    void markDeleted(int entry);
    void cleared();
    // The description line of a change just made (with its line end).
    void lineMade(const QByteArray &line);

private:
    int add(double time, RunEventKind kind, const QString &note, int markNumber);

    QVector<Entry> list;
    QVector<int> marks; // mark number - 1 -> its entry
};

// What a kind of event is called where people read it: "Mark", "Start", "Unit lost", ...
QString runEventTitle(RunEventKind kind);
// What an event or mark is called in a list to choose from: its note, as the charts label it ("Mark
// 1", "heater on", "Unit lost: ..."), or for one without a note its kind's title ("Mark 3" for a
// mark, with its number).
QString runEventLabel(const RunEvent &event);
// A note as a run keeps it: as an "Event:" line holds it (plainEventNote), of at most
// MaxNoteLength characters.
QString plainNote(const QString &note);

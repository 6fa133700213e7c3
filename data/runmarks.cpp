// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/runmarks.h"

#include <QCoreApplication>

#include <iterator>

RunMarks::RunMarks(QObject *parent) : QObject(parent) {}

int RunMarks::add(double time, RunEventKind kind, const QString &note, int markNumber)
{
    Entry entry;
    entry.event.time = time;
    entry.event.kind = kind;
    entry.event.markNumber = markNumber;
    entry.event.note = plainNote(note);
    list.append(entry);
    const int index = list.size() - 1;
    emit added(index);
    emit lineMade(formatEventLine(time, kind, entry.event.note));
    return index;
}

int RunMarks::addMark(double time)
{
    const int number = marks.size() + 1;
    marks.append(list.size());
    add(time, RunEventKind::Mark, tr("Mark %1").arg(number), number);
    return number;
}

void RunMarks::addEvent(double time, RunEventKind kind, const QString &note)
{
    if (kind == RunEventKind::Mark || kind == RunEventKind::MarkEdit || kind == RunEventKind::MarkDelete)
        return;
    add(time, kind, note, 0);
}

void RunMarks::addRecorded(const RunEvent &event)
{
    if (event.kind != RunEventKind::Mark) {
        addEvent(event.time, event.kind, event.note);
        return;
    }
    if (event.markNumber <= marks.size())
        return;
    // The numbers of deleted marks stay unused, as in the run that made them.
    while (marks.size() < event.markNumber - 1)
        marks.append(-1);
    marks.append(list.size());
    add(event.time, RunEventKind::Mark, event.note, event.markNumber);
}

int RunMarks::entryOfMark(int markNumber) const
{
    return markNumber >= 1 && markNumber <= marks.size() ? marks[markNumber - 1] : -1;
}

bool RunMarks::setNote(int markNumber, const QString &note)
{
    const int index = entryOfMark(markNumber);
    const QString plain = plainNote(note);
    if (index < 0 || list[index].deleted || plain.trimmed().isEmpty() || plain == list[index].event.note)
        return false;
    RunEvent &mark = list[index].event;
    mark.note = plain;
    emit noteChanged(index);
    // The line carries the mark's own time, so that every line about a mark names its moment.
    emit lineMade(formatEventLine(mark.time, RunEventKind::MarkEdit, plain, markNumber));
    return true;
}

bool RunMarks::deleteMark(int markNumber)
{
    const int index = entryOfMark(markNumber);
    if (index < 0 || list[index].deleted)
        return false;
    list[index].deleted = true;
    emit markDeleted(index);
    emit lineMade(formatEventLine(list[index].event.time, RunEventKind::MarkDelete, QString(), markNumber));
    return true;
}

void RunMarks::clear()
{
    list.clear();
    marks.clear();
    emit cleared();
}

QByteArray RunMarks::currentLines() const
{
    QByteArray lines;
    for (const Entry &e : list) {
        if (!e.deleted)
            lines += formatEventLine(e.event.time, e.event.kind, e.event.note);
    }
    return lines;
}

QString runEventTitle(RunEventKind kind)
{
    static const char *const titles[] = {
        QT_TRANSLATE_NOOP("RunMarks", "Mark"),
        QT_TRANSLATE_NOOP("RunMarks", "Start"),
        QT_TRANSLATE_NOOP("RunMarks", "Pause"),
        QT_TRANSLATE_NOOP("RunMarks", "Reset"),
        QT_TRANSLATE_NOOP("RunMarks", "Unit lost"),
        QT_TRANSLATE_NOOP("RunMarks", "Unit back"),
        QT_TRANSLATE_NOOP("RunMarks", "Unit silent"),
        QT_TRANSLATE_NOOP("RunMarks", "Unit sending again"),
        QT_TRANSLATE_NOOP("RunMarks", "Recording stopped"),
        QT_TRANSLATE_NOOP("RunMarks", "Note edited"),
        QT_TRANSLATE_NOOP("RunMarks", "Mark deleted"),
    };
    const int i = int(kind);
    return i >= 0 && i < int(std::size(titles)) ? QCoreApplication::translate("RunMarks", titles[i])
                                                : QString();
}

QString runEventLabel(const RunEvent &event)
{
    if (!event.note.isEmpty())
        return event.note;
    if (event.kind == RunEventKind::Mark)
        return RunMarks::tr("Mark %1").arg(event.markNumber);
    return runEventTitle(event.kind);
}

QString plainNote(const QString &note)
{
    QString kept = note.left(RunMarks::MaxNoteLength);
    if (kept.size() < note.size() && !kept.isEmpty() && kept.at(kept.size() - 1).isHighSurrogate())
        kept.chop(1); // not half a character
    return plainEventNote(kept);
}

QVector<RunEvent> RunMarks::events() const
{
    QVector<RunEvent> shown;
    for (const Entry &e : list) {
        if (!e.deleted)
            shown.append(e.event);
    }
    return shown;
}

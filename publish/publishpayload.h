// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/rundescription.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

// What goes to the broker: the rig's topics under its prefix and the JSON each carries.
//
//   <prefix>/status  "online" / "offline" (retained; "offline" is also the last will)
//   <prefix>/run     the run's start, sensors and recording (retained)
//   <prefix>/data    one record: {"seq":S,"run":R,"t":T,"q1":..,"T1":..,...}
//   <prefix>/event   a mark, a mark's edit or deletion, or one of the program's events:
//                    {"i":I,"run":R,"t":..,"kind":..,...}
//   <prefix>/history/request         a viewer asks for the part of a run it missed
//   <prefix>/history/reply/<viewer>  the rig's answer (see historypayload.h)
//
// R, the run's identity, is its start in UTC as <prefix>/run gives it ("start"); I is the
// event's place among the run's events, counted from 0, the same live and in a history.
//
// Numbers are written with exactly the text the run's CSV holds. JSON has no infinities and no
// NaN: a value that is not a finite number (a sensor fault) is written as the CSV writes it, in
// quotes ("inf", "-inf", "nan").

enum class PublishTopic
{
    Status,
    Run,
    Data,
    Event,
    HistoryRequest,
    HistoryReplies, // the level under which answers go: <prefix>/history/reply
};

QByteArray publishTopic(const QString &prefix, PublishTopic topic);

// What <prefix>/run says about a run.
struct PublishedRun
{
    QDateTime start; // the samples' time 0
    int sensorCount = 0;
    QList<QByteArray> sensitivities; // as sent, sensor 1 first; a null entry was not sent
    QString program;                 // name and version
    QString recording;               // the live recording's file name (no folder); empty: none
};

// {"start":"2026-12-07T13:05:09.250Z","start_local":"2026-12-07T14:05:09.250+01:00","sensors":2,
//  "sensitivities":["12.5",null],"program":"quellspan 1.0","recording":"2026-12-07_14-05-09.csv",
//  "columns":["time_s","q1_W/m2","T1_C",...]}
QByteArray runPayload(const PublishedRun &run);
// A run's identity in the messages: its start in UTC to the millisecond, "2026-12-07T13:05:09.250Z".
QByteArray runId(const QDateTime &start);

// {"t":12.5,"kind":"mark","n":1,"note":"Mark 1"}: the kind as a description's Event line names
// it; "n" for a mark and for a mark's edit or deletion (the mark's number).
QByteArray eventPayload(const RunEvent &event);
// An eventPayload() as <prefix>/event and a history carry it: with its place among the run's
// events and the run's identity in front, {"i":3,"run":"...","t":...}.
QByteArray placedEventPayload(const QByteArray &event, quint64 index, const QByteArray &run);

// Appends the record seq made from one line of the recording (without its line end): 3, 5, 7 or 9
// comma-separated numbers, the time and then heat flux and temperature of each sensor; with run,
// the run's identity after seq. Returns false, appending nothing, for a line of another shape or
// with a field that is not a number as the CSV writes numbers.
bool appendDataPayload(QByteArray *out, quint64 seq, const char *line, int length,
                       const QByteArray &run = QByteArray());
// The same from a record's values (the time, then channelCount channels), their text as the CSV
// writes it.
void appendDataPayload(QByteArray *out, quint64 seq, const double *fields, int fieldCount,
                       const QByteArray &run = QByteArray());
// A record as a history carries it, a JSON array of its numbers with the CSV's text:
// [0.104,120.01,23.98]. From a line of the recording, false (nothing appended) as above.
bool appendRecordArray(QByteArray *out, const char *line, int length);
void appendRecordArray(QByteArray *out, const double *fields, int fieldCount);

class QObject;
class RunMarks;
// Hands publish each change of a run's marks as <prefix>/event says it: a mark or event placed,
// a mark's new note (mark-edit), a mark deleted (mark-delete, without a note); for as long as
// context lives.
void followMarkChanges(const RunMarks *marks, QObject *context,
                       std::function<void(const RunEvent &)> publish);

// text as a JSON string, in quotes.
void appendJsonString(QByteArray *out, const QString &text);

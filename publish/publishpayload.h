// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/rundescription.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// What goes to the broker: the rig's topics under its prefix and the JSON each carries.
//
//   <prefix>/status  "online" / "offline" (retained; "offline" is also the last will)
//   <prefix>/run     the run's start, sensors and recording (retained)
//   <prefix>/data    one record: {"seq":S,"t":T,"q1":..,"T1":..,...}
//   <prefix>/event   a mark, a mark's edit or deletion, or one of the program's events
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

// {"t":12.5,"kind":"mark","n":1,"note":"Mark 1"}: the kind as a description's Event line names
// it; "n" for a mark and for a mark's edit or deletion (the mark's number).
QByteArray eventPayload(const RunEvent &event);

// Appends the record seq made from one line of the recording (without its line end): 3, 5, 7 or 9
// comma-separated numbers, the time and then heat flux and temperature of each sensor. Returns
// false, appending nothing, for a line of another shape or with a field that is not a number as
// the CSV writes numbers.
bool appendDataPayload(QByteArray *out, quint64 seq, const char *line, int length);
// The same from a record's values (the time, then channelCount channels), their text as the CSV
// writes it.
void appendDataPayload(QByteArray *out, quint64 seq, const double *fields, int fieldCount);

// text as a JSON string, in quotes.
void appendJsonString(QByteArray *out, const QString &text);

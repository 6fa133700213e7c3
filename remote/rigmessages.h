// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"
#include "data/rundescription.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>

#include <vector>

// Reading what a rig publishes (publishpayload.h, historypayload.h) back into a run: its start and
// sensors, records with the very text its CSV holds, marks and events, and the answers to history
// requests. Everything that comes off the broker is outside input: a message is taken whole or
// not at all, and one that is not what a rig sends (not JSON, a member missing or of the wrong
// kind, a value that is not a number as the CSV writes numbers, too long) is refused with a
// reason, never taken in part. Qt Core only; used by the remote window and the mirror alike.

// Payloads longer than these are refused unread.
constexpr int MaxRigMessageBytes = 64 * 1024;
constexpr int MaxHistoryAnswerBytes = 4 * 1024 * 1024;

// <prefix>/run: a run's start.
struct RigRun
{
    QByteArray id;   // the run's identity: its start as the rig wrote it ("start")
    QDateTime start; // the same moment, with the rig's UTC offset when "start_local" gives it
    int sensorCount = 0;
    QList<QByteArray> sensitivities; // as sent, sensor 1 first; a null entry was not sent
    QString program;
    QString recording; // the rig's live recording's file name, when it is a plain one; else empty
};

// Records one after another, with the CSV's own text of each.
struct RigRecords
{
    QByteArray run;     // the run they belong to
    quint64 first = 0;  // the first one's seq
    int fieldCount = 0; // the time and the channels: 3, 5, 7 or 9
    int rows = 0;
    QVector<double> values; // rows x fieldCount, row after row
    QByteArray lines;       // the CSV's lines, each with "\n"

    const double *row(int i) const { return values.constData() + size_t(i) * size_t(fieldCount); }
    void clear();
};

// <prefix>/event: a mark, a mark's edit or deletion, or one of the program's events.
struct RigEvent
{
    QByteArray run;
    quint64 index = 0; // its place among the run's events, from 0
    RunEvent event;
};

// An answer to a history request.
struct HistoryAnswer
{
    enum Kind
    {
        Records,
        Missing,
        Events,
        Done,
        Unknown,
        Error,
    };
    Kind kind = Error;
    QByteArray id;
    QByteArray run;
    RigRecords records;           // Records
    quint64 first = 0;            // Missing: the first record that is gone...
    quint64 missing = 0;          // ...and how many
    std::vector<RigEvent> events; // Events
    quint64 next = 0;             // Done: records up to this were answered...
    quint64 eventCount = 0;       // ...and events up to this
    bool ended = false;           // Done: a Reset ended the run
    QByteArray current;           // Unknown: the run the rig is in (empty: none)
    QString error;                // Error: what the rig said
};

// Each returns false, with *why in words, for a message that is not one of its kind.
bool readRigRun(const QByteArray &payload, RigRun *run, QString *why);
// A record on <prefix>/data: *record holds it alone (its seq is record->first).
bool readRigRecord(const QByteArray &payload, RigRecords *record, QString *why);
bool readRigEvent(const QByteArray &payload, RigEvent *event, QString *why);
bool readHistoryAnswer(const QByteArray &payload, HistoryAnswer *answer, QString *why);
// <prefix>/status: true for "online", false for "offline"; anything else is refused.
bool readRigStatus(const QByteArray &payload, bool *online, QString *why);

// Whether text is a number exactly as the program's CSV writes it (the shortest text that reads
// back as its value, "nan", "inf"...), and that value.
bool readCsvNumberText(const char *begin, const char *end, double *value);

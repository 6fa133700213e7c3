// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/recordinglines.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

// A record as the publisher keeps it in memory: the time and the channels.
struct PublishedRow
{
    static constexpr int MaxFields = 9;
    std::array<double, MaxFields> fields;
    int count;
};

// One run as far as the publisher knows it: its records and events in the order they happened,
// the latest records in memory and the rest in its live recording. The publisher's own thread
// alone reads and changes it: both the stream to the broker and the answers to history requests.
struct RunItem
{
    QByteArray id;     // the run's identity in the messages (runId)
    QByteArray header; // what <prefix>/run says of it
    QString path;      // the live recording, whose line n is record n; empty: none
    quint64 records = 0;
    std::vector<std::pair<quint64, QByteArray>> events; // (records before it, its eventPayload)
    bool fileFinal = false;                             // the recording gets no more lines
    bool ended = false;                                 // a Reset ended the run
    // The latest records; tailFirst + tail.size() == records.
    quint64 tailFirst = 0;
    std::deque<PublishedRow> tail;
    // The stream's reading of the recording: lines read ahead, and whether the file failed.
    std::unique_ptr<RecordingLines> file;
    RecordingLines::Batch batch;
    bool fileFailed = false;
    quint64 lostUpTo = 0; // records before this were counted as lost already
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordingfile.h"
#include "data/runmarks.h"
#include "publish/publisher.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// A rig as the acquisition window makes one, without the window: each record goes into the live
// recording and to the publisher alike, and each mark and event into the recording's description
// and to the publisher, as the window hands them on. The values vary in their text (long
// decimals, a sensor fault now and then), as a unit's do.
class TestRig
{
public:
    TestRig(Publisher *publisher, const QString &folder, int sensors, const QDateTime &start);

    // The next count records, 1/16 s apart.
    void add(int count);
    RunMarks &marks() { return runMarks; }
    double lastTime() const { return (records - 1) * 0.0625; }
    // The run ends as a Reset ends it: a reset event, its recording closed, the publisher told.
    void end();
    // The recording's lines (it is closed first) and its files' bytes as they are now.
    QList<QByteArray> lines();
    QByteArray csv() const;
    QByteArray description() const;
    QString csvPath() const { return recording.fileName(); }

    Publisher *publisher;
    int sensors;
    RecordingFile recording;
    RunMarks runMarks;
    int records = 0;
};

// The broker on loopback at port, under prefix.
PublishTarget targetAt(quint16 port, const QString &prefix);
// A rig's publishing there, retrying soon after an outage (200 ms, then up to 1 s).
PublishSettings rigSettings(quint16 port, const QString &prefix);
// Records in steps, as a unit sends them, letting everything on this thread (the followers, the
// relays) run in between.
void feed(TestRig &rig, int records, int steps = 10, int msPerStep = 100);

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/testrig.h"

#include "publish/publisher.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <cmath>

TestRig::TestRig(Publisher *publisher, const QString &folder, int sensors, const QDateTime &start)
    : publisher(publisher), sensors(sensors)
{
    RecordingInfo info;
    info.start = start;
    info.sensorCount = sensors;
    info.sensitivities = {QByteArray("12.5"), QByteArray()};
    info.program = QStringLiteral("quellspan-test 1.0");
    if (!recording.open(folder, info))
        qWarning("recording: %s", qPrintable(recording.errorString()));
    QObject::connect(&runMarks, &RunMarks::lineMade, &recording, &RecordingFile::appendToDescription);
    followMarkChanges(&runMarks, &recording,
                      [publisher](const RunEvent &event) { publisher->addEvent(event); });
    PublishedRun run;
    run.start = start;
    run.sensorCount = sensors;
    run.sensitivities = info.sensitivities;
    run.program = info.program;
    run.recording = QFileInfo(recording.fileName()).fileName();
    publisher->startRun(run, recording.fileName());
}

void TestRig::add(int count)
{
    for (int i = 0; i < count; ++i, ++records) {
        RecordValues values{};
        for (int k = 0; k < 2 * sensors; ++k)
            values[size_t(k)] = (k % 2 ? 20.0 : -3.0) + records * 0.001 + k / 7.0;
        if (records % 997 == 5)
            values[0] = std::nan(""); // a sensor fault now and then
        const double t = records * 0.0625;
        recording.append(t, values, 2 * sensors);
        publisher->addRecord(t, values.data(), 2 * sensors);
    }
}

void TestRig::end()
{
    runMarks.addEvent(records > 0 ? lastTime() : 0, RunEventKind::Reset,
                      QStringLiteral("Reset: the run ends here"));
    recording.close();
    publisher->endRun();
}

QList<QByteArray> TestRig::lines()
{
    recording.close();
    QList<QByteArray> list = csv().split('\n');
    list.removeLast();
    return list;
}

QByteArray TestRig::csv() const
{
    QFile f(recording.fileName());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray TestRig::description() const
{
    QFile f(descriptionFileName(recording.fileName()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

PublishTarget targetAt(quint16 port, const QString &prefix)
{
    PublishTarget t;
    t.host = QStringLiteral("127.0.0.1");
    t.port = port;
    t.prefix = prefix;
    return t;
}

PublishSettings rigSettings(quint16 port, const QString &prefix)
{
    PublishSettings s;
    s.target = targetAt(port, prefix);
    s.firstRetryMs = 200;
    s.lastRetryMs = 1000;
    return s;
}

void feed(TestRig &rig, int records, int steps, int msPerStep)
{
    for (int i = 0; i < steps; ++i) {
        rig.add(records / steps);
        QTest::qWait(msPerStep);
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recovery.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

// quellspan-demo recording a long run with its autopilot, its live recordings in a folder of the
// test's, for tests that end it some way mid-run and look at what it left.
class DemoRecording
{
public:
    // folder: the test's own; environment: the demo's (its platform, its display).
    DemoRecording(const QString &demo, const QString &folder, const QProcessEnvironment &environment)
        : recordings(QDir(folder).filePath(QStringLiteral("recordings")))
    {
        process.setProcessEnvironment(environment);
        process.start(demo, {QStringLiteral("--autopilot"), QDir(folder).filePath(QStringLiteral("out")),
                             QStringLiteral("--seconds"), QStringLiteral("600"),
                             QStringLiteral("--recordings"), recordings});
    }
    ~DemoRecording()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Waits until the run's recording holds some lines; false when it never does (the demo's
    // error output then says why).
    bool waitForRecordedLines(int lines)
    {
        if (!process.waitForStarted(10000))
            return false;
        for (int waited = 0; waited < 60000 && process.state() == QProcess::Running; waited += 50) {
            const QStringList files = QDir(recordings).entryList({QStringLiteral("*.csv")});
            if (!files.isEmpty()) {
                csv = QDir(recordings).filePath(files.first());
                if (readAll(csv).count('\n') >= lines)
                    return true;
            }
            QTest::qWait(50);
        }
        return false;
    }

    // What is wrong with the recording the demo left (empty when it is whole and closed, its
    // description ends with closedNote, and nothing is left to recover): a file of complete
    // lines, the description's "Closed:" line counting them, no lock.
    QString problemWithClosedRecording(const QString &closedNote) const
    {
        const QByteArray samples = readAll(csv);
        if (!samples.endsWith('\n'))
            return QStringLiteral("the recording does not end with a whole line");
        if (QFile::exists(sibling(".lock")))
            return QStringLiteral("the lock is still there");
        const QByteArray description = readAll(sibling(".txt"));
        const QString closed = QStringLiteral(", %1 samples; %2").arg(samples.count('\n')).arg(closedNote);
        if (!description.contains(closed.toUtf8()))
            return QStringLiteral("no \"%1\" in: %2").arg(closed, QString::fromUtf8(description));
        if (!recoverAbandonedRecordings(recordings).isEmpty())
            return QStringLiteral("the next start finds a recording to recover");
        return QString();
    }

    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QProcess process;
    const QString recordings;
    QString csv; // the run's recording, once waitForRecordedLines() found it

private:
    QString sibling(const char *suffix) const
    {
        return QString(csv).replace(QStringLiteral(".csv"), QLatin1String(suffix));
    }
};

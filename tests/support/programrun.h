// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One of the built programs (or a system tool) run as a child process to its end, as a user or a
// script runs it, with what it said. Header-only: the data tests use it without linking the
// test support library.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ProgramRun
{
    int exitCode = -1; // -1 when it crashed or did not finish
    QByteArray out, err;

    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
    // The exit code and all it said, for a failure's message.
    QString said() const { return QStringLiteral("exit %1\n%2%3").arg(exitCode).arg(outText(), errText()); }
};

// This process's environment without a display, platform or session to reach: as over ssh, on a
// console, in a script.
inline QProcessEnvironment environmentWithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    return environment;
}

// Runs program with arguments in environment and waits for its end; one that has not ended after
// timeoutMs is killed (and said so in err).
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment = environmentWithoutDisplay(),
                             int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = "did not finish: " + process.errorString().toUtf8();
        return run;
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

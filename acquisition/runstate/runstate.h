// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// The state of a run as the operator should see it, and the moments at which it changes. The
// acquisition window tells it what happens (started, paused, the unit lost, back, silent, sending
// again, the recording stopped); it keeps the state, says which status messages to show (a
// message about a passing condition is followed by one saying that it ended) and tells whoever
// listens of each moment once, with its wall-clock time and the run's time, so that the moment
// can be noted elsewhere too (on the charts, in the recording's description).
class RunState : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        NotStarted, // Start not pressed yet
        Acquiring,
        Paused,
        UnitSilent,    // acquiring, but the unit sends nothing
        UnitAway,      // the unit went away during the window's life
        NoUnit,        // no unit connected since the window opened
        NoSensorCount, // the unit was sent no sensor count: nothing can be recorded
    };
    Q_ENUM(State)

    struct Moment
    {
        enum Kind
        {
            Started,
            Paused,
            UnitLost,
            UnitBack,
            UnitSilent,
            UnitSending,
            RecordingStopped,
        };
        Kind kind = Started;
        QDateTime at;         // wall-clock time
        double runTime = -1;  // the run's elapsed time in seconds; -1 before its clock started
        qint64 lastedMs = -1; // UnitBack, UnitSending: how long the unit was away or silent
        QString detail;       // UnitLost, RecordingStopped: why; UnitBack: the port
    };

    explicit RunState(QObject *parent = nullptr);

    State state() const;
    // Since when the unit is away or silent (invalid when it is not).
    QDateTime awaySince() const { return lostAt; }
    QDateTime silentSince() const { return silenceFrom; }
    // The state in words, as the state item shows it: "Unit away (since 14:05:09)".
    QString stateText() const;
    // Whether the unit is connected and configured.
    bool unitPresent() const { return present; }

    // What happened; runTime is the run's elapsed time in seconds, or -1 before its clock started.
    void started(double runTime);
    void paused(double runTime);
    // No unit is connected when the window opens.
    void unitMissing();
    void unitLost(double runTime, const QString &reason);
    // The unit is connected and configured at portName, after awayMs away (-1: it was never
    // connected during the window's life).
    void unitBack(double runTime, const QString &portName, qint64 awayMs);
    // While acquiring: the unit has sent nothing for seconds (told again each second it lasts).
    void unitSilent(double runTime, int seconds);
    void unitSending(double runTime);
    void recordingStopped(double runTime, const QString &reason);
    // Whether the unit has been sent a sensor count (without one, nothing is recorded, and the
    // state says so rather than "Acquiring"). Sent until told otherwise.
    void setSensorCountSent(bool sent);

signals:
    void stateChanged(RunState::State state);
    void happened(const RunState::Moment &moment);
    // A status message to show now.
    void message(const QString &text);
    // A message shown before no longer holds; it should go if it is still shown.
    void messageEnded(const QString &text);

private:
    void note(Moment::Kind kind, double runTime, const QString &detail = QString(), qint64 lastedMs = -1);
    void update();
    void endSilence();

    bool everStarted = false;
    bool running = false;
    bool present = true;
    bool countSent = true;
    QDateTime lostAt;
    QDateTime silenceFrom;
    QString silenceMessage;
    State shown = State::NotStarted;
};

Q_DECLARE_METATYPE(RunState::Moment)

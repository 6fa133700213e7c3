// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runstate/runstate.h"

#include <cmath>

namespace {

QString clockTime(const QDateTime &t)
{
    return t.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

RunState::RunState(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<RunState::Moment>();
    qRegisterMetaType<RunState::State>();
}

RunState::State RunState::state() const
{
    if (lostAt.isValid())
        return State::UnitAway;
    if (!present)
        return State::NoUnit;
    if (!countSent)
        return State::NoSensorCount;
    if (!everStarted)
        return State::NotStarted;
    if (!running)
        return State::Paused;
    return silenceFrom.isValid() ? State::UnitSilent : State::Acquiring;
}

QString RunState::stateText() const
{
    switch (state()) {
    case State::NotStarted:
        return tr("Not started");
    case State::Acquiring:
        return tr("Acquiring");
    case State::Paused:
        return tr("Paused");
    case State::UnitSilent:
        return tr("Unit silent");
    case State::UnitAway:
        return tr("Unit away (since %1)").arg(clockTime(lostAt));
    case State::NoUnit:
        return tr("No unit");
    case State::NoSensorCount:
        return tr("No sensor count sent");
    }
    return QString();
}

void RunState::started(double runTime)
{
    everStarted = true;
    running = true;
    note(Moment::Started, runTime);
    update();
}

void RunState::paused(double runTime)
{
    running = false;
    // Silence is watched only while acquiring: what was said about it no longer holds.
    endSilence();
    note(Moment::Paused, runTime);
    update();
}

void RunState::unitMissing()
{
    present = false;
    update();
}

void RunState::unitLost(double runTime, const QString &reason)
{
    present = false;
    silenceFrom = QDateTime();
    silenceMessage.clear();
    if (!lostAt.isValid())
        lostAt = QDateTime::currentDateTime();
    note(Moment::UnitLost, runTime, reason);
    emit message(
        tr("The measuring unit is gone (%1). The recorded data is kept; save it with File > Save as... "
           "Looking for the unit every second.")
            .arg(reason));
    update();
}

void RunState::unitBack(double runTime, const QString &portName, qint64 awayMs)
{
    const bool wasLost = lostAt.isValid();
    present = true;
    lostAt = QDateTime();
    QString text = awayMs < 0 ? tr("The measuring unit is connected at %1.").arg(portName)
                              : tr("The measuring unit is back after %1 s away, at %2.")
                                    .arg(QString::number(double(awayMs) / 1000.0, 'f', 1), portName);
    if (running)
        text += tr(" Acquisition goes on.");
    if (wasLost || awayMs >= 0)
        note(Moment::UnitBack, runTime, portName, awayMs);
    emit message(text);
    update();
}

void RunState::unitSilent(double runTime, int seconds)
{
    if (!running || !present || silenceFrom.isValid())
        return; // told once; it is told again each second while it lasts
    const QDateTime now = QDateTime::currentDateTime();
    silenceFrom = now.addSecs(-seconds);
    silenceMessage =
        tr("No data from the measuring unit since %1. Recording goes on as soon as it sends again.")
            .arg(clockTime(silenceFrom));
    // The moment is when the unit went quiet, not when that was noticed.
    Moment m;
    m.kind = Moment::UnitSilent;
    m.at = silenceFrom;
    m.runTime = runTime < 0 ? runTime : std::max(0.0, runTime - seconds);
    emit happened(m);
    emit message(silenceMessage);
    update();
}

void RunState::unitSending(double runTime)
{
    if (!silenceFrom.isValid())
        return;
    const qint64 lasted = silenceFrom.msecsTo(QDateTime::currentDateTime());
    silenceFrom = QDateTime();
    silenceMessage.clear();
    note(Moment::UnitSending, runTime, QString(), lasted);
    emit message(
        tr("The unit is sending again after %1 s of silence.").arg(std::llround(double(lasted) / 1000.0)));
    update();
}

void RunState::recordingStopped(double runTime, const QString &reason)
{
    note(Moment::RecordingStopped, runTime, reason);
}

void RunState::note(Moment::Kind kind, double runTime, const QString &detail, qint64 lastedMs)
{
    Moment m;
    m.kind = kind;
    m.at = QDateTime::currentDateTime();
    m.runTime = runTime;
    m.detail = detail;
    m.lastedMs = lastedMs;
    emit happened(m);
}

void RunState::update()
{
    const State now = state();
    if (now == shown)
        return;
    shown = now;
    emit stateChanged(now);
}

void RunState::endSilence()
{
    if (!silenceFrom.isValid())
        return;
    silenceFrom = QDateTime();
    const QString ended = silenceMessage;
    silenceMessage.clear();
    emit messageEnded(ended);
}

void RunState::setSensorCountSent(bool sent)
{
    countSent = sent;
    update();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/rigstate.h"

#include <QCoreApplication>

#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RigState", text);
}

QDateTime at(const QDateTime &runStart, double time)
{
    // A time no run reaches (beyond some 30,000 years, or not a number) has no moment.
    if (!runStart.isValid() || !(std::abs(time) < 1e12))
        return QDateTime();
    return runStart.addMSecs(qint64(time * 1000.0)).toLocalTime();
}

} // namespace

void RigState::setOnline(bool nowOnline, const QDateTime &when)
{
    if (known && online == nowOnline)
        return;
    known = true;
    online = nowOnline;
    // Offline since it was heard; for one the broker kept, since the last record at best.
    offlineAt = online ? QDateTime() : when.isValid() ? when : lastRecordAt;
}

void RigState::set(Activity activity, const QDateTime &since)
{
    if (activity == doing)
        return;
    doing = activity;
    doingSince = since;
}

void RigState::event(const RunEvent &e, const QDateTime &runStart)
{
    const QDateTime when = at(runStart, e.time);
    switch (e.kind) {
    case RunEventKind::Start:
    case RunEventKind::UnitSending:
        set(Activity::Acquiring, when);
        break;
    case RunEventKind::Pause:
        set(Activity::Paused, when);
        break;
    case RunEventKind::UnitLost:
        if (doing != Activity::UnitAway)
            beforeAway = doing == Activity::Paused ? Activity::Paused : Activity::Acquiring;
        set(Activity::UnitAway, when);
        break;
    case RunEventKind::UnitBack:
        set(beforeAway, when);
        break;
    case RunEventKind::UnitSilent:
        set(Activity::UnitSilent, when);
        break;
    default:
        break;
    }
}

bool RigState::record(double time, const QDateTime &runStart)
{
    lastRecordAt = at(runStart, time);
    if (doing != Activity::Unknown && doing != Activity::UnitSilent)
        return false;
    set(Activity::Acquiring, lastRecordAt);
    return true;
}

void RigState::newRun()
{
    lastRecordAt = QDateTime();
}

QString RigState::text() const
{
    if (!known)
        return tr("Rig: waiting for its state");
    if (!online) {
        return offlineAt.isValid()
                   ? tr("Rig offline since %1").arg(offlineAt.toString(QStringLiteral("HH:mm")))
                   : tr("Rig offline");
    }
    const QString since = doingSince.toString(QStringLiteral("HH:mm:ss"));
    switch (doing) {
    case Activity::Unknown:
        return tr("Rig online");
    case Activity::Acquiring:
        return tr("Rig online: acquiring");
    case Activity::Paused:
        return tr("Rig online: paused since %1").arg(since);
    case Activity::UnitAway:
        return tr("Rig online: unit away since %1").arg(since);
    case Activity::UnitSilent:
        return tr("Rig online: unit silent since %1").arg(since);
    }
    return QString();
}

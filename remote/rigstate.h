// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/rundescription.h"

#include <QDateTime>
#include <QString>

// What a watched rig is doing, as far as its messages tell: whether it is online (and since when
// it is not), and what its run does (acquiring, paused, the unit away or silent), each with the
// moment it began on the rig's clock (the run's start plus the event's time). Qt Core only.
class RigState
{
public:
    enum class Activity
    {
        Unknown,
        Acquiring,
        Paused,
        UnitAway,
        UnitSilent,
    };

    // The rig said it is online or offline; at: when that was heard, invalid for a state the
    // broker kept from before (its moment is then unknown).
    void setOnline(bool online, const QDateTime &at);
    // An event of the run started at runStart, in the run's order.
    void event(const RunEvent &event, const QDateTime &runStart);
    // A record of the run came (at runStart + time): a rig sending records is acquiring. Returns
    // whether that changed what the rig is doing.
    bool record(double time, const QDateTime &runStart);
    // A new run: what the rig does goes on from the last run.
    void newRun();

    bool isKnown() const { return known; }
    bool isOnline() const { return online; }
    Activity activity() const { return doing; }
    QDateTime offlineSince() const { return offlineAt; }
    QDateTime activitySince() const { return doingSince; }
    // "Rig online: acquiring", "Rig offline since 14:05", "Rig online: unit away since 14:07:12",
    // "Rig online: paused since 14:07:12".
    QString text() const;

private:
    void set(Activity activity, const QDateTime &since);

    bool known = false;
    bool online = false;
    QDateTime offlineAt;
    QDateTime lastRecordAt;
    Activity doing = Activity::Unknown;
    Activity beforeAway = Activity::Acquiring;
    QDateTime doingSince;
};

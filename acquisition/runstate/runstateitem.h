// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acquisition/runstate/runstate.h"

#include <QLabel>
#include <QList>

class QStatusBar;

// The run's state as a permanent item of the acquisition window's status bar: its name in words
// ("Acquiring", "Paused", "Unit away (since 14:05:09)", ...), on a colour that sets the states
// apart at a glance, in bold where something needs the operator's attention. The words say it
// all; the colour only helps.
class RunStateItem : public QLabel
{
    Q_OBJECT

public:
    // Added to statusBar as a permanent item; follows state, which must outlive it.
    RunStateItem(RunState *state, QStatusBar *statusBar);

    static QString itemName() { return QStringLiteral("runState"); }
    // Whether the state asks for the operator's attention (drawn in bold).
    static bool isAlarm(RunState::State state);
    // The background and text colours of the state.
    static QColor background(RunState::State state);
    static QColor foreground(RunState::State state);

private:
    void showState(RunState::State state);

    RunState *runState;
};

// Shows the status messages the run's state gives in statusBar, and takes one away that no
// longer holds as long as it is still shown.
void showRunMessages(RunState *state, QStatusBar *statusBar);

// While the unit is away, readouts still show the last values it sent, but disabled and faded,
// so that nobody takes them for live values.
void showReadoutsAway(const QList<QWidget *> &readouts, bool away);

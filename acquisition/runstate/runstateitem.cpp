// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runstate/runstateitem.h"

#include <QGraphicsOpacityEffect>
#include <QStatusBar>

namespace {

// How much of a readout's colour shows while the unit is away.
constexpr qreal AwayOpacity = 0.35;

} // namespace

RunStateItem::RunStateItem(RunState *state, QStatusBar *statusBar) : QLabel(statusBar), runState(state)
{
    setObjectName(itemName());
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    setContentsMargins(6, 0, 6, 0);
    statusBar->addPermanentWidget(this);
    connect(state, &RunState::stateChanged, this, &RunStateItem::showState);
    showState(state->state());
}

bool RunStateItem::isAlarm(RunState::State state)
{
    return state == RunState::State::UnitAway || state == RunState::State::UnitSilent ||
           state == RunState::State::NoUnit || state == RunState::State::NoSensorCount;
}

QColor RunStateItem::background(RunState::State state)
{
    switch (state) {
    case RunState::State::Acquiring:
        return QColor(46, 125, 50); // green
    case RunState::State::Paused:
        return QColor(249, 168, 37); // amber
    case RunState::State::UnitSilent:
    case RunState::State::NoSensorCount:
        return QColor(230, 81, 0); // orange
    case RunState::State::UnitAway:
    case RunState::State::NoUnit:
        return QColor(198, 40, 40); // red
    case RunState::State::NotStarted:
        break;
    }
    return QColor(224, 224, 224); // grey
}

QColor RunStateItem::foreground(RunState::State state)
{
    return state == RunState::State::Paused || state == RunState::State::NotStarted ? QColor(Qt::black)
                                                                                    : QColor(Qt::white);
}

void RunStateItem::showState(RunState::State state)
{
    setText(runState->stateText());
    setToolTip(tr("State of the run: %1").arg(text()));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, background(state));
    colours.setColor(QPalette::WindowText, foreground(state));
    setPalette(colours);
    QFont bold = font();
    bold.setBold(isAlarm(state));
    setFont(bold);
}

void showRunMessages(RunState *state, QStatusBar *statusBar)
{
    QObject::connect(state, &RunState::message, statusBar,
                     [statusBar](const QString &text) { statusBar->showMessage(text); });
    QObject::connect(state, &RunState::messageEnded, statusBar, [statusBar](const QString &text) {
        if (statusBar->currentMessage() == text)
            statusBar->clearMessage();
    });
}

void showReadoutsAway(const QList<QWidget *> &readouts, bool away)
{
    for (QWidget *readout : readouts) {
        readout->setEnabled(!away);
        if (away) {
            auto *fade = new QGraphicsOpacityEffect(readout);
            fade->setOpacity(AwayOpacity);
            readout->setGraphicsEffect(fade); // replaces (and deletes) an earlier one
        } else {
            readout->setGraphicsEffect(nullptr);
        }
    }
}

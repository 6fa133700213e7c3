// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QCPMarginGroup;
class QCustomPlot;

// Two charts shown one above the other with their plot areas starting at the same x, so that a
// time is at the same place on both: their left margins are both the wider of the two (a margin
// group spanning both charts). A chart whose labels change the common margin has the other laid
// out again at the event loop's next turn.
class ChartAlignment : public QObject
{
    Q_OBJECT

public:
    ChartAlignment(QCustomPlot *upper, QCustomPlot *lower);

private:
    void laidOut(QCustomPlot *chart, QCustomPlot *other);

    QCPMarginGroup *group;
};

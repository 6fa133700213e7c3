// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartalignment.h"

#include <qcustomplot.h>

ChartAlignment::ChartAlignment(QCustomPlot *upper, QCustomPlot *lower)
    : QObject(upper), group(new QCPMarginGroup(upper))
{
    for (QCustomPlot *chart : {upper, lower})
        chart->axisRect()->setMarginGroup(QCP::msLeft, group);
    connect(upper, &QCustomPlot::afterLayout, this, [this, upper, lower] { laidOut(upper, lower); });
    connect(lower, &QCustomPlot::afterLayout, this, [this, upper, lower] { laidOut(lower, upper); });
}

void ChartAlignment::laidOut(QCustomPlot *chart, QCustomPlot *other)
{
    // The other chart was laid out with what this one's labels needed before.
    if (chart->axisRect()->left() != other->axisRect()->left())
        other->replot(QCustomPlot::rpQueuedReplot);
}

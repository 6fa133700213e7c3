// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/panels/walltestchart.h"

#include <algorithm>
#include <cmath>

namespace {

const QColor ResistanceColour(0, 0, 200);
const QColor BandColour(0, 155, 0);
const QColor DynamicColour(200, 90, 0);

// The value range worth showing: R and its band over the last two thirds of the run. The first
// hours' R swings far (little heat has passed yet) and would squeeze what matters into a line.
QCPRange valueRange(const QVector<WallTestPoint> &points, const std::optional<double> &dynamic)
{
    double lower = qInf(), upper = -qInf();
    const double from = points.first().t + (points.last().t - points.first().t) / 3;
    for (const WallTestPoint &p : points) {
        if (p.t < from)
            continue;
        for (double v : {p.r, p.rDayBefore * (1 - WallTest::StabilityTolerance),
                         p.rDayBefore * (1 + WallTest::StabilityTolerance)}) {
            if (std::isfinite(v)) {
                lower = std::min(lower, v);
                upper = std::max(upper, v);
            }
        }
    }
    if (!(lower <= upper))
        return QCPRange(0, 1);
    // The dynamic method's R widens the range only where it is near what the average method
    // shows: a fit gone astray (its interval then says so) must not squeeze R(t) into a line.
    if (dynamic && *dynamic >= lower - (upper - lower) - 0.2 * std::fabs(lower) &&
        *dynamic <= upper + (upper - lower) + 0.2 * std::fabs(upper)) {
        lower = std::min(lower, *dynamic);
        upper = std::max(upper, *dynamic);
    }
    const double margin = std::max(0.1 * (upper - lower), 1e-3 * std::max(std::fabs(upper), 1.0));
    return QCPRange(lower - margin, upper + margin);
}

} // namespace

WallTestChart::WallTestChart(QWidget *parent) : QCustomPlot(parent)
{
    setObjectName(QStringLiteral("resistanceChart"));
    setMinimumHeight(170);
    xAxis->setLabel(tr("Time (h)"));
    yAxis->setLabel(tr("R (m\u00b2K/W)"));
    QCPGraph *resistance = addGraph();
    resistance->setName(tr("R over the records so far"));
    resistance->setPen(QPen(ResistanceColour, 2));
    QCPGraph *upper = addGraph();
    QCPGraph *lower = addGraph();
    upper->setName(tr("R a day before \u00b1 5 % (criterion B)"));
    for (QCPGraph *band : {upper, lower}) {
        band->setPen(QPen(BandColour, 1));
        band->setAntialiased(false);
    }
    upper->setBrush(QColor(BandColour.red(), BandColour.green(), BandColour.blue(), 50));
    upper->setChannelFillGraph(lower);
    legend->setVisible(true);
    legend->removeItem(legend->itemCount() - 1); // the band's lower edge needs no entry of its own
    QCPGraph *dynamic = addGraph();
    dynamic->setName(tr("R by the dynamic method, now"));
    dynamic->setPen(QPen(DynamicColour, 2, Qt::DashLine));
    legend->setFont(QFont(font().family(), std::max(7, font().pointSize() - 1)));
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignRight);
    // A few thousand points a curve, drawn again every second or so: fast lines, and the band's
    // fill without antialiasing (its edges are drawn over it).
    setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    setNotAntialiasedElements(QCP::aeFills);
    xAxis->setRange(0, 24);
    yAxis->setRange(0, 1);
}

void WallTestChart::showHistory(const QVector<WallTestPoint> &points)
{
    pending = points;
    hasPending = true;
    drawSoon();
}

void WallTestChart::showDynamic(const DynamicResult &result)
{
    if (result.r == dynamicR)
        return;
    dynamicR = result.r;
    if (!hasPending) {
        pending = shown;
        hasPending = true;
    }
    drawSoon();
}

void WallTestChart::drawSoon()
{
    if (drawing.isPending())
        return;
    if (drawing.isDue())
        draw();
    else
        drawing.request();
}

int WallTestChart::pointsShown() const
{
    return graph(0)->dataCount();
}

void WallTestChart::draw()
{
    if (!hasPending)
        return;
    hasPending = false;
    drawing.done();
    QVector<double> hours, r, upper, lower;
    for (const WallTestPoint &p : pending) {
        hours.append(p.t / 3600);
        r.append(p.r);
        upper.append(p.rDayBefore * (1 + WallTest::StabilityTolerance));
        lower.append(p.rDayBefore * (1 - WallTest::StabilityTolerance));
    }
    graph(0)->setData(hours, r, true);
    graph(1)->setData(hours, upper, true);
    graph(2)->setData(hours, lower, true);
    if (pending.isEmpty()) {
        xAxis->setRange(0, 24);
        yAxis->setRange(0, 1);
    } else {
        xAxis->setRange(pending.first().t / 3600,
                        std::max(pending.last().t / 3600, pending.first().t / 3600 + 1));
        yAxis->setRange(valueRange(pending, dynamicR));
    }
    QVector<double> across, level;
    if (dynamicR) {
        across = {xAxis->range().lower, xAxis->range().upper};
        level = {*dynamicR, *dynamicR};
    }
    graph(3)->setData(across, level, true);
    shown = std::move(pending);
    pending.clear();
    replot(rpQueuedReplot);
}

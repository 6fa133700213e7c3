// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/curveshape.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Cuts the segment from a to b to the x range [xMin, xMax] (lines to records far off the chart).
bool clipToColumns(QPointF *a, QPointF *b, double xMin, double xMax)
{
    if (std::max(a->x(), b->x()) < xMin || std::min(a->x(), b->x()) > xMax)
        return false;
    auto at = [&](double x) {
        const double dx = b->x() - a->x();
        const double f = dx != 0 ? (x - a->x()) / dx : 0;
        return QPointF(x, a->y() + f * (b->y() - a->y()));
    };
    const QPointF from = *a, to = *b;
    if (from.x() < xMin)
        *a = at(xMin);
    if (to.x() > xMax)
        *b = at(xMax);
    return true;
}

} // namespace

CurveShape shapeCurve(CurveCells cells, int columns, double penHalfWidth)
{
    CurveShape out;
    std::vector<CurveCell> &c = cells.cells;
    const size_t n = c.size();
    std::vector<char> banded(n, 0), linked(n, 0);
    const double xMin = cells.left - 2 * penHalfWidth - 1;
    const double xMax = cells.left + double(n) / CurveCells::PerColumn + 2 * penHalfWidth + 1;

    QPolygonF line;
    auto flush = [&] {
        if (line.size() >= 2)
            out.lines.push_back(line);
        line.clear();
    };
    auto lineTo = [&](QPointF from, QPointF to) {
        if (!clipToColumns(&from, &to, xMin, xMax))
            return;
        if (line.isEmpty() || line.last() != from) {
            flush();
            line << from;
        }
        line << to;
    };

    // Neighbouring cells are joined within the band: the segment between them is less than a
    // column long. Cells further apart are joined by a line.
    std::optional<QPointF> previousEnd = cells.before;
    long long previous = -1;
    for (size_t i = 0; i < n; ++i) {
        CurveCell &cell = c[i];
        if (!cell.has())
            continue;
        if (previous >= 0 && (long long)i == previous + 1) {
            CurveCell &p = c[size_t(previous)];
            p.top = std::min(p.top, cell.first);
            p.bottom = std::max(p.bottom, cell.first);
            banded[size_t(previous)] = banded[i] = 1;
        } else if (previousEnd) {
            lineTo(*previousEnd, QPointF(cell.firstX, cell.first));
            if (previous >= 0)
                linked[size_t(previous)] = 1;
            linked[i] = 1;
        }
        if (cell.records > 1)
            banded[i] = 1;
        previousEnd = QPointF(cell.lastX, cell.last);
        previous = (long long)i;
    }
    if (cells.after && previousEnd) {
        lineTo(*previousEnd, *cells.after);
        if (previous >= 0)
            linked[size_t(previous)] = 1;
    }
    flush();
    // A record with no neighbour in sight still shows, as a dot.
    for (size_t i = 0; i < n; ++i) {
        if (c[i].has() && !linked[i])
            banded[i] = 1;
    }

    // A column's span: every banded cell within the pen's reach of the column's centre, widened
    // by the pen's reach at that distance (a round pen's outline).
    struct Reach
    {
        int cell;
        double height;
    };
    std::vector<Reach> reach;
    const int k = int(std::ceil(penHalfWidth * CurveCells::PerColumn)) + 1;
    for (int i = -k; i <= k; ++i) {
        const double d = (i + 0.5) / CurveCells::PerColumn - 0.5;
        if (std::abs(d) < penHalfWidth)
            reach.push_back(Reach{i, std::sqrt(penHalfWidth * penHalfWidth - d * d)});
    }
    out.band.reserve(size_t(std::max(columns, 0)));
    for (int x = 0; x < columns; ++x) {
        double top = std::numeric_limits<double>::infinity();
        double bottom = -top;
        const long long base = CurveCells::MarginCells + (long long)x * CurveCells::PerColumn;
        for (const Reach &r : reach) {
            const long long j = base + r.cell;
            if (j < 0 || j >= (long long)n || !banded[size_t(j)])
                continue;
            top = std::min(top, c[size_t(j)].top - r.height);
            bottom = std::max(bottom, c[size_t(j)].bottom + r.height);
        }
        if (top <= bottom)
            out.band.push_back(BandSpan{x, top, bottom});
    }
    return out;
}

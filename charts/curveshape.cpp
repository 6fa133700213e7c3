// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/curveshape.h"

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

constexpr float Inf = std::numeric_limits<float>::infinity();

// Levels by share of the column's width covered: whole, then quarters downwards.
int levelOf(double coverage)
{
    return coverage >= 1 ? 0 : 4 - std::clamp(int(coverage * 4), 0, 3);
}

bool isEmpty(float top, float bottom)
{
    return top > bottom;
}

} // namespace

void BandColumn::clear()
{
    std::fill(&top[0][0], &top[0][0] + 2 * Levels, Inf);
    std::fill(&bottom[0][0], &bottom[0][0] + 2 * Levels, -Inf);
}

// The band is what a pen of the given reach covers of each pixel column when it strokes the
// curve. It is made of thin vertical strokes with a known left and right end and lowest and
// highest row; straight pieces of the curve are sliced into them. A stroke covers the pen's full
// width within half the pen's reach of its ends, and a narrower cap beyond (the round pen's
// outline at three quarters of its reach). Strokes are gathered into slots an eighth of a pixel
// wide first, so that the work per column is the same however many strokes there are.
void CurveShaper::stroke(double x0, double x1, double top, double bottom, double extension)
{
    const double inner = extension * reach / 2, outer = extension * reach;
    const double first = std::floor((x0 - left) * SlotsPerPixel) + marginSlots;
    const double last = std::floor((x1 - left) * SlotsPerPixel) + marginSlots;
    if (!(last >= 0) || !(first < double(slotRows.size())))
        return;
    const int from = int(std::max(first, 0.0)), to = int(std::min(last, double(slotRows.size() - 1)));
    const float coreTop = float(top - inner), coreBottom = float(bottom + inner);
    const float capTop = float(top - outer), capBottom = float(bottom + outer);
    for (int i = from; i <= to; ++i) {
        Slot &slot = slotRows[size_t(i)];
        slot.core.top = std::min(slot.core.top, coreTop);
        slot.core.bottom = std::max(slot.core.bottom, coreBottom);
        slot.cap.top = std::min(slot.cap.top, capTop);
        slot.cap.bottom = std::max(slot.cap.bottom, capBottom);
    }
    firstSlot = std::min(firstSlot, from);
    lastSlot = std::max(lastSlot, to);
}

void CurveShaper::segment(double ax, double ay, double bx, double by, double extension)
{
    // Slot by slot: the rows the segment passes within each slot.
    if (bx < ax) {
        std::swap(ax, bx);
        std::swap(ay, by);
    }
    const double first = std::floor((ax - left) * SlotsPerPixel) + marginSlots;
    const double last = std::floor((bx - left) * SlotsPerPixel) + marginSlots;
    if (!(last >= 0) || !(first < double(slotRows.size())))
        return;
    const int from = int(std::max(first, 0.0)), to = int(std::min(last, double(slotRows.size() - 1)));
    if (from == to) {
        stroke(ax, bx, std::min(ay, by), std::max(ay, by), extension);
        return;
    }
    const double slope = (by - ay) / (bx - ax);
    const float inner = float(extension * reach / 2), outer = float(extension * reach);
    for (int i = from; i <= to; ++i) {
        const double slotLeft = left + double(i - marginSlots) / SlotsPerPixel;
        const double y0 = ay + slope * (std::max(ax, slotLeft) - ax);
        const double y1 = ay + slope * (std::min(bx, slotLeft + 1.0 / SlotsPerPixel) - ax);
        const float top = float(std::min(y0, y1)), bottom = float(std::max(y0, y1));
        Slot &slot = slotRows[size_t(i)];
        slot.core.top = std::min(slot.core.top, top - inner);
        slot.core.bottom = std::max(slot.core.bottom, bottom + inner);
        slot.cap.top = std::min(slot.cap.top, top - outer);
        slot.cap.bottom = std::max(slot.cap.bottom, bottom + outer);
    }
    firstSlot = std::min(firstSlot, from);
    lastSlot = std::max(lastSlot, to);
}

void CurveShaper::fillColumns(int columns, int fromColumn)
{
    // What the slots around a column give it: runs of slots at neighbouring offsets from the
    // column's first slot that give the same level, on the same side of the column's middle,
    // for the pen's full width (core) or its cap.
    struct Group
    {
        int from, to; // offsets, inclusive
        int level, side;
        bool cap;
    };
    Group groups[48];
    int groupCount = 0;
    const double slotWidth = 1.0 / SlotsPerPixel;
    const double capReach = reach * std::sqrt(1 - 0.75 * 0.75);
    const int span = std::min(int(std::ceil((reach + slotWidth) * SlotsPerPixel)) + 1, 24);
    for (int kind = 0; kind < 2; ++kind) {
        const double r = kind == 0 ? reach : capReach;
        for (int offset = -span; offset < SlotsPerPixel + span; ++offset) {
            const double x0 = offset * slotWidth; // relative to the column's left edge
            const double coverage = std::min(1.0, x0 + slotWidth + r) - std::max(0.0, x0 - r);
            if (coverage <= 0)
                continue;
            const int level = levelOf(coverage), side = x0 + slotWidth / 2 < 0.5 ? 0 : 1;
            Group &last = groups[std::max(groupCount - 1, 0)];
            if (groupCount > 0 && last.cap == (kind == 1) && last.level == level && last.side == side &&
                last.to == offset - 1)
                last.to = offset;
            else if (groupCount < 48)
                groups[groupCount++] = Group{offset, offset, level, side, kind == 1};
        }
    }

    out.band.resize(size_t(std::max(columns, 0)));
    out.firstColumn = std::max({0, fromColumn, (firstSlot - marginSlots - span) / SlotsPerPixel - 1});
    out.lastColumn = std::min(columns - 1, (lastSlot - marginSlots + span) / SlotsPerPixel + 1);
    if (lastSlot < firstSlot)
        out.lastColumn = out.firstColumn - 1;
    for (int column = out.firstColumn; column <= out.lastColumn; ++column) {
        BandColumn &c = out.band[size_t(column)];
        c.clear();
        const int base = marginSlots + column * SlotsPerPixel;
        for (int g = 0; g < groupCount; ++g) {
            const Group &group = groups[g];
            const int from = std::max(base + group.from, firstSlot), to = std::min(base + group.to, lastSlot);
            float top = Inf, bottom = -Inf; // empty slots are +inf..-inf and change nothing
            for (int k = from; k <= to; ++k) {
                const Rows &rows = group.cap ? slotRows[size_t(k)].cap : slotRows[size_t(k)].core;
                top = std::min(top, rows.top);
                bottom = std::max(bottom, rows.bottom);
            }
            c.top[group.level][group.side] = std::min(c.top[group.level][group.side], top);
            c.bottom[group.level][group.side] = std::max(c.bottom[group.level][group.side], bottom);
        }
        // Full coverage is one run; the partial levels keep their two sides apart unless they
        // meet: at a step the two sides are the step's two ends, and the rows between them must
        // not be filled in at that level.
        for (int l = 0; l < BandColumn::Levels; ++l) {
            float *top = c.top[l], *bottom = c.bottom[l];
            if (isEmpty(top[0], bottom[0]) || isEmpty(top[1], bottom[1]))
                continue;
            if (l == 0 || (top[1] <= bottom[0] + 1 && bottom[1] >= top[0] - 1)) {
                top[0] = std::min(top[0], top[1]);
                bottom[0] = std::max(bottom[0], bottom[1]);
                top[1] = Inf;
                bottom[1] = -Inf;
            }
        }
    }
    // The slots are left empty for the next curve.
    for (int i = std::max(firstSlot, 0); i <= lastSlot; ++i)
        slotRows[size_t(i)] = Slot{{Inf, -Inf}, {Inf, -Inf}};
    firstSlot = int(slotRows.size());
    lastSlot = -1;
}

double CurveShaper::shapedFrom(double plotLeft, int fromColumn, double penHalfWidth)
{
    // Band pieces ending this far left of the first column shaped can't reach it: a column takes
    // from slots within the pen's reach, and pieces are at most half a column wide.
    return fromColumn > 0 ? plotLeft + fromColumn - (penHalfWidth + 4)
                          : -std::numeric_limits<double>::infinity();
}

const CurveShape &CurveShaper::shape(const CurveCells &cells, int columns, double penHalfWidth,
                                     int fromColumn)
{
    out.lines.clear();
    left = cells.left + double(CurveCells::MarginCells) / CurveCells::PerColumn;
    reach = penHalfWidth;
    marginSlots = int(std::ceil(reach * SlotsPerPixel)) + 2;
    const size_t slotCount = size_t(std::max(columns, 0) * SlotsPerPixel + 2 * marginSlots);
    if (slotRows.size() != slotCount)
        slotRows.assign(slotCount, Slot{{Inf, -Inf}, {Inf, -Inf}});
    firstSlot = int(slotRows.size());
    lastSlot = -1;

    const std::vector<CurveCell> &c = cells.cells;
    const size_t n = c.size();
    banded.assign(n, 0);
    linked.assign(n, 0);
    const double xMin = cells.left - 2 * penHalfWidth - 1;
    const double xMax = cells.left + double(cells.count) / CurveCells::PerColumn + 2 * penHalfWidth + 1;
    const double bandFrom = shapedFrom(left, fromColumn, reach);

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

    // Records in neighbouring quarter columns, or less than a quarter column apart, are joined
    // within the band. Records further apart are joined by a line: at most four segments per
    // column.
    // A cell broken from the one before starts a new line.
    std::optional<QPointF> previousEnd = cells.before;
    for (size_t i = 0; i < n; ++i) {
        const CurveCell &cell = c[i];
        if (cell.brokenBefore) {
            flush();
        } else if (i > 0 && (cell.index == c[i - 1].index + 1 ||
                             cell.firstX - previousEnd->x() <= 1.0 / CurveCells::PerColumn)) {
            if (cell.firstX >= bandFrom)
                segment(previousEnd->x(), previousEnd->y(), cell.firstX, cell.first, 1.0);
            banded[i - 1] = banded[i] = 1;
        } else if (previousEnd) {
            lineTo(*previousEnd, QPointF(cell.firstX, cell.first));
            if (i > 0)
                linked[i - 1] = 1;
            linked[i] = 1;
        }
        if (cell.records > 1)
            banded[i] = 1;
        previousEnd = QPointF(cell.lastX, cell.last);
    }
    if (cells.after && previousEnd && !cells.afterBroken) {
        lineTo(*previousEnd, *cells.after);
        if (n > 0)
            linked[n - 1] = 1;
    }
    flush();
    // Cells in the band, and a record with no neighbour in sight as a dot.
    for (size_t i = 0; i < n; ++i) {
        const CurveCell &cell = c[i];
        if ((!banded[i] && linked[i]) || cell.lastX < bandFrom)
            continue;
        // Records that only rise or only fall across the cell are taken as a straight piece. The
        // others turn somewhere in the cell: at a tip, stroking a sharp zigzag puts little beyond
        // it and a round top the whole pen; half the pen is within half a pixel of both.
        constexpr double Slack = 0.01;
        constexpr double TipReach = 0.5;
        const double range = cell.bottom - cell.top;
        if (cell.top >= std::min(cell.first, cell.last) - Slack &&
            cell.bottom <= std::max(cell.first, cell.last) + Slack) {
            segment(cell.firstX, cell.first, cell.lastX, cell.last, 1.0);
        } else if (std::abs(cell.first - cell.last) >= range / 2) {
            // Mostly a rise or a fall (a step, say): through the extremes, the one nearer the first
            // value first, at a third and two thirds of the way.
            const bool highFirst = std::abs(cell.first - cell.top) < std::abs(cell.first - cell.bottom);
            const double x1 = cell.firstX + (cell.lastX - cell.firstX) / 3;
            const double x2 = cell.firstX + 2 * (cell.lastX - cell.firstX) / 3;
            const double y1 = highFirst ? cell.top : cell.bottom, y2 = highFirst ? cell.bottom : cell.top;
            segment(cell.firstX, cell.first, x1, y1, TipReach);
            segment(x1, y1, x2, y2, TipReach);
            segment(x2, y2, cell.lastX, cell.last, TipReach);
        } else {
            // Up and down: anywhere within the cell.
            stroke(cell.firstX, cell.lastX, cell.top, cell.bottom, TipReach);
        }
    }
    fillColumns(columns, std::max(fromColumn, 0));
    return out;
}

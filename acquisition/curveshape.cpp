// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/curveshape.h"

#include <algorithm>
#include <array>
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

namespace {

// The column spans of a band: what a pen of the given reach covers of each pixel column when it
// strokes the curve, in five levels of coverage (a stroke near a column's edge covers part of its
// width). It is made of thin vertical strokes with a known left and right end and lowest and
// highest row; straight pieces of the curve are sliced into them. Strokes are gathered into
// slots an eighth of a pixel wide first, so that the work per column is the same however many
// strokes there are.
class BandBuilder
{
public:
    BandBuilder(double left, int columns, double reach)
        : left(left), reach(reach), columns(std::max(columns, 0)),
          marginSlots(int(std::ceil(reach * SlotsPerPixel)) + 1),
          slots(size_t((this->columns * SlotsPerPixel) + 2 * marginSlots))
    {
    }

    // A stroke anywhere between x0 and x1 reaching the rows top to bottom, with a round pen that
    // reaches extension * reach beyond its ends (above and below): the pen's full width within
    // half that, a thinner cap beyond.
    void add(double x0, double x1, double top, double bottom, double extension)
    {
        const double inner = extension * reach / 2, outer = extension * reach;
        const long long first = slotAt(x0), last = slotAt(x1);
        for (long long i = std::max(first, 0LL); i <= last && i < (long long)slots.size(); ++i) {
            Slot &slot = slots[size_t(i)];
            slot.core.take(top - inner, bottom + inner);
            slot.cap.take(top - outer, bottom + outer);
        }
    }

    // A straight segment, as thin vertical slices stroked with a round pen (or, with an extension
    // below 1, a pen that reaches less far beyond the segment's ends).
    void addSegment(QPointF a, QPointF b, double extension = 1.0)
    {
        if (b.x() < a.x())
            std::swap(a, b);
        const int slices = std::max(1, int(std::ceil((b.x() - a.x()) * SlotsPerPixel)));
        for (int k = 0; k < slices; ++k) {
            const double f0 = double(k) / slices, f1 = double(k + 1) / slices;
            const double y0 = a.y() + f0 * (b.y() - a.y()), y1 = a.y() + f1 * (b.y() - a.y());
            add(a.x() + f0 * (b.x() - a.x()), a.x() + f1 * (b.x() - a.x()), std::min(y0, y1),
                std::max(y0, y1), extension);
        }
    }

    std::vector<BandSpan> spans() const
    {
        // What a slot at each offset from a column's first slot gives the column: the level of
        // its full-width rows and of its caps, and its side of the column's middle.
        struct Reach
        {
            int offset, coreLevel, capLevel, side;
        };
        std::vector<Reach> reaches;
        const double slotWidth = 1.0 / SlotsPerPixel;
        const double capReach = reach * std::sqrt(1 - 0.75 * 0.75); // at three quarters of the reach
        const int span = int(std::ceil((reach + slotWidth) * SlotsPerPixel)) + 1;
        for (int offset = -span; offset < SlotsPerPixel + span; ++offset) {
            const double x0 = offset * slotWidth; // relative to the column's left edge
            const double core = std::min(1.0, x0 + slotWidth + reach) - std::max(0.0, x0 - reach);
            const double cap = std::min(1.0, x0 + slotWidth + capReach) - std::max(0.0, x0 - capReach);
            if (core > 0)
                reaches.push_back(Reach{offset, levelOf(core), cap > 0 ? levelOf(cap) : -1,
                                        x0 + slotWidth / 2 < 0.5 ? 0 : 1});
        }

        std::vector<BandSpan> out;
        for (int column = 0; column < columns; ++column) {
            // Per level the rows covered from slots left and right of the column's middle: at a
            // step the two sides are the step's two ends, and the rows between them must not be
            // filled in at that level.
            Rows levels[Levels][2];
            const int firstSlot = marginSlots + column * SlotsPerPixel;
            for (const Reach &r : reaches) {
                const int k = firstSlot + r.offset;
                if (k < 0 || k >= (int)slots.size() || slots[size_t(k)].core.empty())
                    continue;
                const Slot &slot = slots[size_t(k)];
                levels[r.coreLevel][r.side].take(slot.core);
                if (r.capLevel >= 0)
                    levels[r.capLevel][r.side].take(slot.cap);
            }
            levels[0][0].take(levels[0][1]);
            levels[0][1] = Rows();
            for (int l = 0; l < Levels; ++l) {
                Rows *sides = levels[l];
                if (!sides[0].empty() && !sides[1].empty() && sides[0].near(sides[1])) {
                    sides[0].take(sides[1]);
                    sides[1] = Rows();
                }
                for (int side = 0; side < 2; ++side) {
                    if (!sides[side].empty())
                        out.push_back(
                            BandSpan{column, sides[side].top, sides[side].bottom, LevelCoverage[l]});
                }
            }
        }
        return out;
    }

private:
    static constexpr int SlotsPerPixel = 8;
    static constexpr int Levels = 5;
    // Levels by share of the column's width covered: whole, then quarters downwards, each drawn
    // with the middle of its range.
    static constexpr double LevelCoverage[Levels] = {1.0, 0.875, 0.625, 0.375, 0.125};
    static int levelOf(double coverage)
    {
        return coverage >= 1 ? 0 : 4 - std::clamp(int(coverage * 4), 0, 3);
    }

    struct Rows
    {
        float top = std::numeric_limits<float>::infinity();
        float bottom = -std::numeric_limits<float>::infinity();
        bool empty() const { return top > bottom; }
        bool near(const Rows &o) const { return o.top <= bottom + 1 && o.bottom >= top - 1; }
        void take(double t, double b)
        {
            top = std::min(top, float(t));
            bottom = std::max(bottom, float(b));
        }
        void take(const Rows &o) { take(o.top, o.bottom); }
    };
    struct Slot
    {
        Rows core, cap;
    };

    long long slotAt(double x) const
    {
        const double i = std::floor((x - left) * SlotsPerPixel) + marginSlots;
        return std::isfinite(i) ? (long long)std::clamp(i, -1.0, double(slots.size())) : -1;
    }

    double left, reach;
    int columns, marginSlots;
    std::vector<Slot> slots;
};

} // namespace

CurveShape shapeCurve(const CurveCells &cells, int columns, double penHalfWidth)
{
    CurveShape out;
    const std::vector<CurveCell> &c = cells.cells;
    const size_t n = c.size();
    std::vector<char> banded(n, 0), linked(n, 0);
    const double xMin = cells.left - 2 * penHalfWidth - 1;
    const double xMax = cells.left + double(cells.count) / CurveCells::PerColumn + 2 * penHalfWidth + 1;
    BandBuilder band(cells.left + double(CurveCells::MarginCells) / CurveCells::PerColumn, columns,
                     penHalfWidth);

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

    // Records in neighbouring quarter columns are joined within the band. Records further apart
    // are joined by a line: at most four segments per column.
    std::optional<QPointF> previousEnd = cells.before;
    for (size_t i = 0; i < n; ++i) {
        const CurveCell &cell = c[i];
        const QPointF start(cell.firstX, cell.first);
        if (i > 0 && cell.index == c[i - 1].index + 1) {
            band.addSegment(*previousEnd, start);
            banded[i - 1] = banded[i] = 1;
        } else if (previousEnd) {
            lineTo(*previousEnd, start);
            if (i > 0)
                linked[i - 1] = 1;
            linked[i] = 1;
        }
        if (cell.records > 1)
            banded[i] = 1;
        previousEnd = QPointF(cell.lastX, cell.last);
    }
    if (cells.after && previousEnd) {
        lineTo(*previousEnd, *cells.after);
        if (n > 0)
            linked[n - 1] = 1;
    }
    flush();
    // Cells in the band, and a record with no neighbour in sight as a dot.
    for (size_t i = 0; i < n; ++i) {
        const CurveCell &cell = c[i];
        if (!banded[i] && linked[i])
            continue;
        // Records that only rise or only fall across the cell are taken as a straight piece. Others
        // zigzag: up and down through the lowest and highest value, the one nearer the first value
        // first. Stroking a sharp zigzag puts little beyond its tips, a round top gets the whole
        // pen: half the pen is within half a pixel of both.
        constexpr double Slack = 0.01;
        constexpr double TipReach = 0.5;
        const double range = cell.bottom - cell.top;
        if (cell.top >= std::min(cell.first, cell.last) - Slack &&
            cell.bottom <= std::max(cell.first, cell.last) + Slack) {
            band.addSegment(QPointF(cell.firstX, cell.first), QPointF(cell.lastX, cell.last));
        } else if (std::abs(cell.first - cell.last) >= range / 2) {
            // Mostly a rise or a fall (a step, say): through the extremes, the one nearer the first
            // value first, at a third and two thirds of the way.
            const bool highFirst = std::abs(cell.first - cell.top) < std::abs(cell.first - cell.bottom);
            const double x1 = cell.firstX + (cell.lastX - cell.firstX) / 3;
            const double x2 = cell.firstX + 2 * (cell.lastX - cell.firstX) / 3;
            const QPointF e1(x1, highFirst ? cell.top : cell.bottom),
                e2(x2, highFirst ? cell.bottom : cell.top);
            band.addSegment(QPointF(cell.firstX, cell.first), e1, TipReach);
            band.addSegment(e1, e2, TipReach);
            band.addSegment(e2, QPointF(cell.lastX, cell.last), TipReach);
        } else {
            // Up and down: anywhere within the cell.
            band.add(cell.firstX, cell.lastX, cell.top, cell.bottom, TipReach);
        }
    }
    out.band = band.spans();
    return out;
}

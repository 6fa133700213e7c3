// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/linecoverage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

double length(QPointF v)
{
    return std::hypot(v.x(), v.y());
}

// The samples' offsets from a pixel's centre.
constexpr double SampleOffset = 0.25;
// How far a sample is from its pixel's centre, at most, along any direction.
constexpr double SampleReach = SampleOffset * 1.41422;

// The rows whose centres lie within a rectangle (centre, unit direction, half length and half
// width) on the vertical line x: false if none.
bool rowsWithin(QPointF centre, QPointF along, double halfLength, double halfWidth, double x, int height,
                int *first, int *last)
{
    if (!(halfLength > 0) || !(halfWidth > 0))
        return false;
    const QPointF across(-along.y(), along.x());
    // Each pair of sides bounds y where its direction has a vertical part; else it bounds x.
    double low = -qInf(), high = qInf();
    const QPointF axes[2] = {along, across};
    const double halves[2] = {halfLength, halfWidth};
    for (int i = 0; i < 2; ++i) {
        const QPointF &u = axes[i];
        const double offset = (x - centre.x()) * u.x();
        if (std::abs(u.y()) < 1e-12) {
            if (std::abs(offset) > halves[i])
                return false;
            continue;
        }
        // |offset + (y - centre.y) * u.y| <= half
        const double a = centre.y() + (-halves[i] - offset) / u.y();
        const double b = centre.y() + (halves[i] - offset) / u.y();
        low = std::max(low, std::min(a, b));
        high = std::min(high, std::max(a, b));
    }
    *first = std::max(0, int(std::ceil(low - 0.5)));
    *last = std::min(height - 1, int(std::floor(high - 0.5)));
    return *first <= *last;
}

} // namespace

void LineCoverage::start(int columns, int rows)
{
    columns = std::max(columns, 0);
    rows = std::max(rows, 0);
    if (columns != width || rows != height) {
        width = columns;
        height = rows;
        cover.assign(size_t(width) * size_t(height) * Samples, 0);
        tops.assign(size_t(width), height);
        bottoms.assign(size_t(width), -1);
        merged.assign(size_t(height), 0);
        return;
    }
    for (int x = 0; x < width; ++x)
        clearColumn(x);
}

void LineCoverage::clearColumn(int x)
{
    int &t = tops[size_t(x)], &b = bottoms[size_t(x)];
    if (t <= b) {
        uchar *c = cover.data() + (size_t(x) * size_t(height) + size_t(t)) * Samples;
        std::memset(c, 0, size_t(b - t + 1) * Samples);
    }
    t = height;
    b = -1;
}

const uchar *LineCoverage::column(int x)
{
    const uchar *c = cover.data() + size_t(x) * size_t(height) * Samples;
    for (int y = tops[size_t(x)]; y <= bottoms[size_t(x)]; ++y) {
        const uchar *s = c + size_t(y) * Samples;
        merged[size_t(y)] = uchar((s[0] + s[1] + s[2] + s[3] + 2) / 4);
    }
    return merged.data();
}

inline void LineCoverage::mark(int x, int first, int last)
{
    tops[size_t(x)] = std::min(tops[size_t(x)], first);
    bottoms[size_t(x)] = std::max(bottoms[size_t(x)], last);
}

template <typename Distance> inline void LineCoverage::sample(int x, int y, Distance distance)
{
    // A sample stands for a quarter of the pixel: all of it a quarter pixel inside the outline,
    // none a quarter pixel outside.
    uchar *c = cover.data() + (size_t(x) * size_t(height) + size_t(y)) * Samples;
    quint32 all = 0;
    std::memcpy(&all, c, sizeof all);
    if (all == 0xffffffff)
        return; // covered whole already
    bool any = false;
    for (int k = 0; k < Samples; ++k) {
        const double dx = x + 0.5 + ((k & 1) ? SampleOffset : -SampleOffset);
        const double dy = y + 0.5 + ((k & 2) ? SampleOffset : -SampleOffset);
        const double share = 0.5 - 2 * distance(dx, dy);
        if (!(share > 0))
            continue;
        c[k] = std::max(c[k], share >= 1 ? uchar(255) : uchar(share * 255 + 0.5));
        any = true;
    }
    if (any)
        mark(x, y, y);
}

void LineCoverage::addRectangle(QPointF centre, QPointF along, double halfLength, double halfWidth)
{
    const QPointF across(-along.y(), along.x());
    // Pixels with a sample within the outline's fading edge have their centre in the rectangle
    // this much larger; those with every sample a quarter pixel inside, in the one this much smaller.
    constexpr double Margin = SampleOffset + SampleReach;
    double left = centre.x(), right = centre.x();
    for (int sx : {-1, 1}) {
        for (int sy : {-1, 1}) {
            const double x =
                centre.x() + along.x() * (halfLength + Margin) * sx + across.x() * (halfWidth + Margin) * sy;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    const int x0 = std::max({from, 0, int(std::ceil(left - 0.5))});
    const int x1 = std::min(width - 1, int(std::floor(right - 0.5)));
    auto distance = [&](double x, double y) {
        const double dx = x - centre.x(), dy = y - centre.y();
        return std::max(std::abs(dx * along.x() + dy * along.y()) - halfLength,
                        std::abs(dx * across.x() + dy * across.y()) - halfWidth);
    };
    for (int x = x0; x <= x1; ++x) {
        int first = 0, last = -1;
        if (!rowsWithin(centre, along, halfLength + Margin, halfWidth + Margin, x + 0.5, height, &first,
                        &last))
            continue;
        int innerFirst = 0, innerLast = -1;
        if (!rowsWithin(centre, along, halfLength - Margin, halfWidth - Margin, x + 0.5, height, &innerFirst,
                        &innerLast)) {
            innerFirst = last + 1;
            innerLast = last;
        }
        for (int y = first; y < innerFirst; ++y)
            sample(x, y, distance);
        if (innerFirst <= innerLast) {
            std::memset(cover.data() + (size_t(x) * size_t(height) + size_t(innerFirst)) * Samples, 255,
                        size_t(innerLast - innerFirst + 1) * Samples);
            mark(x, innerFirst, innerLast);
        }
        for (int y = std::max(innerLast + 1, first); y <= last; ++y)
            sample(x, y, distance);
    }
}

void LineCoverage::addJoint(QPointF vertex, double radius, QPointF normal, double distance)
{
    // Pixels with a sample within the fading edge have their centre within this of the disk.
    constexpr double Margin = SampleOffset + SampleReach;
    const double reach = radius + Margin;
    const int x0 = std::max({from, 0, int(std::ceil(vertex.x() - reach - 0.5))});
    const int x1 = std::min(width - 1, int(std::floor(vertex.x() + reach - 0.5)));
    const int y0 = std::max(0, int(std::ceil(vertex.y() - reach - 0.5)));
    const int y1 = std::min(height - 1, int(std::floor(vertex.y() + reach - 0.5)));
    auto outside = [&](double x, double y) {
        const double dx = x - vertex.x(), dy = y - vertex.y();
        return std::max(std::sqrt(dx * dx + dy * dy) - radius, dx * normal.x() + dy * normal.y() - distance);
    };
    for (int x = x0; x <= x1; ++x) {
        for (int y = y0; y <= y1; ++y) {
            // Only the bevel's side of the disk is the joint's: the rest is in the rectangles.
            const double dx = x + 0.5 - vertex.x(), dy = y + 0.5 - vertex.y();
            if (dx * normal.x() + dy * normal.y() - distance < Margin && dx * dx + dy * dy < reach * reach)
                sample(x, y, outside);
        }
    }
}

void LineCoverage::addPolyline(const QPointF *points, int count, QPointF origin, double halfWidth,
                               int fromColumn)
{
    from = fromColumn;
    // The points without repeats: a segment of no length has no direction.
    std::vector<QPointF> &p = polyline;
    p.clear();
    for (int i = 0; i < count; ++i) {
        const QPointF point = points[i] - origin;
        if (std::isfinite(point.x()) && std::isfinite(point.y()) && (p.empty() || p.back() != point))
            p.push_back(point);
    }
    if (p.empty())
        return;
    if (p.size() == 1) {
        // A line that goes nowhere: the square its caps make.
        addRectangle(p[0], QPointF(1, 0), halfWidth, halfWidth);
        return;
    }
    const size_t last = p.size() - 1;
    for (size_t i = 1; i <= last; ++i) {
        const QPointF a = p[i - 1], b = p[i];
        const QPointF along = (b - a) / length(b - a);
        // Square caps: the line's ends reach half the pen's width beyond its first and last point.
        const double before = i == 1 ? halfWidth : 0, after = i == last ? halfWidth : 0;
        addRectangle((a - along * before + b + along * after) / 2, along,
                     (length(b - a) + before + after) / 2, halfWidth);
        if (i == last)
            continue;
        // The bevel at b: the triangle between the two rectangles' outer corners, drawn as the
        // disk around b cut at the bevel's edge (the rest of the disk is inside the rectangles).
        const QPointF next = p[i + 1] - b;
        const QPointF onward = next / length(next);
        const double turn = along.x() * onward.y() - along.y() * onward.x();
        const double outer = turn > 0 ? -1 : 1;
        const QPointF middle =
            (QPointF(-along.y(), along.x()) + QPointF(-onward.y(), onward.x())) * (outer / 2);
        const double reach = length(middle);
        if (reach > 1e-9)
            addJoint(b, halfWidth, middle / reach, reach * halfWidth);
    }
}

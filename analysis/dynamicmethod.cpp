// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/dynamicmethod.h"

#include "analysis/leastsquares.h"
#include "analysis/studentt.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("DynamicMethod", text);
}

// The equations the intervals give: one per interval whose previous one is whole and not a gap.
struct Equations
{
    std::vector<double> q, difference, warmRate, coldRate; // K/s
    std::vector<char> startsStretch;                       // memory sums start at zero here
    bool warmMoves = false, coldMoves = false;

    Equations(const std::vector<DynamicInterval> &intervals, double step)
    {
        double largest = 0, fastest[2] = {0, 0};
        for (size_t i = 1; i < intervals.size(); ++i) {
            const DynamicInterval &now = intervals[i];
            const DynamicInterval &before = intervals[i - 1];
            if (now.records == 0 || before.records == 0)
                continue;
            startsStretch.push_back(i < 2 || intervals[i - 2].records == 0);
            q.push_back(now.q);
            difference.push_back(now.difference);
            warmRate.push_back((now.warm() - before.warm()) / step);
            coldRate.push_back((now.cold() - before.cold()) / step);
            largest = std::max({largest, std::fabs(now.warm()), std::fabs(now.cold())});
            fastest[0] = std::max(fastest[0], std::fabs(warmRate.back()));
            fastest[1] = std::max(fastest[1], std::fabs(coldRate.back()));
        }
        // A temperature moving by less than rounding (means of T_si and T_se made from their mean
        // and difference) does not move.
        const double still = 1e-12 * (largest + 1) / step;
        history = int(q.size()) / DynamicMethod::HistoryShare;
        warmMoves = fastest[0] > still;
        coldMoves = fastest[1] > still;
    }
    int history = 0; // the first equations only run the memory sums
    int count() const { return int(q.size()) - history; }
    // The equations a stretch without gaps needs to leave fitted at least this many.
    static int neededFor(int fitted)
    {
        int total = fitted;
        while (total - total / DynamicMethod::HistoryShare < fitted)
            ++total;
        return total;
    }
    int unknowns(int m) const { return 1 + (warmMoves ? 1 + m : 0) + (coldMoves ? 1 + m : 0); }
    int smallestModel() const { return warmMoves || coldMoves ? 1 : 0; }

    // The memory column of a rate: sum_{j<i} rate_j (1 - beta) beta^(i-j), within a stretch.
    std::vector<double> memory(const std::vector<double> &rate, double beta) const
    {
        std::vector<double> column(rate.size());
        double s = 0;
        for (size_t i = 0; i < rate.size(); ++i) {
            s = startsStretch[i] ? 0 : beta * (s + (1 - beta) * rate[i - 1]);
            column[i] = s;
        }
        return column;
    }
};

DynamicFit fitEquations(const Equations &e, double step, const DynamicCandidate &candidate)
{
    DynamicFit fit;
    fit.candidate = candidate;
    fit.equations = e.count();
    fit.unknowns = e.unknowns(candidate.m);
    if (fit.equations < DynamicMethod::EquationsPerUnknown * fit.unknowns)
        return fit;
    std::vector<std::vector<double>> columns;
    columns.reserve(size_t(fit.unknowns));
    columns.push_back(e.difference);
    for (int side = 0; side < 2; ++side) {
        if (!(side == 0 ? e.warmMoves : e.coldMoves))
            continue;
        const std::vector<double> &rate = side == 0 ? e.warmRate : e.coldRate;
        columns.push_back(rate);
        for (int n = 0; n < candidate.m; ++n) {
            const double tau = candidate.tau1 / std::pow(candidate.r, n);
            columns.push_back(e.memory(rate, std::exp(-step / tau)));
        }
    }
    std::vector<double> y(e.q.begin() + e.history, e.q.end());
    for (std::vector<double> &c : columns)
        c.erase(c.begin(), c.begin() + e.history);
    const LeastSquaresFit solved = solveLeastSquares(columns, y);
    if (!solved.ok)
        return fit;
    const int dof = fit.equations - fit.unknowns;
    const double variance = solved.residualSumOfSquares / dof;
    fit.ok = true;
    fit.coefficients = solved.solution;
    fit.lambda = solved.solution[0];
    fit.residualSumOfSquares = solved.residualSumOfSquares;
    fit.lambdaHalfWidth = studentTQuantile(1 - (1 - DynamicMethod::Confidence) / 2, dof) *
                          std::sqrt(variance * solved.inverseGram[0]);
    return fit;
}

std::optional<double> transmittanceOf(const std::optional<double> &r, double rsi, double rse)
{
    if (!r)
        return std::nullopt;
    const double total = rsi + *r + rse;
    return total > 0 ? std::optional<double>(1 / total) : std::nullopt;
}

} // namespace

void IntervalMeans::add(double elapsed, double q, double difference, double mean)
{
    const double k = std::floor(elapsed / length);
    if (!(k >= 0) || k > 1e7)
        return;
    if (sums.size() <= size_t(k))
        sums.resize(size_t(k) + 1);
    DynamicInterval &s = sums[size_t(k)];
    s.q += q;
    s.difference += difference;
    s.mean += mean;
    ++s.records;
}

std::vector<DynamicInterval> IntervalMeans::whole() const
{
    std::vector<DynamicInterval> means(sums.begin(), sums.end() - (sums.empty() ? 0 : 1));
    for (DynamicInterval &m : means) {
        if (m.records == 0)
            continue;
        m.q /= double(m.records);
        m.difference /= double(m.records);
        m.mean /= double(m.records);
    }
    return means;
}

std::vector<DynamicCandidate> DynamicMethod::candidates(int intervals, double step)
{
    std::vector<DynamicCandidate> grid;
    const double span = std::max(1, intervals) * step;
    const double ratios[] = {3, 5, 10};
    for (int m = 1; m <= MaxTerms; ++m) {
        for (double r : ratios) {
            for (int k = 0; k < TauSteps; ++k) {
                const double tau1 = step * std::pow(span / step, double(k) / (TauSteps - 1));
                if (tau1 / std::pow(r, m - 1) < step / 2)
                    continue;
                grid.push_back({m, m == 1 ? 1.0 : r, tau1});
            }
            if (m == 1)
                break; // r means nothing with one term
        }
    }
    return grid;
}

DynamicFit DynamicMethod::fit(const std::vector<DynamicInterval> &intervals, double step,
                              const DynamicCandidate &candidate)
{
    return fitEquations(Equations(intervals, step), step, candidate);
}

DynamicResult DynamicMethod::analyse(const std::vector<DynamicInterval> &intervals, double step, double rsi,
                                     double rse)
{
    DynamicResult result;
    result.step = step;
    result.intervals = int(intervals.size());
    result.gaps = int(std::count_if(intervals.begin(), intervals.end(),
                                    [](const DynamicInterval &i) { return i.records == 0; }));
    const Equations e(intervals, step);
    result.equations = e.count();
    result.equationsNeeded = EquationsPerUnknown * e.unknowns(e.smallestModel());
    result.intervalsNeeded = Equations::neededFor(result.equationsNeeded) + 1;
    if (result.equations < result.equationsNeeded) {
        result.status = DynamicResult::Status::TooFewIntervals;
        return result;
    }
    std::vector<DynamicCandidate> grid;
    if (e.warmMoves || e.coldMoves)
        grid = candidates(result.intervals, step);
    else
        grid.push_back({0, 1, 0}); // nothing moves: the steady model alone
    result.candidates = int(grid.size());
    for (const DynamicCandidate &candidate : grid) {
        const DynamicFit fit = fitEquations(e, step, candidate);
        if (fit.ok && (!result.fit.ok || fit.residualSumOfSquares < result.fit.residualSumOfSquares))
            result.fit = fit;
    }
    if (!result.fit.ok) {
        result.status = DynamicResult::Status::Singular;
        return result;
    }
    const double lambda = result.fit.lambda;
    const double half = result.fit.lambdaHalfWidth;
    if (!(lambda > 0) || !std::isfinite(1 / lambda)) {
        result.status = DynamicResult::Status::NoResistance;
        return result;
    }
    result.status = DynamicResult::Status::Ok;
    result.r = 1 / lambda;
    result.rLow = 1 / (lambda + half);
    if (lambda - half > 0)
        result.rHigh = 1 / (lambda - half);
    result.u = transmittanceOf(result.r, rsi, rse);
    result.uLow = transmittanceOf(result.rHigh, rsi, rse);
    result.uHigh = transmittanceOf(result.rLow, rsi, rse);
    return result;
}

QString DynamicResult::problem() const
{
    switch (status) {
    case Status::Ok:
        return QString();
    case Status::TooFewIntervals:
        return translated("Too few intervals for the dynamic method: %1 whole interval(s) of %2 h give %3 "
                          "equation(s) to fit, at least %4 needed (%5 whole intervals without a gap).")
            .arg(intervals)
            .arg(step / 3600, 0, 'g', 4)
            .arg(equations)
            .arg(equationsNeeded)
            .arg(intervalsNeeded);
    case Status::Singular:
        return translated(
            "The dynamic method's fit is singular: the temperatures do not tell the terms of the "
            "model apart (is T_si - T_se ever other than zero?).");
    case Status::NoResistance:
        break;
    }
    return translated(
               "The dynamic method finds no thermal resistance: heat flows the other way (L = %1 W/(m^2 K)).")
        .arg(fit.lambda, 0, 'g', 4);
}

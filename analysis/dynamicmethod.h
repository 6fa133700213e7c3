// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <vector>

// The dynamic method of ISO 9869-1 (its Annex B): the thermal resistance of an element that
// stores and gives off heat, from the means of q, T_si and T_se over consecutive intervals of
// length dt (an hour by default). For interval i, with x'_i = (x_i - x_(i-1)) / dt,
// beta_n = exp(-dt / tau_n) and tau_n = tau_1 / r^(n-1):
//   q_i = L (TI_i - TE_i) + K1 TI'_i + K2 TE'_i
//       + sum_{n=1..m} [ P_n sum_{j<i} TI'_j (1 - beta_n) beta_n^(i-j) + Q_n sum_{j<i} TE'_j (...) ]
// L, K1, K2, P_n and Q_n are fitted by linear least squares for each candidate (m, r, tau_1) of a
// grid; the candidate with the least residual sum of squares wins and R = 1 / L. Its 95 %
// interval is L +- t(0.975, N - p) s sqrt((X^T X)^-1_11), s^2 the residual variance; R's is the
// inverse of L's ends.
//
// How the intervals are read here:
// - Interval k holds the records with k dt <= elapsed < (k + 1) dt. It is whole once a record
//   beyond it came; the interval of the last record is left out until then.
// - An interval without a record is a gap, and the model does not bridge it: the intervals on each
//   side of it are separate stretches. Each stretch's first interval only gives the temperatures
//   its next one's derivatives start from, and its memory sums start at zero, as at the test's
//   start (the model takes the element as settled before it). So each stretch gives one equation
//   fewer than it has intervals.
// - The first third of the equations (rounded down) only run the memory sums and are not fitted:
//   the element's state at the start holds the memory of weather before it, which the sums,
//   starting at zero, know nothing of. Fitting from the start lets a long time constant mimic
//   that memory and trade it against L (on a simulated masonry wall through a cold front, 70 %
//   off instead of under 1 %).
// - A derivative that is zero throughout (a temperature that never moves, as in a steady run)
//   takes its columns out of the model, which then is q = L (TI - TE) and gives the average
//   method's R where q and TI - TE are in proportion.
// - A candidate with p unknowns is fitted only with at least 2 p equations fitted (so that p
//   degrees of freedom are left for the interval), and only if its shortest time constant is at
//   least dt / 2. The smallest model (m = 1, both temperatures moving) has 5 unknowns, so it needs
//   10 equations fitted, 14 in all, from 15 whole intervals without a gap.

// The means over one interval: heat flux (W/m^2), T_si - T_se (K) and (T_si + T_se) / 2 (degC).
// records 0 is a gap, whose means mean nothing.
struct DynamicInterval
{
    double q = 0, difference = 0, mean = 0;
    long long records = 0;

    double warm() const { return mean + difference / 2; }
    double cold() const { return mean - difference / 2; }
};

// The records of a test summed into intervals as they come: one add() each, O(1).
class IntervalMeans
{
public:
    explicit IntervalMeans(double step = 3600) : length(step) {}
    double step() const { return length; }
    void clear() { sums.clear(); }
    // A record used by the test: elapsed >= 0 s since its start, never before the one before.
    void add(double elapsed, double q, double difference, double mean);
    // The whole intervals so far.
    std::vector<DynamicInterval> whole() const;
    int wholeCount() const { return sums.empty() ? 0 : int(sums.size()) - 1; }

private:
    double length;
    std::vector<DynamicInterval> sums; // sums, not means, up to the interval of the last record
};

struct DynamicCandidate
{
    int m = 1;       // memory terms, 0 for the steady model
    double r = 1;    // ratio of one time constant to the next
    double tau1 = 0; // the longest time constant, s
};

struct DynamicFit
{
    bool ok = false;
    DynamicCandidate candidate;
    int equations = 0; // fitted
    int unknowns = 0;
    double lambda = 0;          // L, W/(m^2 K)
    double lambdaHalfWidth = 0; // the 95 % interval's half width
    double residualSumOfSquares = 0;
    std::vector<double> coefficients; // L, then K1, P_1..P_m (if T_si moves), K2, Q_1..Q_m (if T_se moves)
};

struct DynamicResult
{
    enum class Status
    {
        Ok,
        TooFewIntervals, // fewer equations than the smallest model needs
        Singular,        // no candidate could be fitted: the columns depend on each other
        NoResistance     // L <= 0: heat flows the other way
    };
    Status status = Status::TooFewIntervals;
    double step = 3600;
    int intervals = 0;                    // whole intervals
    int gaps = 0;                         // of them without a record
    int equations = 0;                    // fitted
    int equationsNeeded = 0;              // fitted, by the smallest model
    int intervalsNeeded = 0;              // whole intervals without a gap that give them
    int candidates = 0;                   // tried
    DynamicFit fit;                       // the winner (ok only when status is Ok or NoResistance)
    std::optional<double> r, rLow, rHigh; // m^2 K/W; rHigh none where L's interval reaches 0
    std::optional<double> u, uLow, uHigh; // W/(m^2 K)

    double hours() const { return intervals * step / 3600; }
    // Why there is no R, for the operator; empty when there is one.
    QString problem() const;
};

class DynamicMethod
{
public:
    static constexpr double DefaultStep = 3600;
    static constexpr double MinStep = 600;       // s
    static constexpr double MaxStep = 24 * 3600; // s
    static constexpr int MaxTerms = 3;
    static constexpr int TauSteps = 24; // tau_1 values, logarithmically from dt to the span
    static constexpr int EquationsPerUnknown = 2;
    static constexpr int HistoryShare = 3; // the first 1 / HistoryShare of the equations: history only
    static constexpr double Confidence = 0.95;

    // The grid for a span of whole intervals, as the method searches it.
    static std::vector<DynamicCandidate> candidates(int intervals, double step);
    // One candidate fitted to the intervals (ok false: too few equations, or singular).
    static DynamicFit fit(const std::vector<DynamicInterval> &intervals, double step,
                          const DynamicCandidate &candidate);
    // The whole method; rsi and rse (m^2 K/W) only enter U.
    static DynamicResult analyse(const std::vector<DynamicInterval> &intervals, double step,
                                 double rsi = 0.13, double rse = 0.04);
};

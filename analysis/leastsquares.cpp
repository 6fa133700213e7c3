// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/leastsquares.h"

#include <cmath>

LeastSquaresFit solveLeastSquares(const std::vector<std::vector<double>> &columns,
                                  const std::vector<double> &y, double relativeRank)
{
    LeastSquaresFit fit;
    const size_t p = columns.size();
    const size_t n = y.size();
    if (p == 0 || n < p)
        return fit;
    // Each column scaled to unit length, so that the rank test means the same for every column
    // whatever its unit (kelvin against kelvin per second).
    std::vector<std::vector<double>> a(columns);
    std::vector<double> scale(p);
    for (size_t k = 0; k < p; ++k) {
        if (a[k].size() != n)
            return fit;
        double norm = 0;
        for (double v : a[k])
            norm += v * v;
        norm = std::sqrt(norm);
        if (!(norm > 0) || !std::isfinite(norm))
            return fit;
        scale[k] = norm;
        for (double &v : a[k])
            v /= norm;
    }
    std::vector<double> b(y);
    std::vector<double> diagonal(p);
    for (size_t k = 0; k < p; ++k) {
        std::vector<double> &v = a[k];
        double norm = 0;
        for (size_t i = k; i < n; ++i)
            norm += v[i] * v[i];
        norm = std::sqrt(norm);
        // The part of column k that the columns before do not explain (its length is 1).
        if (!(norm > relativeRank))
            return fit;
        const double alpha = v[k] > 0 ? -norm : norm;
        v[k] -= alpha; // v[k..n) is now the Householder vector
        double vv = 0;
        for (size_t i = k; i < n; ++i)
            vv += v[i] * v[i];
        auto reflect = [&](std::vector<double> &x) {
            double dot = 0;
            for (size_t i = k; i < n; ++i)
                dot += v[i] * x[i];
            const double f = 2 * dot / vv;
            for (size_t i = k; i < n; ++i)
                x[i] -= f * v[i];
        };
        for (size_t j = k + 1; j < p; ++j)
            reflect(a[j]);
        reflect(b);
        diagonal[k] = alpha;
    }
    // R: diagonal[k] on the diagonal, a[j][k] above it (column j, row k < j).
    auto rAt = [&](size_t row, size_t column) { return row == column ? diagonal[row] : a[column][row]; };
    std::vector<double> z(p);
    for (size_t k = p; k-- > 0;) {
        double s = b[k];
        for (size_t j = k + 1; j < p; ++j)
            s -= rAt(k, j) * z[j];
        z[k] = s / diagonal[k];
    }
    // R^-1 (upper triangular), then (X^T X)^-1 = S^-1 R^-1 R^-T S^-1 for the scaling S.
    std::vector<double> rInverse(p * p, 0.0);
    for (size_t c = 0; c < p; ++c) {
        rInverse[c * p + c] = 1 / diagonal[c];
        for (size_t k = c; k-- > 0;) {
            double s = 0;
            for (size_t j = k + 1; j <= c; ++j)
                s += rAt(k, j) * rInverse[j * p + c];
            rInverse[k * p + c] = -s / diagonal[k];
        }
    }
    fit.inverseGram.assign(p * p, 0.0);
    for (size_t i = 0; i < p; ++i) {
        for (size_t j = 0; j < p; ++j) {
            double s = 0;
            for (size_t k = std::max(i, j); k < p; ++k)
                s += rInverse[i * p + k] * rInverse[j * p + k];
            fit.inverseGram[i * p + j] = s / (scale[i] * scale[j]);
        }
    }
    fit.solution.resize(p);
    for (size_t k = 0; k < p; ++k)
        fit.solution[k] = z[k] / scale[k];
    // The residuals from the original columns, not from the rotated right-hand side: the same in
    // exact arithmetic, and without the rotations' rounding.
    double rss = 0;
    for (size_t i = 0; i < n; ++i) {
        double r = y[i];
        for (size_t k = 0; k < p; ++k)
            r -= columns[k][i] * fit.solution[k];
        rss += r * r;
    }
    fit.residualSumOfSquares = rss;
    fit.ok = std::isfinite(rss);
    return fit;
}

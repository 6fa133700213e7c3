// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

// Linear least squares, min |X b - y|, by Householder QR on columns scaled to unit length: stable
// where the normal equations square the condition number, and cheap for the few columns the
// dynamic method fits (at most nine) over a few hundred rows.
struct LeastSquaresFit
{
    bool ok = false;              // false: fewer rows than columns, or the columns are dependent
    std::vector<double> solution; // b
    double residualSumOfSquares = 0;
    // (X^T X)^-1, row-major, columns x columns: the coefficients' covariance up to the residual
    // variance.
    std::vector<double> inverseGram;
};

// columns: X by columns, each of rows values; y: rows values. A column whose part independent of
// the columns before it is below relativeRank of its length makes the fit singular (ok false).
LeastSquaresFit solveLeastSquares(const std::vector<std::vector<double>> &columns,
                                  const std::vector<double> &y, double relativeRank = 1e-9);

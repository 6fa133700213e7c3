// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/studentt.h"

#include <cmath>
#include <limits>

namespace {

// The regularised incomplete beta function's continued fraction (modified Lentz), good where
// x < (a + 1) / (a + b + 2).
double betaFraction(double a, double b, double x)
{
    constexpr double Tiny = 1e-300;
    double c = 1;
    double d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::fabs(d) < Tiny ? Tiny : d);
    double f = d;
    for (int m = 1; m <= 500; ++m) {
        for (int half = 0; half < 2; ++half) {
            const double numerator = half == 0 ? m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
                                               : -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
            d = 1 + numerator * d;
            d = 1 / (std::fabs(d) < Tiny ? Tiny : d);
            c = 1 + numerator / c;
            if (std::fabs(c) < Tiny)
                c = Tiny;
            const double step = c * d;
            f *= step;
            if (half == 1 && std::fabs(step - 1) < 1e-16)
                return f;
        }
    }
    return f;
}

// ln Gamma(x) for x > 0 by Lanczos' series (g = 7, 9 terms: about 15 digits). std::lgamma would
// do, but it sets the global signgam, and the dynamic method runs on a worker thread.
double logGamma(double x)
{
    static const double c[] = {0.99999999999980993,  676.5203681218851,     -1259.1392167224028,
                               771.32342877765313,   -176.61502916214059,   12.507343278686905,
                               -0.13857109526572012, 9.9843695780195716e-6, 1.5056327351493116e-7};
    if (x < 0.5) // reflection: Gamma(x) Gamma(1 - x) = pi / sin(pi x)
        return std::log(M_PI / std::sin(M_PI * x)) - logGamma(1 - x);
    x -= 1;
    double sum = c[0];
    for (int i = 1; i < 9; ++i)
        sum += c[i] / (x + i);
    const double t = x + 7.5;
    return 0.5 * std::log(2 * M_PI) + (x + 0.5) * std::log(t) - t + std::log(sum);
}

// I_x(a, b).
double incompleteBeta(double a, double b, double x)
{
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    const double logFront =
        logGamma(a + b) - logGamma(a) - logGamma(b) + a * std::log(x) + b * std::log1p(-x);
    const double front = std::exp(logFront);
    if (x < (a + 1) / (a + b + 2))
        return front * betaFraction(a, b, x) / a;
    return 1 - front * betaFraction(b, a, 1 - x) / b;
}

} // namespace

double studentTDistribution(double t, int dof)
{
    if (dof < 1 || std::isnan(t))
        return std::numeric_limits<double>::quiet_NaN();
    if (std::isinf(t))
        return t > 0 ? 1 : 0;
    const double v = dof;
    // P(|T| > |t|) = I_{v / (v + t^2)}(v / 2, 1 / 2).
    const double tail = incompleteBeta(v / 2, 0.5, v / (v + t * t)) / 2;
    return t > 0 ? 1 - tail : tail;
}

double studentTQuantile(double p, int dof)
{
    if (dof < 1 || !(p > 0 && p < 1))
        return std::numeric_limits<double>::quiet_NaN();
    if (p == 0.5)
        return 0;
    if (p < 0.5)
        return -studentTQuantile(1 - p, dof);
    // Bracket, then bisect on the distribution: slow beside Newton's steps, but sure, and a
    // hundred evaluations are nothing beside the fit it serves.
    double low = 0, high = 1;
    while (studentTDistribution(high, dof) < p && high < 1e300)
        high *= 2;
    for (int i = 0; i < 200 && high - low > 1e-15 * high; ++i) {
        const double mid = (low + high) / 2;
        (studentTDistribution(mid, dof) < p ? low : high) = mid;
    }
    return (low + high) / 2;
}

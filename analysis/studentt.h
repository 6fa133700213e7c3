// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Student's t distribution with dof degrees of freedom (dof >= 1): the probability of a value
// at most t, and the value below which a share p (0 < p < 1) of it lies. NaN outside that.
double studentTDistribution(double t, int dof);
double studentTQuantile(double p, int dof);

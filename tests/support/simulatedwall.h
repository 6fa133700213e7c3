// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A wall of layers with heat conduction in one dimension, by finite differences: its surface
// temperatures are given step by step and it answers the heat flux entering it at the warm
// surface, as a heat-flux plate there would read it. Its thermal resistance surface to surface is
// known from its layers, sum(d / k), which is what a wall test should find.

#include <cmath>
#include <vector>

struct WallLayer
{
    double thickness;    // m
    double conductivity; // W/(m K)
    double capacity;     // volumetric heat capacity, J/(m^3 K)
    int cells;
};

class SimulatedWall
{
public:
    explicit SimulatedWall(const std::vector<WallLayer> &layers)
    {
        // Nodes on every cell boundary, the layers' boundaries among them: node i holds half of
        // each cell beside it, and cell i joins nodes i and i + 1.
        for (const WallLayer &layer : layers) {
            const double h = layer.thickness / layer.cells;
            for (int c = 0; c < layer.cells; ++c) {
                conductance.push_back(layer.conductivity / h);
                cellCapacity.push_back(layer.capacity * h);
            }
            resistanceValue += layer.thickness / layer.conductivity;
        }
        const size_t nodes = conductance.size() + 1;
        nodeCapacity.assign(nodes, 0);
        for (size_t c = 0; c < cellCapacity.size(); ++c) {
            nodeCapacity[c] += cellCapacity[c] / 2;
            nodeCapacity[c + 1] += cellCapacity[c] / 2;
        }
        temperature.assign(nodes, 0);
    }

    double resistance() const { return resistanceValue; }
    // The steady state between two surface temperatures: a straight line in each layer.
    void settle(double warm, double cold)
    {
        double r = 0;
        temperature[0] = warm;
        for (size_t c = 0; c < conductance.size(); ++c) {
            r += 1 / conductance[c];
            temperature[c + 1] = warm - (warm - cold) * r / resistanceValue;
        }
    }
    // One step of dt seconds (backward Euler) to the surface temperatures given for its end;
    // returns the heat that entered at the warm surface over it, per second (W/m^2).
    double step(double dt, double warm, double cold)
    {
        const size_t n = temperature.size();
        const double warmBefore = temperature[0];
        // The inner nodes: C_i/dt (T_i' - T_i) = G_(i-1) (T_(i-1)' - T_i') + G_i (T_(i+1)' - T_i').
        std::vector<double> lower(n), diagonal(n), upper(n), right(n);
        for (size_t i = 1; i + 1 < n; ++i) {
            lower[i] = -conductance[i - 1];
            upper[i] = -conductance[i];
            diagonal[i] = nodeCapacity[i] / dt + conductance[i - 1] + conductance[i];
            right[i] = nodeCapacity[i] / dt * temperature[i];
        }
        right[1] += conductance[0] * warm;
        right[n - 2] += conductance[n - 2] * cold;
        // Thomas' algorithm over nodes 1 .. n-2.
        for (size_t i = 2; i + 1 < n; ++i) {
            const double f = lower[i] / diagonal[i - 1];
            diagonal[i] -= f * upper[i - 1];
            right[i] -= f * right[i - 1];
        }
        temperature[n - 2] = right[n - 2] / diagonal[n - 2];
        for (size_t i = n - 2; i-- > 1;)
            temperature[i] = (right[i] - upper[i] * temperature[i + 1]) / diagonal[i];
        temperature[0] = warm;
        temperature[n - 1] = cold;
        // What flows on into the wall plus what the surface node took up.
        return conductance[0] * (temperature[0] - temperature[1]) +
               nodeCapacity[0] * (warm - warmBefore) / dt;
    }
    // The heat stored per m^2 relative to 0 degC, J/m^2.
    double stored() const
    {
        double e = 0;
        for (size_t i = 0; i < temperature.size(); ++i)
            e += nodeCapacity[i] * temperature[i];
        return e;
    }

private:
    std::vector<double> conductance, cellCapacity, nodeCapacity, temperature;
    double resistanceValue = 0;
};

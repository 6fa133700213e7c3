// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the benchmarks of reading a recording back share: a run written as the program writes it,
// and the time `cat FILE > /dev/null` takes for the same file.

// Sensors of the run written.
constexpr int RunFileSensors = 4;

// A run at 100 samples/s: heat flux around a drifting level with noise, temperatures near 23 C,
// written as the program writes them, a block of rows at a time.
bool writeRunFile(const QString &path, int rows);
double catSeconds(const QString &path);
// A run of `rows` rows written as folder/run-<rows>.csv, its size and how long cat takes to read
// it; an empty path when it could not be written (said on the error output).
struct RunFile
{
    QString path;
    double bytes = 0;
    double catSeconds = 0;
};
RunFile prepareRunFile(const QString &folder, int rows);

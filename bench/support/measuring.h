// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmarks measure with: CPU time, memory, the middle of many figures, the load.

#include <QString>

#include <sys/types.h>
#include <vector>

namespace bench {

// CPU time in seconds: of the whole process (all its threads), and of the calling thread.
double processCpuSeconds();
double threadCpuSeconds();
// CPU time of another process, all its threads (/proc/PID/stat); 0 if it can't be read.
double processCpuSeconds(pid_t pid);
// Bytes resident now (/proc/self/statm).
double residentBytes();
// A size from /proc/self/status in bytes: "VmRSS:" now resident, "VmHWM:" the peak since
// resetPeak().
double statusBytes(const char *key);
void resetPeak();
// The median of values (0 for none), and the p-th quantile (0..1) of sorted values.
double median(std::vector<double> v);
double quantile(const std::vector<double> &sorted, double p);
// The machine's load averages (1, 5, 15 minutes), as /proc/loadavg says.
QString loadAverage();

} // namespace bench

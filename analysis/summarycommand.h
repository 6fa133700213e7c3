// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QTextStream;

// The exit status for bad input.
constexpr int SummaryBadInput = 2;

// Statistics of a recording for scripts:
//   --summary FILE.csv [--from S] [--to S]
// reads FILE.csv (as "Save as..." and the live recording write it) and prints to out the table of
// statisticsText() over the samples whose time lies in [S_from, S_to] (both included; the whole
// run without them): "channel<TAB>samples<TAB>mean<TAB>min<TAB>max<TAB>sd", then a line per column
// of the file (CH1 ...). Returns the exit status: 0, or 2 with a message on err for a bad option,
// a missing or unreadable file, or a file that is not a recording. What the file held that was
// left out (a torn last line, bad lines) is said on err too, with status 0.
int runSummaryCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordedseries.h"

#include <QtGlobal>

#include <array>
#include <vector>

// Where the curves are broken: no line joins two records that have a gap between them. A gap is
// either marked (the record after a pause, or after the unit was away, starts a new line on every
// channel) or a non-finite value of one channel (nothing to draw: as with a plain QCPGraph, the
// lines to it and from it are left out). Both are kept as short sorted lists, keyed by record
// index, so a run without gaps costs nothing and every question is a binary search.
class CurveBreaks
{
public:
    void clear();
    // The record with this index starts a new line on every channel (marks come in any order).
    void breakBefore(qint64 record);
    // Notes the values of channels 0..count-1 of the record with this index; records come in order.
    void append(qint64 record, const double *values, int count);

    const std::vector<qint64> &marks() const { return marked; }
    // Whether this record starts a new line because of a mark.
    bool startsLine(qint64 record) const;
    // Whether a mark lies on a record from `from` to `to` (both included).
    bool anyMark(qint64 from, qint64 to) const;
    // The first and the last record of records [begin, end) with a finite value of the channel,
    // or -1 if there is none.
    qint64 firstFinite(int channel, qint64 begin, qint64 end) const;
    qint64 lastFinite(int channel, qint64 begin, qint64 end) const;

private:
    struct Run
    {
        qint64 begin, end; // records [begin, end) are not finite
    };
    // The run of non-finite values holding record, or null.
    const Run *runAt(int channel, qint64 record) const;

    std::vector<qint64> marked;
    std::array<std::vector<Run>, MaxChannels> nonFinite;
};

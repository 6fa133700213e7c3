// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/curvebreaks.h"

#include <algorithm>
#include <cmath>

void CurveBreaks::clear()
{
    marked.clear();
    for (auto &runs : nonFinite)
        runs.clear();
}

void CurveBreaks::breakBefore(qint64 record)
{
    const auto at = std::lower_bound(marked.begin(), marked.end(), record);
    if (at == marked.end() || *at != record)
        marked.insert(at, record);
}

void CurveBreaks::append(qint64 record, const double *values, int count)
{
    const int n = std::clamp(count, 0, MaxChannels);
    for (int c = 0; c < n; ++c) {
        if (std::isfinite(values[c]))
            continue;
        std::vector<Run> &runs = nonFinite[size_t(c)];
        if (!runs.empty() && runs.back().end == record)
            ++runs.back().end;
        else if (runs.empty() || runs.back().end < record)
            runs.push_back(Run{record, record + 1});
    }
}

bool CurveBreaks::startsLine(qint64 record) const
{
    return std::binary_search(marked.begin(), marked.end(), record);
}

bool CurveBreaks::anyMark(qint64 from, qint64 to) const
{
    if (from > to)
        return false;
    const auto at = std::lower_bound(marked.begin(), marked.end(), from);
    return at != marked.end() && *at <= to;
}

const CurveBreaks::Run *CurveBreaks::runAt(int channel, qint64 record) const
{
    if (channel < 0 || channel >= MaxChannels)
        return nullptr;
    const std::vector<Run> &runs = nonFinite[size_t(channel)];
    // The last run starting at or before record.
    const auto after = std::upper_bound(runs.begin(), runs.end(), record,
                                        [](qint64 r, const Run &run) { return r < run.begin; });
    if (after == runs.begin())
        return nullptr;
    const Run &run = *(after - 1);
    return record < run.end ? &run : nullptr;
}

qint64 CurveBreaks::firstFinite(int channel, qint64 begin, qint64 end) const
{
    // Runs are as long as they go, so the record after one is finite.
    const Run *run = runAt(channel, begin);
    const qint64 first = run ? run->end : begin;
    return first < end ? first : -1;
}

qint64 CurveBreaks::lastFinite(int channel, qint64 begin, qint64 end) const
{
    const Run *run = runAt(channel, end - 1);
    const qint64 last = run ? run->begin - 1 : end - 1;
    return last >= begin ? last : -1;
}

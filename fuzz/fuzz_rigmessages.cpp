// SPDX-License-Identifier: GPL-3.0-or-later
// What comes off the broker from a watched rig, read from any bytes by every reader of the rig's
// messages (run, record, event, history answer, status). Checks, besides never crashing or
// reading out of bounds:
// - a message is taken whole or not at all: records hold rows x fields values, 3, 5, 7 or 9
//   fields a row, and exactly one CSV line a row;
// - each row's line is the very line the program's CSV writer makes of the row's values, so that
//   a mirror's copy and a viewer's curves hold the same numbers;
// - a run has 1 to 4 sensors and a valid start; events have finite times;
// - a number text is taken only when the writer writes its value as exactly that text.

#include "data/csvnumber.h"
#include "remote/rigmessages.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &input)
{
    std::fprintf(stderr, "fuzz_rigmessages: %s: input \"%s\"\n", what,
                 input.left(400).toPercentEncoding(" {}[]\":,").constData());
    std::abort();
}

void checkRecords(const RigRecords &r, const QByteArray &input)
{
    if (r.fieldCount != 3 && r.fieldCount != 5 && r.fieldCount != 7 && r.fieldCount != 9)
        fail("a field count a rig does not send", input);
    if (r.rows < 1 || r.values.size() != r.rows * r.fieldCount)
        fail("values that are not rows x fields", input);
    if (r.lines.count('\n') != r.rows)
        fail("not one CSV line a row", input);
    if (r.first > (quint64(1) << 53))
        fail("a seq beyond what a recording holds", input);
    QByteArray expected;
    for (int row = 0; row < r.rows; ++row)
        appendCsvLine(&expected, r.row(row)[0], r.row(row) + 1, r.fieldCount - 1);
    if (expected != r.lines)
        fail("the lines are not what the CSV writer makes of the values", input);
}

void checkEvent(const RigEvent &e, const QByteArray &input)
{
    if (!std::isfinite(e.event.time))
        fail("an event time that is not finite", input);
    if (e.run.isEmpty())
        fail("an event of no run", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    QString why;

    RigRun run;
    if (readRigRun(input, &run, &why)) {
        if (run.sensorCount < 1 || run.sensorCount > 4 || !run.start.isValid() || run.id.isEmpty())
            fail("a run a rig does not start", input);
        if (run.sensitivities.size() > 4)
            fail("more sensitivities than sensors", input);
    }

    RigRecords record;
    if (readRigRecord(input, &record, &why)) {
        checkRecords(record, input);
        if (record.rows != 1)
            fail("a data message of more than one record", input);
    }

    RigEvent event;
    if (readRigEvent(input, &event, &why))
        checkEvent(event, input);

    HistoryAnswer answer;
    if (readHistoryAnswer(input, &answer, &why)) {
        switch (answer.kind) {
        case HistoryAnswer::Records:
            checkRecords(answer.records, input);
            break;
        case HistoryAnswer::Events:
            for (const RigEvent &e : answer.events)
                checkEvent(e, input);
            break;
        case HistoryAnswer::Missing:
            if (answer.missing == 0)
                fail("a stretch of no missing records", input);
            break;
        default:
            break;
        }
    }

    bool online = false;
    readRigStatus(input, &online, &why);

    // A number text alone: taken only when it is the writer's own text of its value.
    if (size <= 64) {
        double value = 0;
        if (readCsvNumberText(input.constData(), input.constData() + input.size(), &value) &&
            formatCsvNumber(value) != input)
            fail("a number text taken that the writer does not write", input);
    }
    return 0;
}

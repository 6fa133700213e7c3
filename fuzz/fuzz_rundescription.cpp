// SPDX-License-Identifier: GPL-3.0-or-later
// A recording's description read back from any bytes (the review window reads the one beside any
// file it opens). Checks, besides never crashing or reading out of bounds:
// - the events hold no edit or deletion entries, only finite times, and operator marks numbered
//   1, 2, 3 ... in file order with gaps only where marks were deleted;
// - every event, written again as an event line, reads back as the same event: the same time bit
//   for bit, kind and mark note (with the control characters the writer makes spaces).

#include "data/rundescription.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char *what, const RunEvent &e)
{
    std::fprintf(stderr, "fuzz_rundescription: %s: event at %.17g, kind %d, mark %d, note \"%s\"\n", what,
                 e.time, int(e.kind), e.markNumber, e.note.toUtf8().toPercentEncoding(" ").constData());
    std::abort();
}

// The note as the writer puts it in a line.
QString written(const QString &note)
{
    QString plain = note;
    for (QChar &c : plain) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0x85 || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return plain;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    const RunDescription d = parseRunDescription(text);
    int lastMark = 0;
    for (const RunEvent &e : d.events) {
        if (e.kind == RunEventKind::MarkEdit || e.kind == RunEventKind::MarkDelete)
            fail("an edit or deletion is left among the events", e);
        if (!std::isfinite(e.time))
            fail("a time that is not finite", e);
        if (e.kind == RunEventKind::Mark) {
            if (e.markNumber <= lastMark)
                fail("marks are not numbered in file order", e);
            lastMark = e.markNumber;
        }
        const RunDescription again = parseRunDescription(formatEventLine(e.time, e.kind, e.note));
        if (again.events.size() != 1)
            fail("written again, the event does not read back", e);
        const RunEvent &r = again.events.first();
        if (std::memcmp(&r.time, &e.time, sizeof(double)) != 0 || r.kind != e.kind)
            fail("written again, the time or the kind differs", e);
        if (r.note != written(e.note))
            fail("written again, the note differs", e);
    }
    return 0;
}

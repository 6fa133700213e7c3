// SPDX-License-Identifier: GPL-3.0-or-later
// Line splitting and record parsing against plain reference models.
//
// Input: byte 0 picks the line bound, byte 1 seeds how the rest is cut into appends and when
// lines are taken; the rest is the byte stream. Checks:
// - the splitter gives exactly the lines of a whole-stream model (lines longer than the bound
//   dropped whole and counted, the same however the stream is cut), and its pending bytes
//   never exceed the bound;
// - parseRecord agrees with "decode as UTF-8, split at ',', QString::toDouble each field; a blank
//   field is 0, any other field toDouble rejects makes no record" on every line taken and on the
//   raw input, bit for bit, for sensor counts 0 to 5.

#include "data/recordparser.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &line)
{
    std::fprintf(stderr, "fuzz_record: %s for line \"%s\"\n", what,
                 line.toPercentEncoding(" ,.+-").constData());
    std::abort();
}

bool referenceRecord(const QByteArray &line, int sensorCount, RecordValues *values)
{
    if (sensorCount < 1 || sensorCount > MaxSensors)
        return false;
    const QStringList fields = QString::fromUtf8(line.constData(), line.size()).split(QLatin1Char(','));
    if (fields.size() != 2 * sensorCount)
        return false;
    for (int k = 0; k < fields.size(); ++k) {
        bool ok = false;
        (*values)[size_t(k)] = fields[k].toDouble(&ok);
        if (!ok && !fields[k].trimmed().isEmpty())
            return false;
    }
    return true;
}

void checkRecord(const QByteArray &line)
{
    for (int n = 0; n <= MaxSensors + 1; ++n) {
        RecordValues got{};
        RecordValues expected{};
        const bool ok = parseRecord(line, n, &got);
        if (ok != referenceRecord(line, n, &expected))
            fail("acceptance differs from the reference", line);
        if (!ok)
            continue;
        for (int k = 0; k < 2 * n; ++k) {
            if (std::memcmp(&got[size_t(k)], &expected[size_t(k)], sizeof(double)) != 0) {
                std::fprintf(stderr, "field %d: got %.17g, reference %.17g\n", k + 1, got[size_t(k)],
                             expected[size_t(k)]);
                fail("value differs from the reference", line);
            }
        }
    }
}

struct Model
{
    std::vector<QByteArray> lines;
    quint64 overlong = 0;
    quint64 dropped = 0;
    int pending = 0;
};

Model splitWhole(const QByteArray &stream, int maxLength)
{
    Model model;
    int start = 0;
    for (;;) {
        const int lf = stream.indexOf('\n', start);
        const int length = (lf < 0 ? stream.size() : lf) - start;
        if (length > maxLength) {
            ++model.overlong;
            model.dropped += quint64(length + (lf < 0 ? 0 : 1));
        } else if (lf >= 0) {
            model.lines.push_back(stream.mid(start, length));
        } else {
            model.pending = length;
        }
        if (lf < 0)
            return model;
        start = lf + 1;
    }
}

std::uint32_t nextRandom(std::uint32_t *state)
{
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int maxLength = 1 + data[0] % 80;
    std::uint32_t random = 0x9e3779b9u ^ data[1];
    const QByteArray stream(reinterpret_cast<const char *>(data) + 2, int(size - 2));

    checkRecord(stream);

    LineSplitter splitter(maxLength);
    std::vector<QByteArray> taken;
    QByteArray line;
    int position = 0;
    while (position < stream.size()) {
        const int piece = std::min(int(nextRandom(&random) % 24), stream.size() - position);
        splitter.append(stream.mid(position, piece));
        position += piece;
        if (splitter.pendingSize() > maxLength)
            fail("pending bytes above the bound", stream);
        // Sometimes leave lines waiting, to cover a backlog of complete lines.
        if (nextRandom(&random) % 4 != 0) {
            while (splitter.takeLine(&line))
                taken.push_back(line);
        }
    }
    while (splitter.takeLine(&line))
        taken.push_back(line);

    const Model model = splitWhole(stream, maxLength);
    if (taken != model.lines)
        fail("lines differ from the whole-stream split", stream);
    if (splitter.overlongLines() != model.overlong || splitter.droppedBytes() != model.dropped)
        fail("dropped counts differ from the whole-stream split", stream);
    if (splitter.pendingSize() != model.pending)
        fail("pending size differs from the whole-stream split", stream);
    for (const QByteArray &l : taken)
        checkRecord(l);

    splitter.clear();
    if (splitter.pendingSize() != 0 || splitter.takeLine(&line))
        fail("clear left something pending", stream);
    return 0;
}

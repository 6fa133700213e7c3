// SPDX-License-Identifier: GPL-3.0-or-later
#include "simunit/unitstream.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>

namespace {

// Per sensor: a slowly swinging heat flux and a slower drifting temperature.
struct SensorModel
{
    double fluxBase, fluxSwing, fluxPeriod; // W/m^2, W/m^2, s
    double tempBase, tempSwing, tempPeriod; // degC, degC, s
    double phase;
};

constexpr SensorModel sensorModels[4] = {
    {120.0, 40.0, 45.0, 24.0, 2.0, 300.0, 0.0},
    {80.0, 25.0, 70.0, 27.0, 3.0, 420.0, 1.3},
    {150.0, 50.0, 95.0, 22.0, 1.5, 360.0, 2.6},
    {60.0, 20.0, 120.0, 30.0, 4.0, 600.0, 4.1},
};
constexpr double fluxNoise = 2.0;
constexpr double tempNoise = 0.05;
constexpr double twoPi = 6.283185307179586;

// A well-mixed 64-bit hash, so a sample's noise depends only on the seed and its index.
quint64 splitMix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Roughly normal noise in [-1, 1] (the mean of three uniform values).
double noise(quint64 seed, quint64 index, int channel)
{
    quint64 h = splitMix(seed ^ splitMix(index * 16 + quint64(channel)));
    double sum = 0;
    for (int i = 0; i < 3; ++i) {
        h = splitMix(h);
        sum += double(h >> 11) / double(1ULL << 53);
    }
    return sum / 1.5 - 1.0;
}

QByteArray formatValue(double v)
{
    return QByteArray::number(v, 'f', 2);
}

} // namespace

bool FaultMix::any() const
{
    return splitLine > 0 || burst > 0 || garbageLine > 0 || wrongFieldCount > 0 || binaryLine > 0 ||
           nonNumericLine > 0 || longRun > 0 || emptyField > 0 || paddedFields > 0 || mixedLineEnds;
}

FaultMix FaultMix::soak()
{
    FaultMix mix;
    mix.splitLine = 0.10;
    mix.burst = 0.03;
    mix.garbageLine = 0.03;
    mix.wrongFieldCount = 0.03;
    mix.binaryLine = 0.02;
    mix.nonNumericLine = 0.03;
    mix.longRun = 0.002;
    mix.emptyField = 0.02;
    mix.paddedFields = 0.05;
    mix.mixedLineEnds = true;
    return mix;
}

StreamCounters &StreamCounters::operator+=(const StreamCounters &o)
{
    goodRecords += o.goodRecords;
    emptyFieldRecords += o.emptyFieldRecords;
    badLines += o.badLines;
    longRuns += o.longRuns;
    bytes += o.bytes;
    writes += o.writes;
    return *this;
}

bool StreamCounters::operator==(const StreamCounters &o) const
{
    return goodRecords == o.goodRecords && emptyFieldRecords == o.emptyFieldRecords &&
           badLines == o.badLines && longRuns == o.longRuns && bytes == o.bytes && writes == o.writes;
}

UnitStream::UnitStream(quint32 seed)
{
    reseed(seed);
}

void UnitStream::setSensorCount(int count)
{
    sensors = std::clamp(count, 1, 4);
}

void UnitStream::setSampleRate(double samplesPerSecond)
{
    if (samplesPerSecond > 0)
        rate = samplesPerSecond;
}

void UnitStream::reseed(quint32 seed)
{
    faultRng.seed(seed);
    valueSeed = splitMix(seed);
}

QList<double> UnitStream::sampleValues(quint64 index) const
{
    const double t = double(index) / rate;
    QList<double> values;
    for (int s = 0; s < sensors; ++s) {
        const SensorModel &m = sensorModels[s];
        const double flux = m.fluxBase + m.fluxSwing * std::sin(twoPi * t / m.fluxPeriod + m.phase) +
                            fluxNoise * noise(valueSeed, index, 2 * s);
        const double temp = m.tempBase + m.tempSwing * std::sin(twoPi * t / m.tempPeriod + m.phase) +
                            tempNoise * noise(valueSeed, index, 2 * s + 1);
        values << std::clamp(flux, MinHeatFlux, MaxHeatFlux)
               << std::clamp(temp, MinTemperature, MaxTemperature);
    }
    return values;
}

double UnitStream::uniform()
{
    return double(faultRng()) / 4294967296.0;
}

bool UnitStream::chance(double probability)
{
    return probability > 0 && uniform() < probability;
}

int UnitStream::randomInt(int low, int high)
{
    return std::min(high, low + int(uniform() * double(high - low + 1)));
}

QByteArray UnitStream::endOfLine()
{
    const bool crlf = faultMix.mixedLineEnds ? chance(0.5) : lineEnd == LineEnd::CrLf;
    return crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

QByteArray UnitStream::goodLine(StreamCounters *counts)
{
    const QList<double> values = sampleValues(sampleIndex++);
    QList<QByteArray> fields;
    for (double v : values)
        fields << formatValue(v);
    if (numberedRecords)
        fields[0] = QByteArray::number(nextSequence);
    ++nextSequence;
    counts->goodRecords = 1;

    if (chance(faultMix.emptyField)) {
        // The sequence number stays readable.
        fields[randomInt(numberedRecords ? 1 : 0, fields.size() - 1)].clear();
        counts->emptyFieldRecords = 1;
    }
    if (chance(faultMix.paddedFields)) {
        static const char blanks[] = {' ', ' ', ' ', '\t'};
        for (QByteArray &f : fields) {
            f.prepend(QByteArray(randomInt(0, 2), blanks[randomInt(0, 3)]));
            f.append(QByteArray(randomInt(0, 2), blanks[randomInt(0, 3)]));
        }
    }
    return fields.join(',') + endOfLine();
}

QList<UnitStream::Line> UnitStream::badLines()
{
    QList<Line> lines;
    auto add = [&](QByteArray bytes, bool longRun) {
        Line line{bytes + endOfLine(), {}};
        line.counts.badLines = 1;
        line.counts.longRuns = longRun ? 1 : 0;
        lines << line;
    };
    // Text without commas or line ends.
    auto text = [&](int length) {
        static const char chars[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .-+;:!?#=/()";
        QByteArray out(length, ' ');
        for (char &c : out)
            c = chars[randomInt(0, int(sizeof chars) - 2)];
        return out;
    };

    if (chance(faultMix.garbageLine))
        add(text(randomInt(0, 60)), false);
    if (chance(faultMix.wrongFieldCount)) {
        // Any count but 2N: 1 to 2N - 1 or 2N + 1 to 2N + 4.
        const int good = 2 * sensors;
        int count = randomInt(1, good + 2);
        if (count >= good)
            count += 1 + randomInt(0, 1);
        QList<QByteArray> fields;
        const QList<double> values = sampleValues(sampleIndex);
        for (int i = 0; i < count; ++i)
            fields << formatValue(values[i % values.size()]);
        add(fields.join(','), false);
    }
    if (chance(faultMix.binaryLine)) {
        QByteArray bytes(randomInt(2, 40), '\0');
        for (char &c : bytes) {
            do
                c = char(randomInt(0, 255));
            while (c == ',' || c == '\n');
        }
        // Always at least one NUL and one byte that can never start valid UTF-8.
        static const char invalid[] = {char(0x80), char(0xC0), char(0xFE), char(0xFF)};
        const int nul = randomInt(0, bytes.size() - 1);
        bytes[nul] = '\0';
        bytes[(nul + 1) % bytes.size()] = invalid[randomInt(0, 3)];
        add(bytes, false);
    }
    if (chance(faultMix.nonNumericLine)) {
        // The right field count, with 1 to 2N of the fields words or broken numbers, such as line
        // noise or a unit's error text makes: none of them may be taken for a reading.
        static const char *const notNumbers[] = {"ERR", "abc", "1.2.3", "12.5x", "x12",  "--5", "0x1F",
                                                 "#",   "1e",  "?",     "n/a",   "12 5", "+-1", "."};
        const QList<double> values = sampleValues(sampleIndex);
        QList<QByteArray> fields;
        for (double v : values)
            fields << formatValue(v);
        const int spoiled = randomInt(1, fields.size());
        for (int i = 0; i < spoiled; ++i)
            fields[randomInt(0, fields.size() - 1)] =
                notNumbers[randomInt(0, int(std::size(notNumbers)) - 1)];
        add(fields.join(','), false);
    }
    if (chance(faultMix.longRun))
        add(text(randomInt(LongRunMin, LongRunMax)), true);
    return lines;
}

void UnitStream::appendSample(QList<Line> *lines)
{
    *lines += badLines();
    Line good;
    good.bytes = goodLine(&good.counts);
    *lines << good;
}

QList<StreamWrite> UnitStream::cut(const QList<Line> &lines)
{
    QByteArray all;
    for (const Line &l : lines)
        all += l.bytes;

    // Cut points: none, or 1 to 7 distinct places strictly inside the bytes.
    std::set<int> cuts;
    if (all.size() >= 2 && chance(faultMix.splitLine)) {
        const int wanted = std::min(randomInt(1, 7), all.size() - 1);
        while (int(cuts.size()) < wanted)
            cuts.insert(randomInt(1, all.size() - 1));
    }
    cuts.insert(all.size());

    QList<StreamWrite> out;
    int from = 0;
    int lineIndex = 0;
    int lineEndAt = lines.isEmpty() ? 0 : lines[0].bytes.size();
    for (int to : cuts) {
        StreamWrite w;
        w.bytes = all.mid(from, to - from);
        w.counts.bytes = quint64(w.bytes.size());
        w.counts.writes = 1;
        w.pauseAfter = to < all.size();
        // Each line counts in the write that holds its last byte.
        while (lineIndex < lines.size() && lineEndAt <= to) {
            w.counts += lines[lineIndex].counts;
            if (++lineIndex < lines.size())
                lineEndAt += lines[lineIndex].bytes.size();
        }
        out << w;
        from = to;
    }
    return out;
}

int UnitStream::nextWrites(QList<StreamWrite> *out)
{
    QList<Line> lines;
    int samples = 1;
    if (chance(faultMix.burst))
        samples = randomInt(2, 20);
    for (int i = 0; i < samples; ++i)
        appendSample(&lines);

    // A burst goes out in one write; a single sample may be split.
    QList<StreamWrite> ws;
    if (samples > 1) {
        StreamWrite w;
        for (const Line &l : lines) {
            w.bytes += l.bytes;
            w.counts += l.counts;
        }
        w.counts.bytes = quint64(w.bytes.size());
        w.counts.writes = 1;
        ws << w;
    } else {
        ws = cut(lines);
    }
    for (const StreamWrite &w : ws)
        produced += w.counts;
    *out += ws;
    return samples;
}

QList<StreamWrite> UnitStream::writes(int samples)
{
    QList<StreamWrite> out;
    for (int carried = 0; carried < samples;)
        carried += nextWrites(&out);
    return out;
}

QByteArray UnitStream::generate(int samples)
{
    QByteArray out;
    for (const StreamWrite &w : writes(samples))
        out += w.bytes;
    return out;
}

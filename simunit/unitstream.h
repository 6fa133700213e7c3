// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

#include <random>

// What the simulated measuring unit sends, as bytes: one text line per sample with 2N
// comma-separated numbers (heat flux in W/m^2 and temperature in degC of each of its N sensors),
// optionally disturbed by a seeded mix of faults for tests. Pure byte generation, no I/O.

enum class LineEnd
{
    Lf,
    CrLf,
};

// How often each disturbance happens: probabilities per sample, 0 (never) to 1 (every sample).
// Bad lines go in before a sample's good line and never replace it, so every sample still
// yields exactly one record.
struct FaultMix
{
    double splitLine = 0;       // the sample's bytes go out in 2 to 8 writes, cut anywhere
    double burst = 0;           // this sample and the next 1 to 19 go out in one write
    double garbageLine = 0;     // a line of text without commas (possibly empty)
    double wrongFieldCount = 0; // a line of numbers with too few or too many fields
    double binaryLine = 0;      // a line holding NUL and bytes that are not UTF-8
    double nonNumericLine = 0;  // a line of 2N fields, one or more of them text that is no number
    double longRun = 0;         // LongRunMin to LongRunMax bytes without a line end, then a line end
    double emptyField = 0;      // one field of the good line left empty (it is still a record)
    double paddedFields = 0;    // blanks around the good line's numbers (still a record)
    bool mixedLineEnds = false; // each line ends in LF or CR LF at random, whatever the set line end

    bool any() const;
    // Every kind of fault, often enough that a few thousand samples meet each many times.
    static FaultMix soak();
};

// What a stretch of the stream carries. Lines are counted where their line end is.
struct StreamCounters
{
    quint64 goodRecords = 0;       // lines of exactly 2N fields: a reader takes each one
    quint64 emptyFieldRecords = 0; // ... of which with one empty field
    quint64 badLines = 0; // lines a reader must discard: garbage, binary, wrong field count, long runs,
                          // fields that are not numbers
    quint64 longRuns = 0; // ... of which long runs without a line end
    quint64 bytes = 0;
    quint64 writes = 0;

    StreamCounters &operator+=(const StreamCounters &other);
    bool operator==(const StreamCounters &other) const;
    bool operator!=(const StreamCounters &other) const { return !(*this == other); }
};

// One write on the line.
struct StreamWrite
{
    QByteArray bytes;
    // The next write is part of the same line: give the reader a moment to see this one alone.
    bool pauseAfter = false;
    StreamCounters counts; // the lines whose line end is in these bytes
};

class UnitStream
{
public:
    // The ranges every value of a good record lies in.
    static constexpr double MinHeatFlux = 0.0;
    static constexpr double MaxHeatFlux = 400.0;
    static constexpr double MinTemperature = 15.0;
    static constexpr double MaxTemperature = 40.0;
    static constexpr int LongRunMin = 5000;
    static constexpr int LongRunMax = 20000;

    explicit UnitStream(quint32 seed = 1);

    // 1 to 4 sensors; anything else is clamped.
    void setSensorCount(int count);
    int sensorCount() const { return sensors; }
    // The samples' time base (samples per second): how fast the values drift. Default 10.
    void setSampleRate(double samplesPerSecond);
    double sampleRate() const { return rate; }
    void setLineEnd(LineEnd end) { lineEnd = end; }
    LineEnd currentLineEnd() const { return lineEnd; }
    void setFaults(const FaultMix &mix) { faultMix = mix; }
    const FaultMix &faults() const { return faultMix; }
    // Numbered records: channel 1 of each good record carries its sequence number, 1, 2, 3, ...
    // (the count of good records so far), so a reader can be checked for loss and repetition.
    void setNumbered(bool numbered) { numberedRecords = numbered; }
    bool isNumbered() const { return numberedRecords; }
    // Starts both random sequences (values and faults) afresh from seed; the sample clock goes on.
    void reseed(quint32 seed);

    // The writes that carry the next samples: usually one sample; a burst carries several in one
    // write. Returns how many samples they carry (at least 1).
    int nextWrites(QList<StreamWrite> *out);
    // The writes of the next `samples` samples (a burst may carry a few more).
    QList<StreamWrite> writes(int samples);
    // The bytes of the next `samples` samples as one array (a burst may carry a few more).
    QByteArray generate(int samples);
    // Lets one sample's time pass without sending it (its sequence number is not used).
    void skipSample() { ++sampleIndex; }

    // The values of sample `index` (heat flux and temperature per sensor, 2N values).
    QList<double> sampleValues(quint64 index) const;
    // Everything produced so far.
    const StreamCounters &counters() const { return produced; }
    quint64 samplesProduced() const { return sampleIndex; }

private:
    struct Line
    {
        QByteArray bytes;
        StreamCounters counts;
    };

    QByteArray endOfLine();
    double uniform(); // [0, 1), from the fault sequence
    bool chance(double probability);
    int randomInt(int low, int high); // inclusive, from the fault sequence
    QByteArray goodLine(StreamCounters *counts);
    QList<Line> badLines();
    void appendSample(QList<Line> *lines);
    QList<StreamWrite> cut(const QList<Line> &lines);

    int sensors = 1;
    double rate = 10.0;
    LineEnd lineEnd = LineEnd::Lf;
    FaultMix faultMix;
    bool numberedRecords = false;
    std::mt19937 faultRng;
    quint64 valueSeed = 0; // the values' noise is a hash of this and the sample index
    quint64 sampleIndex = 0;
    quint64 nextSequence = 1;
    StreamCounters produced;
};

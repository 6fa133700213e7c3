// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/dynamicmethod.h"
#include "analysis/fluxcorrection.h"
#include "data/recordedseries.h"

#include <QString>
#include <QVector>

#include <array>
#include <memory>
#include <optional>
#include <vector>

// The thermal resistance of a wall or a sample measured in place, by the average method of
// ISO 9869-1: R = sum(T_si - T_se) / sum(q) over the records of the test, with its four criteria
// for ending the test. The heat flux q (W/m^2) is positive from the warm side to the cold side;
// T_si is the warm-side and T_se the cold-side surface temperature (degC).
//
// How the method is read here:
// - The test starts at the first record used (start); "elapsed" is a record's time minus start.
//   Every time window is closed: [a, b] holds the records with a <= elapsed <= b. Gaps (pauses,
//   an absent unit) simply contribute no records.
// - A record with a non-finite value (or a non-finite T_si - T_se or mean temperature), a time
//   before the previous record's, or a time more than MaxElapsedDays after start is skipped: it
//   contributes nothing and is only counted.
// - Each record used is a point of judgement: the state after it is judged from the records so
//   far, at the judged time J. J is the record's elapsed time; for a heavy element (areal heat
//   capacity above 20 kJ/(m^2 K)) it is the last whole multiple of 24 h at or before it, so R and
//   every criterion are those of a test ended there, from the records up to J (before the first
//   24 h there is no R, A to C fail and D is not assessed).
// - R over a set of records exists when sum(q) > 0 and sum(T_si - T_se) >= 0; otherwise heat
//   flows the other way (or not at all) and there is no R: every criterion that needs it fails.
//   Any finite values are used: an R beyond the largest double is +inf ("too large to
//   compute"), and no criterion passes on it.
// - A, duration: J >= 72 h.
// - B, stability: R(J) against R(J - 24 h), the R of the records with elapsed <= J - 24 h:
//   |R(J) - R(J - 24 h)| <= 0.05 |R(J - 24 h)|. Fails before 24 h.
// - C, first against last: D = floor(2 J / 3) in whole days; R over [0, D] against R over
//   [J - D, J]: |R_first - R_last| <= 0.05 |R_last|. Fails while D < 1 (before 36 h).
// - D, stored heat: assessed only with a capacity C (kJ/(m^2 K)) and J >= 48 h. m_first and
//   m_last are the means of (T_si + T_se) / 2 over the records of [0, 24 h] and [J - 24 h, J];
//   stored = C * 1000 * (m_last - m_first) J/m^2; passed = sum of q_k * (t_k - t_(k-1)) over the
//   records up to J whose previous record used is less than 10 s before them; D holds when
//   |stored| <= 0.05 |passed|.
// - "May stop since": the time of the first record of the unbroken stretch of records, up to the
//   last, at each of which A, B and C passed and D passed or was not assessed.
// Times reported (last record, first and last passes, may stop since) are the records' own times.
//
// The records are either handed over one by one (append(), kept here at BytesPerRecord each) or
// read where they lie in a run's recorded series (takeFromSeries(), nothing kept per record but
// the index of a skipped one): both judge the same values the same way.
//
// The records used are also summed into intervals for the dynamic method (intervalMeans()), so
// that both methods see the same records. A heat-flux correction for the sensor's temperature
// (fluxcorrection.h) applies to q before anything else: to both methods, never to the series.

enum class Verdict
{
    NotAssessed,
    Fail,
    Pass
};

struct WallTestSettings
{
    double rsi = 0.13; // inner surface resistance, m^2 K/W
    double rse = 0.04; // outer surface resistance, m^2 K/W
    bool heavy = false;
    std::optional<double> capacity;           // areal heat capacity, kJ/(m^2 K); criterion D only with it
    double step = DynamicMethod::DefaultStep; // the dynamic method's interval, s
    FluxCorrection correction;                // of the heat-flux sensor, with its own temperature

    // Why these settings can't be used (a negative or non-finite resistance or capacity, an
    // interval outside DynamicMethod::MinStep..MaxStep, a correction with a problem), or empty.
    QString problem() const;
};

// The channels of a RecordedSeries (1-based: channel k is channels[k - 1]) that hold the heat flux
// q, the warm-side T_si and the cold-side T_se. Sensor s has its heat flux in channel 2s - 1 and
// its temperature in channel 2s.
struct WallTestChannels
{
    int heatFlux = 1;
    int warm = 2;
    int cold = 4;
    int fluxTemperature = 0; // the heat-flux sensor's own temperature, for the correction; 0: none

    static int heatFluxOf(int sensor) { return 2 * sensor - 1; }
    static int temperatureOf(int sensor) { return 2 * sensor; }
};

struct CriterionState
{
    Verdict verdict = Verdict::Fail;
    std::optional<double> firstPassed; // record times, s
    std::optional<double> lastPassed;
};

struct WallTestState
{
    qint64 records = 0;              // records used
    qint64 skipped = 0;              // records skipped (non-finite, out of order, too late)
    std::optional<double> startTime; // first record used, s
    std::optional<double> lastTime;  // last record used, s
    std::optional<double> judgedAt;  // start + J, s (none for a heavy element before 24 h)

    qint64 judgedRecords = 0;            // records in [0, J]
    double heatFluxSum = 0;              // sum of q over them, W/m^2
    double temperatureDifferenceSum = 0; // sum of T_si - T_se over them, K
    std::optional<double> r;             // m^2 K/W
    std::optional<double> u;             // 1 / (R_si + R + R_se), W/(m^2 K)
    std::optional<double> runningR;      // R over all records so far (differs from r for heavy elements)

    std::array<CriterionState, 4> criteria; // A, B, C, D
    std::optional<double> rDayBefore;       // B: R(J - 24 h)
    int periodDays = 0;                     // C: D
    std::optional<double> rFirst;           // C: R over [0, D]
    std::optional<double> rLast;            // C: R over [J - D, J]
    std::optional<double> storedHeat;       // D: J/m^2
    std::optional<double> passedHeat;       // D: J/m^2
    std::optional<double> mayStopSince;     // s; none unless all assessed criteria hold now

    // Judged records whose sums give no R: heat flux summing to <= 0 or T_si - T_se to < 0.
    bool flowProblem() const
    {
        return judgedRecords > 0 && (heatFluxSum <= 0 || temperatureDifferenceSum < 0);
    }
};

// One point of the R(t) chart: the R over all records up to the record at time t, and the R a day
// earlier that criterion B compares it with (NaN where there is none: a gap in the chart). The
// band of criterion B at t is rDayBefore * (1 -+ StabilityTolerance).
struct WallTestPoint
{
    double t;
    double r;
    double rDayBefore;
};

class WallTest
{
public:
    static constexpr double Day = 86400.0;
    static constexpr double StabilityTolerance = 0.05; // every criterion's 5 %
    static constexpr double HeatGap = 10.0;            // s: longer steps carry no passed heat
    static constexpr int MaxElapsedDays = 3660;
    // The chart keeps at most this many points: when full, every other one goes and the spacing
    // doubles (from one a second), so it covers any run with 24 bytes a point.
    static constexpr int MaxHistoryPoints = 4096;

    // Settings with a problem() give way to the defaults.
    explicit WallTest(const WallTestSettings &settings = {});
    // Reads its records from series, where they lie, instead of keeping them: they are taken with
    // takeFromSeries(), and append() takes nothing. The series must outlive the WallTest; they may
    // grow at their ends meanwhile, or be emptied (a reset), on the same thread.
    WallTest(const RecordedSeries &series, const WallTestChannels &channels,
             const WallTestSettings &settings = {});
    ~WallTest();
    WallTest(const WallTest &) = delete;
    WallTest &operator=(const WallTest &) = delete;

    const WallTestSettings &settings() const { return currentSettings; }
    // A change of heavy, capacity or the interval judges the records so far again (one pass over
    // them); a change of R_si or R_se only recomputes U. A change of the correction needs the
    // records as recorded: it takes them from the series again, and is refused (false) for
    // appended records, which are kept corrected. Settings with a problem() are ignored (false).
    bool setSettings(const WallTestSettings &settings);

    // Adds one record: time t (s), heat flux q (W/m^2), warm- and cold-side temperatures (degC),
    // and the heat-flux sensor's temperature (only the correction reads it). O(1) amortised.
    // Returns false when the record is skipped.
    bool append(double t, double q, double tsi, double tse, double fluxTemperature = NAN);
    // Forgets the run (the settings stay).
    void clear();

    // Reading from series: takes their records in order, from the first not yet taken up to (not
    // including) end, or as far as the shortest of the four series read goes; each is used or
    // skipped as append() would. Series that no longer hold the records taken (shorter, or another
    // time at the last one taken: emptied and filled again) are taken again from the first record.
    // Returns the records taken by this call.
    qint64 takeFromSeries(qint64 end);
    // The records taken so far (used and skipped), and how many the series hold now.
    qint64 takenFromSeries() const;
    qint64 availableInSeries() const;
    bool readsSeries() const { return records.readsSeries(); }

    const WallTestState &state() const { return current; }
    const QVector<WallTestPoint> &history() const { return points; }
    // The records used, summed into the dynamic method's intervals.
    const IntervalMeans &intervalMeans() const { return means; }

    // Memory the kept records take: 32 bytes per record used, in blocks of 2 MiB. Reading from
    // series, only a skipped record takes memory (8 bytes).
    static constexpr int BytesPerRecord = 4 * sizeof(double);

private:
    struct Sample
    {
        double t, q, tsi, tse, tq; // as recorded; tq: the heat-flux sensor's temperature
    };
    // Halves, so that they are finite for any finite temperatures.
    struct Record
    {
        double t, q, halfDt, m; // time, heat flux, (T_si - T_se) / 2, (T_si + T_se) / 2
    };
    // Counts and sums over a prefix of the records: those before index n. Summed in long double
    // (64-bit mantissa, exponent to 16383), so that sums of any finite values neither overflow
    // nor lose the differences of prefixes to rounding.
    struct Sums
    {
        qint64 n = 0;
        long double q = 0, halfDt = 0, m = 0, heat = 0;
    };
    // The prefixes at a half-day boundary b: records with elapsed < b and with elapsed <= b.
    struct Mark
    {
        Sums below, upTo;
    };
    // The records used, by index: kept in blocks, or read from series (record i of the used ones
    // is the series' record i plus the number of records skipped before it).
    class RecordStore
    {
    public:
        static constexpr int ChunkBits = 16;
        static constexpr qint64 ChunkMask = (qint64(1) << ChunkBits) - 1;
        void readFrom(const RecordedSeries &series, const WallTestChannels &channels);
        FluxCorrection correction;
        bool readsSeries() const { return time != nullptr; }
        // The next record is used (kept, or the series' next one), or skipped.
        void append(const Record &record);
        void skip();
        Record operator[](qint64 i) const
        {
            return time ? fromSeries(i) : chunks[size_t(i >> ChunkBits)][i & ChunkMask];
        }
        qint64 size() const { return count; }
        qint64 taken() const { return count + qint64(skipped.size()); }
        qint64 available() const;
        Sample sample(qint64 index) const; // the series' record at index
        void clear();
        std::vector<std::unique_ptr<Record[]>> chunks;

    private:
        Record fromSeries(qint64 i) const;

        qint64 count = 0;
        const QVector<double> *time = nullptr;
        std::array<const QVector<double> *, 4> values{}; // q, T_si, T_se, the flux sensor's T
        std::vector<qint64> skipped;                     // per skipped record: the records used before it
    };

    void resetJudgement();
    bool take(const Sample &sample);
    static Record recordOf(const Sample &sample, const FluxCorrection &correction);
    void add(const Record &record);
    void judgeEmpty();
    void judge(double t);
    void updatePasses(double t);
    void sampleHistory(double t);
    Mark &markAt(qint64 halfDay);
    const Sums &below(qint64 halfDay) const;
    const Sums &upTo(qint64 halfDay) const;
    void addNext(Sums *sums) const;
    void advanceBelow(Sums *cursor, double elapsed) const;
    void advanceUpTo(Sums *cursor, double elapsed) const;
    double elapsedOf(qint64 i) const { return records[i].t - start; }
    static Sums difference(const Sums &to, const Sums &from);
    static std::optional<double> resistance(const Sums &sums);
    std::optional<double> transmittance(const std::optional<double> &r) const;

    WallTestSettings currentSettings;
    WallTestState current;
    RecordStore records;
    double start = 0;
    double previousTime = 0;
    Sums all;
    std::vector<Mark> marks; // one per half day from start
    qint64 belowDone = 0;    // marks before these indexes are final
    qint64 upToDone = 0;
    Sums dayBefore;       // records with elapsed <= now - 24 h
    Sums lastDayStart;    // records with elapsed < now - 24 h
    Sums lastPeriodStart; // records with elapsed < now - D days
    int lastPeriodDays = 0;
    QVector<WallTestPoint> points;
    IntervalMeans means;
    double pointSpacing = 1.0;
    quint64 lastTakenTime = 0; // reading from series: the bits of the last taken record's time
};

// SPDX-License-Identifier: GPL-3.0-or-later
// The bytes the simulated unit makes: record form, values, and the seeded fault mix.

#include "simunit/unitstream.h"
#include "support/streamcheck.h"

#include <QTest>

#include <algorithm>

class TestUnitStream : public QObject
{
    Q_OBJECT

private slots:
    void plainRecords_data();
    void plainRecords();
    void valuesDriftSlowly();
    void faultMixIsReproducible();
    void faultMixIsCountedWhereLinesEnd();
    void faultMixHasEveryKind();
    void numberedRecordsCountOnAcrossCalls();
};

void TestUnitStream::plainRecords_data()
{
    addSensorCountsAndLineEnds();
}

void TestUnitStream::plainRecords()
{
    QFETCH(int, sensors);
    QFETCH(LineEnd, lineEnd);
    UnitStream stream;
    stream.setSensorCount(sensors);
    stream.setLineEnd(lineEnd);

    const QList<StreamWrite> writes = stream.writes(200);
    QCOMPARE(writes.size(), 200); // one write per line without faults
    for (const StreamWrite &w : writes) {
        const QByteArray end = lineEnd == LineEnd::CrLf ? "\r\n" : "\n";
        QVERIFY2(w.bytes.endsWith(end), w.bytes.constData());
        QByteArray line = w.bytes;
        line.chop(end.size());
        QVERIFY2(!line.contains('\r') && !line.contains('\n'), w.bytes.constData());
        QVERIFY2(StreamReader::isPlainRecord(line, sensors), line.constData());
        const QList<QByteArray> fields = line.split(',');
        for (int k = 0; k < fields.size(); ++k) {
            const double v = fields[k].toDouble();
            if (k % 2 == 0)
                QVERIFY2(v >= UnitStream::MinHeatFlux && v <= UnitStream::MaxHeatFlux, line.constData());
            else
                QVERIFY2(v >= UnitStream::MinTemperature && v <= UnitStream::MaxTemperature,
                         line.constData());
        }
        QCOMPARE(w.pauseAfter, false);
        QCOMPARE(w.counts.goodRecords, 1ULL);
        QCOMPARE(w.counts.bytes, quint64(w.bytes.size()));
    }
    const StreamCounters &c = stream.counters();
    QCOMPARE(c.goodRecords, 200ULL);
    QCOMPARE(c.badLines, 0ULL);
    QCOMPARE(c.writes, 200ULL);
    QCOMPARE(stream.samplesProduced(), 200ULL);
}

void TestUnitStream::valuesDriftSlowly()
{
    // Ten minutes at 10 samples per second: each channel moves, but only a little per sample.
    UnitStream stream;
    stream.setSensorCount(4);
    QList<double> low = stream.sampleValues(0), high = low, previous = low;
    for (quint64 i = 1; i < 6000; ++i) {
        const QList<double> v = stream.sampleValues(i);
        for (int k = 0; k < v.size(); ++k) {
            const double step = qAbs(v[k] - previous[k]);
            QVERIFY2(step < (k % 2 == 0 ? 15.0 : 0.5),
                     qPrintable(QStringLiteral("channel %1 sample %2").arg(k + 1).arg(i)));
            low[k] = std::min(low[k], v[k]);
            high[k] = std::max(high[k], v[k]);
        }
        previous = v;
    }
    for (int k = 0; k < low.size(); ++k)
        QVERIFY2(high[k] - low[k] > (k % 2 == 0 ? 20.0 : 1.0),
                 qPrintable(QStringLiteral("channel %1").arg(k + 1)));
    // The sensors differ from one another.
    const QList<double> v = stream.sampleValues(100);
    QVERIFY(v[0] != v[2] && v[2] != v[4] && v[4] != v[6]);
    // The lines carry these values, rounded to two decimals.
    UnitStream sent;
    sent.setSensorCount(4);
    const QList<QByteArray> lines = sent.generate(60).split('\n');
    const QList<QByteArray> fields = lines[50].split(',');
    for (int k = 0; k < 8; ++k)
        QVERIFY(qAbs(fields[k].toDouble() - stream.sampleValues(50)[k]) <= 0.005 + 1e-9);
}

void TestUnitStream::faultMixIsReproducible()
{
    auto make = [](quint32 seed) {
        UnitStream s(seed);
        s.setSensorCount(3);
        s.setFaults(FaultMix::soak());
        s.setNumbered(true);
        return s.writes(3000);
    };
    const QList<StreamWrite> a = make(42), b = make(42), c = make(43);
    QCOMPARE(a.size(), b.size());
    for (int i = 0; i < a.size(); ++i) {
        QCOMPARE(a[i].bytes, b[i].bytes);
        QCOMPARE(a[i].pauseAfter, b[i].pauseAfter);
    }
    QByteArray all, other;
    for (const StreamWrite &w : a)
        all += w.bytes;
    for (const StreamWrite &w : c)
        other += w.bytes;
    QVERIFY(all != other);

    // Reseeding starts the same fault sequence again.
    UnitStream s(42);
    s.setSensorCount(3);
    s.setFaults(FaultMix::soak());
    const QByteArray first = s.generate(500);
    UnitStream t(7);
    t.setSensorCount(3);
    t.setFaults(FaultMix::soak());
    t.reseed(42);
    QCOMPARE(t.generate(500), first);
}

void TestUnitStream::faultMixIsCountedWhereLinesEnd()
{
    for (int sensors = 1; sensors <= 4; ++sensors) {
        UnitStream stream(quint32(1000 + sensors));
        stream.setSensorCount(sensors);
        stream.setFaults(FaultMix::soak());
        stream.setNumbered(true);
        const QList<StreamWrite> writes = stream.writes(5000);

        StreamReader reader(sensors);
        StreamCounters sum;
        for (int i = 0; i < writes.size(); ++i) {
            StreamCounters found = reader.feed(writes[i].bytes);
            found.bytes = quint64(writes[i].bytes.size());
            found.writes = 1;
            QVERIFY2(found == writes[i].counts,
                     qPrintable(QStringLiteral("N=%1 write %2").arg(sensors).arg(i)));
            // A write that ends inside a line is always followed by a pause.
            if (!writes[i].bytes.endsWith('\n') && i + 1 < writes.size())
                QVERIFY(writes[i].pauseAfter);
            sum += writes[i].counts;
        }
        QVERIFY(sum == stream.counters());
        QVERIFY2(reader.problems().isEmpty(), qPrintable(reader.problems().value(0)));
        QVERIFY(reader.unfinished().isEmpty());
        QVERIFY(stream.counters().goodRecords >= 5000);
        QVERIFY(stream.counters().badLines > 0);

        // Every good record is there once, in order, with values in range.
        const QList<QList<double>> &records = reader.records();
        QCOMPARE(quint64(records.size()), stream.counters().goodRecords);
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records[i][0], double(i + 1));
            for (int k = 1; k < records[i].size(); ++k) {
                const double v = records[i][k];
                if (v == 0.0)
                    continue; // an empty field
                if (k % 2 == 0)
                    QVERIFY(v >= UnitStream::MinHeatFlux && v <= UnitStream::MaxHeatFlux);
                else
                    QVERIFY(v >= UnitStream::MinTemperature && v <= UnitStream::MaxTemperature);
            }
        }
    }
}

void TestUnitStream::faultMixHasEveryKind()
{
    const int sensors = 4;
    UnitStream stream(5);
    stream.setSensorCount(sensors);
    stream.setFaults(FaultMix::soak());
    const QList<StreamWrite> writes = stream.writes(5000);

    int splitWrites = 0, multiLineWrites = 0, withNul = 0, notUtf8 = 0, tooFew = 0, tooMany = 0, padded = 0,
        noComma = 0, notNumbers = 0;
    for (const StreamWrite &w : writes) {
        if (!w.bytes.endsWith('\n'))
            ++splitWrites;
        if (w.bytes.count('\n') > 1)
            ++multiLineWrites;
    }
    QByteArray all;
    for (const StreamWrite &w : writes)
        all += w.bytes;
    StreamReader reader(sensors);
    reader.feed(all);
    for (const QByteArray &line : all.split('\n')) {
        if (line.contains('\0'))
            ++withNul;
        if (line.contains(char(0xFF)) || line.contains(char(0xFE)) || line.contains(char(0xC0)) ||
            line.contains(char(0x80)))
            ++notUtf8;
        const int fields = line.count(',') + 1;
        if (!line.contains('\0') && fields > 1 && fields < 2 * sensors)
            ++tooFew;
        if (fields > 2 * sensors)
            ++tooMany;
        if (fields == 2 * sensors && (line.startsWith(' ') || line.startsWith('\t') || line.contains(", ")))
            ++padded;
        if (fields == 1)
            ++noComma;
        const QList<QByteArray> split = line.trimmed().split(',');
        if (fields == 2 * sensors && !std::all_of(split.begin(), split.end(), StreamReader::isNumberOrBlank))
            ++notNumbers;
    }
    QVERIFY(splitWrites > 100);
    QVERIFY(multiLineWrites > 20);
    QVERIFY(withNul > 20);
    QVERIFY(notUtf8 >= withNul);
    QVERIFY(tooFew > 20);
    QVERIFY(tooMany > 20);
    QVERIFY(padded > 50);
    QVERIFY(noComma > 50);
    QVERIFY(notNumbers > 50);
    QVERIFY(stream.counters().longRuns > 0);
    QVERIFY(stream.counters().emptyFieldRecords > 20);
    QVERIFY(reader.lineEndsCrLf() > 1000 && reader.lineEndsLf() > 1000);
}

void TestUnitStream::numberedRecordsCountOnAcrossCalls()
{
    UnitStream stream;
    stream.setSensorCount(2);
    stream.setNumbered(true);
    const QByteArray first = stream.generate(3);
    stream.skipSample(); // time passes, no number is used
    const QByteArray second = stream.generate(2);
    StreamReader reader(2);
    reader.feed(first + second);
    QCOMPARE(reader.records().size(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(reader.records()[i][0], double(i + 1));
    QCOMPARE(stream.samplesProduced(), 6ULL);
    QVERIFY(first.startsWith("1,"));
}

QTEST_GUILESS_MAIN(TestUnitStream)
#include "tst_unitstream.moc"

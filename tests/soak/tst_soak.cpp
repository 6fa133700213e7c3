// SPDX-License-Identifier: GPL-3.0-or-later
// A long run over a real pseudo-terminal: the control panel and the acquisition window on the
// simulated unit, N = 4, all sensors shown, the unit sending as fast as the line takes it with
// every kind of fault mixed in. Afterwards: every good record was taken once and in order with
// the values sent, every bad line (lines of 2N fields that are not all numbers among them) was
// discarded and reported, the reader's buffer stayed bounded, and a save writes exactly the good
// records.
//
// QUELLSPAN_SOAK_SEED and QUELLSPAN_SOAK_RECORDS (environment) replay a run with another seed or
// length; the seed is printed with the counts.

#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "data/csvwriter.h"
#include "messages/statusmessages.h"
#include "simunit/simulatedunit.h"
#include "support/modalcloser.h"
#include "support/streamcheck.h"
#include "unit/portlist.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr int Sensors = 4;
constexpr int Channels = 2 * Sensors;
constexpr quint32 DefaultSeed = 20240611;
// About 12 s on two cores for a plain build; the sanitizer build takes a few times that.
constexpr quint64 DefaultRecords = 200000;
// The longest the unit may take to send them, for a machine far slower than expected.
constexpr int SendingTimeoutMs = 240000;

quint64 environmentNumber(const char *name, quint64 fallback)
{
    bool ok = false;
    const quint64 value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok && value > 0 ? value : fallback;
}

// The bad lines of a stream by what makes them bad, as a reader meets them.
struct BadLineKinds
{
    quint64 empty = 0;
    quint64 text = 0;       // no comma, not a number
    quint64 tooFew = 0;     // numbers, fewer than 2N fields
    quint64 tooMany = 0;    // numbers, more than 2N fields
    quint64 binary = 0;     // holding NUL (and bytes that are not UTF-8)
    quint64 overlong = 0;   // longer than the reader's bound, without a line end within it
    quint64 notNumbers = 0; // 2N fields, but some are text: no reading may be made up for them
    quint64 total() const { return empty + text + tooFew + tooMany + binary + overlong + notNumbers; }
};

BadLineKinds classifyBadLines(const QByteArray &stream)
{
    static const QRegularExpression numbers(QStringLiteral("^-?\\d+\\.\\d\\d(,-?\\d+\\.\\d\\d)*$"));
    BadLineKinds kinds;
    for (QByteArray line : stream.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const int fields = line.count(',') + 1;
        if (fields == Channels) {
            const QList<QByteArray> split = line.split(',');
            if (!std::all_of(split.begin(), split.end(), StreamReader::isNumberOrBlank))
                ++kinds.notNumbers;
            continue;
        }
        if (line.size() > LineSplitter::DefaultMaxLineLength)
            ++kinds.overlong;
        else if (line.contains('\0'))
            ++kinds.binary;
        else if (line.isEmpty())
            ++kinds.empty;
        else if (numbers.match(QString::fromLatin1(line)).hasMatch())
            ++(fields < Channels ? kinds.tooFew : kinds.tooMany);
        else
            ++kinds.text;
    }
    // The split leaves the (empty) rest after the last line end.
    --kinds.empty;
    return kinds;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyGoodRecordIsTakenOnceAndInOrder();
    void valuesAreTakenAsSent();
    void timesNeverDecrease();
    void everyBadLineIsDiscarded();
    void theReadersBufferStaysBounded();
    void saveWritesExactlyTheGoodRecords();

private:
    // The stream as the unit made it, from its seed: bytes, counts, and what a careful reader
    // takes from it (independent of the program's own reader).
    void waitForTheReader(const Window2 *w);
    void rebuildSentStream();
    Window2 *window() const { return panel->findChild<Window2 *>(); }

    quint32 seed = DefaultSeed;
    std::unique_ptr<SimulatedUnit> unit;
    std::unique_ptr<MainWindow> panel;
    QTemporaryDir dir;

    StreamCounters sent;
    QByteArray sentBytes;
    std::unique_ptr<StreamReader> reference;
    quint64 samplesInBursts = 0;
    quint64 splitSamples = 0;

    int maxPendingBytes = 0;   // of a line without its line end yet, in the window's reader
    qint64 maxPortBacklog = 0; // left unread in the port's own buffer
    quint64 pendingSamples = 0;
    qint64 sendingMs = 0;
};

void TestSoak::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    seed = quint32(environmentNumber("QUELLSPAN_SOAK_SEED", DefaultSeed));
    const quint64 target = environmentNumber("QUELLSPAN_SOAK_RECORDS", DefaultRecords);
    QVERIFY(dir.isValid());

    unit = std::make_unique<SimulatedUnit>();
    QVERIFY2(unit->isOpen(), qPrintable(unit->errorString()));
    unit->setRate(0);
    unit->setFaults(FaultMix::soak(), seed);
    unit->setNumberedRecords(true);
    unit->setSendOnCount(false); // the window is acquiring before the first byte
    const PortEntry entry = measuringUnitPort(unit->portPath(), QStringLiteral("soak unit"));
    setPortListSource([entry] { return QList<PortEntry>{entry}; });
    ModalCloser unexpected;
    panel = std::make_unique<MainWindow>();
    setPortListSource(nullptr);
    QVERIFY2(panel->serialPort()->isOpen(), qPrintable(panel->serialPort()->errorString()));
    panel->show();

    // The operator: the count, the graph window, all four sensors, Start.
    panel->findChild<QSpinBox *>(QStringLiteral("sensNumSpin"))->setValue(Sensors);
    panel->findChild<QPushButton *>(QStringLiteral("sensNumBtn"))->click();
    QTRY_COMPARE(unit->sensorCount(), Sensors);
    panel->findChild<QPushButton *>(QStringLiteral("plotWindowBtn"))->click();
    Window2 *w = window();
    QVERIFY(w);
    for (int s = 1; s <= Sensors; ++s) {
        auto *box = w->findChild<QCheckBox *>(QStringLiteral("toggle%1").arg(s));
        box->click();
        QVERIFY(box->isChecked());
    }
    w->findChild<QPushButton *>(QStringLiteral("startData"))->click();
    QVERIFY(w->isAcquiring());
    QCOMPARE(unexpected.count(), 0);

    // Connected after the window's reader, so this sees what each read left pending.
    QSerialPort *port = panel->serialPort();
    connect(port, &QSerialPort::readyRead, this, [this, w, port] {
        maxPendingBytes = std::max(maxPendingBytes, w->pendingLineBytes());
        maxPortBacklog = std::max(maxPortBacklog, port->bytesAvailable());
        ++pendingSamples;
    });

    QElapsedTimer clock;
    clock.start();
    unit->start();
    while (unit->counters().goodRecords < target && clock.elapsed() < SendingTimeoutMs)
        QTest::qWait(10);
    unit->stop();
    QVERIFY2(unit->counters().goodRecords >= target,
             qPrintable(QStringLiteral("only %1 records sent in %2 ms")
                            .arg(unit->counters().goodRecords)
                            .arg(clock.elapsed())));
    // What the unit had made goes out whole; then the window takes the last of it.
    QTRY_COMPARE_WITH_TIMEOUT(unit->pendingBytes(), 0, 30000);
    waitForTheReader(w);
    sendingMs = clock.elapsed();
    QTest::qWait(200); // nothing more may come
    sent = unit->counters();
    QCOMPARE(unit->skippedSamples(), 0ULL);
    QVERIFY(sent == unit->stream().counters());
    QCOMPARE(unexpected.count(), 0);

    rebuildSentStream();
    if (QTest::currentTestFailed())
        return;
    const BadLineKinds kinds = classifyBadLines(sentBytes);
    QCOMPARE(kinds.total(), sent.badLines);
    qInfo("soak: seed %u, N = %d, %lld ms sending and taking, %.0f records/s", seed, Sensors,
          qint64(sendingMs), double(sent.goodRecords) * 1000.0 / double(std::max<qint64>(sendingMs, 1)));
    qInfo("soak: %llu good records (%llu with an empty field), %llu bytes in %llu writes", sent.goodRecords,
          sent.emptyFieldRecords, sent.bytes, sent.writes);
    qInfo("soak: %llu bad lines: %llu empty, %llu text, %llu too few fields, %llu too many fields, "
          "%llu with NUL and non-UTF-8 bytes, %llu with 2N fields not all numbers, %llu overlong runs "
          "(%llu counted by the unit)",
          sent.badLines, kinds.empty, kinds.text, kinds.tooFew, kinds.tooMany, kinds.binary, kinds.notNumbers,
          kinds.overlong, sent.longRuns);
    qInfo("soak: line ends %d CR LF, %d LF; %llu samples split over several writes, %llu samples in bursts",
          reference->lineEndsCrLf(), reference->lineEndsLf(), splitSamples, samplesInBursts);
    qInfo("soak: reader: %llu lines discarded, %llu ignored; pending bytes at most %d (bound %d), "
          "left in the port at most %lld, over %llu reads",
          w->discardedLineCount(), w->ignoredLineCount(), maxPendingBytes, LineSplitter::DefaultMaxLineLength,
          maxPortBacklog, pendingSamples);
}

void TestSoak::waitForTheReader(const Window2 *w)
{
    // Until it has dealt with as many lines as went out, or has dealt with none for a while: what
    // it took is then checked record by record.
    const quint64 linesSent = unit->counters().goodRecords + unit->counters().badLines;
    auto linesTaken = [w] { return quint64(w->recordedTimes().size()) + w->discardedLineCount(); };
    QElapsedTimer idle;
    idle.start();
    for (quint64 last = linesTaken(); last < linesSent && idle.elapsed() < 3000;) {
        QTest::qWait(20);
        if (linesTaken() != last) {
            last = linesTaken();
            idle.restart();
        }
    }
}

void TestSoak::rebuildSentStream()
{
    UnitStream stream(seed);
    stream.setSensorCount(Sensors);
    stream.setFaults(FaultMix::soak());
    stream.setNumbered(true);
    while (stream.counters().writes < sent.writes) {
        QList<StreamWrite> writes;
        const int samples = stream.nextWrites(&writes);
        if (samples > 1)
            samplesInBursts += quint64(samples);
        else if (writes.size() > 1)
            ++splitSamples;
        for (const StreamWrite &write : writes)
            sentBytes += write.bytes;
    }
    QVERIFY2(stream.counters() == sent, "the stream rebuilt from the seed is not the one the unit sent");
    QCOMPARE(quint64(sentBytes.size()), sent.bytes);

    reference = std::make_unique<StreamReader>(Sensors);
    reference->feed(sentBytes);
    QCOMPARE(reference->counters().goodRecords, sent.goodRecords);
    QCOMPARE(reference->counters().badLines, sent.badLines);
    QCOMPARE(reference->counters().emptyFieldRecords, sent.emptyFieldRecords);
    QVERIFY2(reference->problems().isEmpty(), qPrintable(reference->problems().mid(0, 5).join('\n')));
    QVERIFY(reference->unfinished().isEmpty());
    // The mix is meant to hold every kind of fault many times over.
    QVERIFY(sent.emptyFieldRecords > 100 && sent.longRuns > 10 && splitSamples > 1000 &&
            samplesInBursts > 1000);
    QVERIFY(classifyBadLines(sentBytes).notNumbers > 1000);
    QVERIFY(reference->lineEndsCrLf() > 1000 && reference->lineEndsLf() > 1000);
}

void TestSoak::cleanupTestCase()
{
    panel.reset();
    unit.reset();
}

void TestSoak::everyGoodRecordIsTakenOnceAndInOrder()
{
    QVERIFY(reference);
    const QVector<double> &sequence = window()->channelSeries(1);
    for (int i = 0; i < sequence.size(); ++i) {
        if (sequence[i] != double(i + 1))
            QFAIL(qPrintable(
                QStringLiteral("record %1 carries sequence number %2").arg(i + 1).arg(sequence[i])));
    }
    QCOMPARE(quint64(sequence.size()), sent.goodRecords);
    for (int k = 2; k <= Channels; ++k)
        QCOMPARE(window()->channelSeries(k).size(), sequence.size());
    QCOMPARE(window()->recordedTimes().size(), sequence.size());
    // The charts hold every record too, for every sensor.
    for (const char *name : {"plot", "plot2"}) {
        auto *chart = window()->findChild<QCustomPlot *>(QLatin1String(name));
        for (int g = 0; g < Sensors; ++g)
            QCOMPARE(quint64(chart->graph(g)->dataCount()), sent.goodRecords);
    }
}

void TestSoak::valuesAreTakenAsSent()
{
    QVERIFY(reference);
    const QList<QList<double>> &records = reference->records();
    QCOMPARE(quint64(records.size()), sent.goodRecords);
    quint64 zeros = 0;
    for (int k = 1; k <= Channels; ++k) {
        const QVector<double> &taken = window()->channelSeries(k);
        for (int i = 0; i < std::min(taken.size(), records.size()); ++i) {
            if (taken[i] != records[i][k - 1])
                QFAIL(qPrintable(QStringLiteral("record %1, channel %2: taken %3, sent %4")
                                     .arg(i + 1)
                                     .arg(k)
                                     .arg(taken[i], 0, 'g', 17)
                                     .arg(records[i][k - 1], 0, 'g', 17)));
            zeros += taken[i] == 0.0 ? 1 : 0;
        }
        QCOMPARE(taken.size(), records.size());
    }
    // The unit's values never are 0; an empty field is what reads as 0, one per such record.
    QCOMPARE(zeros, sent.emptyFieldRecords);
}

void TestSoak::timesNeverDecrease()
{
    QVERIFY(reference);
    const QVector<double> &times = window()->recordedTimes();
    QVERIFY(!times.isEmpty());
    QVERIFY(times.first() >= 0.0);
    for (int i = 1; i < times.size(); ++i) {
        if (times[i] < times[i - 1])
            QFAIL(qPrintable(QStringLiteral("record %1 at %2 s after record %3 at %4 s")
                                 .arg(i + 1)
                                 .arg(times[i])
                                 .arg(i)
                                 .arg(times[i - 1])));
    }
    QVERIFY2(times.last() <= double(sendingMs) / 1000.0 + 1.0, qPrintable(QString::number(times.last())));
}

void TestSoak::everyBadLineIsDiscarded()
{
    QVERIFY(reference);
    QCOMPARE(window()->discardedLineCount(), sent.badLines);
    // Acquisition was on before the first byte: nothing went unread.
    QCOMPARE(window()->ignoredLineCount(), 0ULL);
    // And the operator is told how many, in the status bar (and so in its history).
    const QString report = QStringLiteral("%1 lines from the unit were not %2 numbers and were not recorded.")
                               .arg(sent.badLines)
                               .arg(Channels);
    const MessageHistory &history = StatusMessages::of(window()->statusBar())->history();
    QTRY_VERIFY(std::any_of(history.entries().begin(), history.entries().end(),
                            [&report](const MessageHistory::Entry &e) { return e.text == report; }));
}

void TestSoak::theReadersBufferStaysBounded()
{
    QVERIFY(reference);
    QVERIFY(pendingSamples > 1000);
    QVERIFY2(maxPendingBytes <= LineSplitter::DefaultMaxLineLength,
             qPrintable(QString::number(maxPendingBytes)));
    // Every read empties the port's buffer, so nothing piles up there either.
    QCOMPARE(maxPortBacklog, qint64(0));
    // Every line ended: nothing is left waiting.
    QCOMPARE(window()->pendingLineBytes(), 0);
}

void TestSoak::saveWritesExactlyTheGoodRecords()
{
    QVERIFY(reference);
    const QString fileName = dir.filePath(QStringLiteral("soak.csv"));
    ModalCloser closer;
    closer.setHandler([fileName](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            static_cast<QDialog *>(modal)->reject();
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        static_cast<QDialog *>(dialog)->accept();
    });
    window()->findChild<QAction *>(QStringLiteral("actionSave_as"))->trigger();
    QCOMPARE(closer.count(), 1); // the file dialog, and no error
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();

    // What the CSV writer makes of the good records as sent, at the times they were taken.
    std::array<QVector<double>, Channels> expected;
    for (const QList<double> &record : reference->records()) {
        for (int k = 0; k < Channels; ++k)
            expected[size_t(k)].append(record[k]);
    }
    RecordedSeries series;
    series.time = &window()->recordedTimes();
    for (int k = 0; k < Channels; ++k)
        series.channels[size_t(k)] = &expected[size_t(k)];
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(writeCsv(&buffer, series, Sensors));
    QCOMPARE(saved.size(), buffer.data().size());
    QVERIFY(saved == buffer.data());

    // Read back: one line per good record, the sequence column 1..K, the times as recorded.
    QList<QByteArray> lines = saved.split('\n');
    QVERIFY(lines.last().isEmpty());
    lines.removeLast();
    QCOMPARE(quint64(lines.size()), sent.goodRecords);
    const QVector<double> &times = window()->recordedTimes();
    for (int i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(',');
        if (fields.size() != 1 + Channels || fields[1] != QByteArray::number(i + 1) ||
            fields[0].toDouble() != times[i])
            QFAIL(qPrintable(QStringLiteral("line %1: %2").arg(i + 1).arg(QString::fromLatin1(lines[i]))));
    }
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"

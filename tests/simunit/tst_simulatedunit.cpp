// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated unit on a pseudo-terminal, as a host sees it through QSerialPort.

#include "simunit/simulatedunit.h"
#include "support/streamcheck.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace {

std::unique_ptr<QSerialPort> openHostPort(const SimulatedUnit &unit)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(unit.portPath());
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    port->setBaudRate(QSerialPort::Baud9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    return port;
}

// Reads what arrives on the port, with the event loop running, until enough() or the timeout.
QByteArray collect(QSerialPort &port, const std::function<bool(const QByteArray &)> &enough, int timeoutMs)
{
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (!enough(data) && timer.elapsed() < timeoutMs) {
        QTest::qWait(5);
        data += port.readAll();
    }
    return data;
}

void send(QSerialPort &port, const QByteArray &bytes)
{
    port.write(bytes);
    port.waitForBytesWritten(1000);
}

} // namespace

class TestSimulatedUnit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void takesCountAndSensitivities();
    void bytesBeforeTheCountAreNoCount();
    void sendsNothingBeforeTheCount();
    void waitsForStartWhenAsked();
    void sendsWellFormedLines_data();
    void sendsWellFormedLines();
    void keepsItsRate_data();
    void keepsItsRate();
    void faultMixArrivesAsCounted();
    void fullLineDoesNotBlock();
    void unplugIsSeenByTheHost();
    void generateContinuesTheStream();
};

void TestSimulatedUnit::initTestCase()
{
    qRegisterMetaType<QSerialPort::SerialPortError>();
}

void TestSimulatedUnit::takesCountAndSensitivities()
{
    SimulatedUnit unit;
    QVERIFY2(unit.isOpen(), qPrintable(unit.errorString()));
    auto port = openHostPort(unit);
    QVERIFY(port);
    QSignalSpy counts(&unit, &SimulatedUnit::countReceived);

    // What the control panel sends for count 4: the digit, then each text as typed, nothing between.
    send(*port, "4");
    QTRY_COMPARE(unit.sensorCount(), 4);
    QCOMPARE(counts.size(), 1);
    QCOMPARE(counts[0][0].toInt(), 4);
    for (const QByteArray text :
         {QByteArray("12.5"), QByteArray("13"), QByteArray("9.87"), QByteArray("11 \xC2\xB5")})
        send(*port, text);
    QTRY_COMPARE(unit.receivedBytes(), QByteArray("412.5139.8711 \xC2\xB5"));
    QCOMPARE(unit.sensitivityBytes(), QByteArray("12.5139.8711 \xC2\xB5"));
    // Digits among the sensitivities do not change the count.
    QCOMPARE(unit.sensorCount(), 4);
    QCOMPARE(counts.size(), 1);
    QVERIFY(unit.isSending());
}

void TestSimulatedUnit::bytesBeforeTheCountAreNoCount()
{
    SimulatedUnit unit;
    auto port = openHostPort(unit);
    QVERIFY(port);
    send(*port, "x.0");
    QTRY_COMPARE(unit.receivedBytes(), QByteArray("x.0"));
    QCOMPARE(unit.sensorCount(), 0);
    QVERIFY(!unit.isSending());
    send(*port, "2");
    QTRY_COMPARE(unit.sensorCount(), 2);
    QCOMPARE(unit.sensitivityBytes(), QByteArray());
}

void TestSimulatedUnit::sendsNothingBeforeTheCount()
{
    SimulatedUnit unit;
    auto port = openHostPort(unit);
    QVERIFY(port);
    QTest::qWait(300);
    QCOMPARE(port->readAll(), QByteArray());
    send(*port, "1");
    const QByteArray data = collect(
        *port, [](const QByteArray &d) { return d.contains('\n'); }, 2000);
    QVERIFY(data.contains('\n'));
}

void TestSimulatedUnit::waitsForStartWhenAsked()
{
    SimulatedUnit unit;
    unit.setSendOnCount(false);
    auto port = openHostPort(unit);
    QVERIFY(port);
    send(*port, "3");
    QTRY_COMPARE(unit.sensorCount(), 3);
    QTest::qWait(300);
    QVERIFY(!unit.isSending());
    QCOMPARE(port->readAll(), QByteArray());
    unit.start();
    QVERIFY(unit.isSending());
    const QByteArray data = collect(
        *port, [](const QByteArray &d) { return d.contains('\n'); }, 2000);
    QCOMPARE(data.left(data.indexOf('\n')).split(',').size(), 6);
}

void TestSimulatedUnit::sendsWellFormedLines_data()
{
    addSensorCountsAndLineEnds();
}

void TestSimulatedUnit::sendsWellFormedLines()
{
    QFETCH(int, sensors);
    QFETCH(LineEnd, lineEnd);
    SimulatedUnit unit;
    unit.setRate(100);
    unit.setLineEnd(lineEnd);
    auto port = openHostPort(unit);
    QVERIFY(port);
    send(*port, QByteArray::number(sensors));

    const QByteArray data = collect(
        *port, [](const QByteArray &d) { return d.count('\n') >= 15; }, 5000);
    QVERIFY(data.count('\n') >= 15);
    const QList<QByteArray> lines = data.left(data.lastIndexOf('\n')).split('\n');
    for (QByteArray line : lines) {
        if (lineEnd == LineEnd::CrLf) {
            QVERIFY2(line.endsWith('\r'), line.constData());
            line.chop(1);
        }
        QVERIFY2(StreamReader::isPlainRecord(line, sensors), line.constData());
    }
    StreamReader reader(sensors);
    reader.feed(data);
    QCOMPARE(reader.counters().badLines, 0ULL);
    for (const QList<double> &record : reader.records()) {
        for (int k = 0; k < record.size(); k += 2) {
            QVERIFY(record[k] >= UnitStream::MinHeatFlux && record[k] <= UnitStream::MaxHeatFlux);
            QVERIFY(record[k + 1] >= UnitStream::MinTemperature &&
                    record[k + 1] <= UnitStream::MaxTemperature);
        }
    }
}

void TestSimulatedUnit::keepsItsRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("default 10/s") << 0.0;
    QTest::newRow("50/s") << 50.0;
}

void TestSimulatedUnit::keepsItsRate()
{
    QFETCH(double, rate);
    SimulatedUnit unit;
    if (rate > 0)
        unit.setRate(rate);
    else {
        rate = 10.0; // the default
        QCOMPARE(unit.rate(), rate);
    }
    auto port = openHostPort(unit);
    QVERIFY(port);
    send(*port, "2");
    QVERIFY(collect(
                *port, [](const QByteArray &d) { return d.contains('\n'); }, 2000)
                .contains('\n'));

    // Loose bounds: the point is the order of magnitude, not the timer's precision.
    QElapsedTimer timer;
    timer.start();
    const QByteArray data = collect(
        *port, [](const QByteArray &) { return false; }, 2000);
    const double expected = rate * double(timer.elapsed()) / 1000.0;
    const int lines = data.count('\n');
    QVERIFY2(lines >= expected * 0.6 && lines <= expected * 1.4 + 2,
             qPrintable(QStringLiteral("%1 lines, %2 expected").arg(lines).arg(expected)));
}

void TestSimulatedUnit::faultMixArrivesAsCounted()
{
    // As fast as the line takes it, with every fault: what arrives is exactly the seeded stream,
    // and the unit's counts are what a careful reader finds in it.
    SimulatedUnit unit;
    unit.setRate(0);
    unit.setFaults(FaultMix::soak(), 99);
    unit.setNumberedRecords(true);
    auto port = openHostPort(unit);
    QVERIFY(port);
    send(*port, "4");
    QByteArray data = collect(
        *port, [](const QByteArray &d) { return d.size() > 300000; }, 20000);
    unit.stop();
    data += collect(
        *port, [&](const QByteArray &) { return unit.pendingBytes() == 0; }, 5000);
    data += collect(
        *port, [](const QByteArray &) { return false; }, 100);
    QCOMPARE(unit.pendingBytes(), 0);
    QVERIFY(data.size() > 300000);

    const StreamCounters sent = unit.counters();
    QCOMPARE(sent.bytes, quint64(data.size()));
    UnitStream reference(99);
    reference.setSensorCount(4);
    reference.setFaults(FaultMix::soak());
    reference.setNumbered(true);
    QByteArray expected;
    StreamCounters expectedCounts;
    while (expectedCounts.writes < sent.writes) {
        QList<StreamWrite> ws;
        reference.nextWrites(&ws);
        for (const StreamWrite &w : ws) {
            if (expectedCounts.writes == sent.writes)
                break;
            expected += w.bytes;
            expectedCounts += w.counts;
        }
    }
    QVERIFY(expected == data);
    QVERIFY(expectedCounts == sent);

    StreamReader reader(4);
    reader.feed(data);
    QCOMPARE(reader.counters().goodRecords, sent.goodRecords);
    QCOMPARE(reader.counters().badLines, sent.badLines);
    QCOMPARE(reader.counters().longRuns, sent.longRuns);
    QCOMPARE(reader.counters().emptyFieldRecords, sent.emptyFieldRecords);
    QVERIFY(sent.badLines > 0 && sent.goodRecords > 1000);
    QCOMPARE(unit.skippedSamples(), 0ULL);
}

void TestSimulatedUnit::fullLineDoesNotBlock()
{
    // Nobody reads the line: the unit holds back what fits, leaves out the rest, and the event
    // loop keeps running. Once read, the records come in order with no number missing.
    SimulatedUnit unit;
    unit.setRate(5000);
    unit.setNumberedRecords(true);
    unit.setSensorCount(4);
    QElapsedTimer timer;
    timer.start();
    int turns = 0;
    while (timer.elapsed() < 1500) {
        QTest::qWait(10);
        ++turns;
    }
    QVERIFY(turns > 50);
    QVERIFY(unit.pendingBytes() > 0);
    QVERIFY(unit.skippedSamples() > 0);

    unit.stop();
    auto port = openHostPort(unit);
    QVERIFY(port);
    QByteArray data = collect(
        *port, [&](const QByteArray &) { return unit.pendingBytes() == 0; }, 10000);
    data += collect(
        *port, [](const QByteArray &) { return false; }, 200);
    QCOMPARE(unit.pendingBytes(), 0);
    QCOMPARE(quint64(data.size()), unit.counters().bytes);
    StreamReader reader(4);
    reader.feed(data);
    QCOMPARE(quint64(reader.records().size()), unit.counters().goodRecords);
    for (int i = 0; i < reader.records().size(); ++i)
        QCOMPARE(reader.records()[i][0], double(i + 1));
}

void TestSimulatedUnit::unplugIsSeenByTheHost()
{
    SimulatedUnit unit;
    auto port = openHostPort(unit);
    QVERIFY(port);
    send(*port, "1");
    QVERIFY(collect(
                *port, [](const QByteArray &d) { return d.contains('\n'); }, 2000)
                .contains('\n'));
    QSignalSpy errors(port.get(), &QSerialPort::errorOccurred);

    unit.unplug();
    QVERIFY(!unit.isOpen());
    QVERIFY(!unit.isSending());
    // The host's next read meets the hang-up.
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 3000);
    const auto error = errors.first().first().value<QSerialPort::SerialPortError>();
    // As for a USB device that goes away: an error that ends reading. Kernels differ: older ones
    // fail the read (EIO: a resource error), recent ones read end-of-file, which Qt reports as a
    // read or resource error after whatever error code the system held last.
    qInfo("the hang-up was reported as error %d (%s)", int(error), qPrintable(port->errorString()));
    QVERIFY2(error == QSerialPort::ResourceError || error == QSerialPort::ReadError,
             qPrintable(QStringLiteral("error %1: %2").arg(int(error)).arg(port->errorString())));
    QVERIFY(!port->write("2") || !port->waitForBytesWritten(500));
    // Unplugging twice is harmless.
    unit.unplug();
}

void TestSimulatedUnit::generateContinuesTheStream()
{
    SimulatedUnit unit;
    unit.setNumberedRecords(true);
    unit.stream().setSensorCount(3);
    const QByteArray first = unit.generate(4);
    const QByteArray second = unit.generate(6);
    StreamReader reader(3);
    reader.feed(first + second);
    QCOMPARE(reader.records().size(), 10);
    QCOMPARE(reader.records().last()[0], 10.0);
    QCOMPARE(unit.counters().goodRecords, 10ULL);
    QCOMPARE(unit.counters().bytes, quint64(first.size() + second.size()));
    QVERIFY(!unit.isSending());
}

QTEST_MAIN(TestSimulatedUnit)
#include "tst_simulatedunit.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the measuring unit again. A unit whose line hangs up is noticed whatever the port
// reports, without spinning on read notifications; a unit plugged in again, on another line, is
// reopened with the same line settings and sent its configuration again byte for byte; a unit
// missing at start-up is connected when it appears; a unit whose port does not open is reported
// with the system's reason and tried again; the acquisition window goes on across a replug. The
// units are pseudo-terminals behind the port-list source.

#include "acquisition/runsafety/liverecorder.h"
#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "data/csvwriter.h"
#include "simunit/pseudoterminal.h"
#include "simunit/simulatedunit.h"
#include "support/linereceiver.h"
#include "support/modalcloser.h"
#include "unit/portlist.h"
#include "unit/portlock.h"
#include "unit/portwatcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The port list the program sees; the test plugs units in and pulls them out.
struct PortList
{
    QList<PortEntry> ports;
    PortList()
    {
        setPortListSource([this] { return ports; });
    }
    ~PortList() { setPortListSource({}); }
    void plugIn(const QString &path) { ports = {measuringUnitPort(path, QStringLiteral("test unit"))}; }
    void pullOut() { ports.clear(); }
};

// Pulls the plug on a unit: its line hangs up and it leaves the port list.
void unplug(PseudoTerminal &pty, PortList &list)
{
    list.pullOut();
    pty.closeMaster();
    pty.closeSlave();
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// How this kernel lets a hung-up pseudo-terminal read: end-of-file (recent kernels) or EIO.
QString hungUpLineReads()
{
    PseudoTerminal pty;
    const int fd = ::open(qPrintable(pty.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return QStringLiteral("(could not open the line: %1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    pty.closeMaster();
    pty.closeSlave();
    char byte;
    const ssize_t n = ::read(fd, &byte, 1);
    const int error = errno;
    ::close(fd);
    if (n == 0)
        return QStringLiteral("end-of-file");
    return QStringLiteral("an error: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
}

QString errorName(QSerialPort::SerialPortError error)
{
    return QString::fromLatin1(QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error));
}

// The control panel over the current port list, its boxes closed as they come, and its
// acquisition window once opened.
struct Panel
{
    ModalCloser closer;
    std::unique_ptr<MainWindow> window{new MainWindow};
    Window2 *graphs = nullptr;

    explicit Panel(int settleMs = 200) { watcher()->setSettleTime(settleMs); }
    PortWatcher *watcher() const { return window->portWatcher(); }
    QString status() const { return window->statusBar()->currentMessage(); }
    template <typename T> T *widget(QWidget *in, const char *name) const
    {
        T *w = in->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    void click(const char *button) const { widget<QPushButton>(window.get(), button)->click(); }
    // Sends the count and then each sensor's text, as the buttons lead the operator.
    void configure(const QStringList &texts) const
    {
        widget<QSpinBox>(window.get(), "sensNumSpin")->setValue(texts.size());
        click("sensNumBtn");
        for (int s = 1; s <= texts.size(); ++s) {
            widget<QLineEdit>(window.get(), qPrintable(QStringLiteral("setS%1Edit").arg(s)))
                ->setText(texts[s - 1]);
            click(qPrintable(QStringLiteral("setS%1Btn").arg(s)));
        }
    }
    void openGraphs()
    {
        click("plotWindowBtn");
        graphs = window->findChild<Window2 *>();
    }
    QString graphsStatus() const { return graphs->statusBar()->currentMessage(); }
};

} // namespace

class TestPortWatcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { setPortListSource({}); }

    void hungUpLineIsNoticedWithoutSpinning_data();
    void hungUpLineIsNoticedWithoutSpinning();
    void replugOnAnotherLineSendsTheConfigurationAgain();
    void commandsDuringTheSettlingFollowTheReplay();
    void noUnitAtStartThenItAppears();
    void graphWindowOpenedBeforeTheUnitAppears();
    void unopenableUnitIsReportedAndTriedAgain_data();
    void unopenableUnitIsReportedAndTriedAgain();
    void acquisitionGoesOnAcrossAReplug_data();
    void acquisitionGoesOnAcrossAReplug();
};

void TestPortWatcher::initTestCase()
{
    qInfo("A hung-up pseudo-terminal reads here as %s.", qPrintable(hungUpLineReads()));
}

void TestPortWatcher::hungUpLineIsNoticedWithoutSpinning_data()
{
    // The port turns end-of-file into an error named after whatever the system said last: a
    // read error (and it keeps its read notifications on) or a resource error. errno is set to
    // lead it to each; the port's own report is printed.
    QTest::addColumn<int>("lastSystemError");
    QTest::newRow("last said: is a directory (read error)") << EISDIR;
    QTest::newRow("last said: try again (resource error)") << EAGAIN;
}

void TestPortWatcher::hungUpLineIsNoticedWithoutSpinning()
{
    QFETCH(int, lastSystemError);
    PortList list;
    PseudoTerminal pty;
    list.plugIn(pty.slavePath());
    QSerialPort port;
    // Noted before the watcher acts on them (it closes the port, which clears the error).
    QStringList reported;
    connect(&port, &QSerialPort::errorOccurred, this, [&reported](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            reported << errorName(e);
    });
    PortWatcher watcher(&port);
    QVERIFY(watcher.openAtStartup(pty.slavePath()));
    QCOMPARE(watcher.state(), PortWatcher::State::Ready);
    QVERIFY(pty.write("1,2\n"));
    QTRY_VERIFY(port.canReadLine());
    port.readAll();

    QSignalSpy lost(&watcher, &PortWatcher::unitLost);
    QSignalSpy reads(&port, &QIODevice::readyRead);
    reported.clear();
    unplug(pty, list);
    errno = lastSystemError;
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
    QVERIFY(!port.isOpen());
    QCOMPARE(watcher.state(), PortWatcher::State::Searching);
    qInfo("The port reported %s (%d errors in all); the watcher: %s",
          qPrintable(reported.value(0, QStringLiteral("nothing"))), int(reported.size()),
          qPrintable(lost.first().first().toString()));
    QVERIFY2(!reported.isEmpty(), "the port reported nothing");
    QVERIFY(reported.first() == QStringLiteral("ReadError") ||
            reported.first() == QStringLiteral("ResourceError"));
    // Noticed at the first report, not after a storm of them.
    QVERIFY2(reported.size() <= 3, qPrintable(QString::number(reported.size())));
    QCOMPARE(lost.first().first().toString(), QStringLiteral("the line was hung up"));

    // What the process does in the seconds after: a spin on read notifications would show as
    // hundreds of thousands of errors and a whole core.
    const int errorsBefore = reported.size();
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(3000);
    const double cpuMs = (processCpuSeconds() - cpuBefore) * 1000.0;
    qInfo("CPU time after the unplug: %.1f ms over %lld ms (%.2f %% of one core)", cpuMs, wall.elapsed(),
          100.0 * cpuMs / double(wall.elapsed()));
    QCOMPARE(reported.size(), errorsBefore);
    QCOMPARE(reads.size(), 0);
    QCOMPARE(lost.size(), 1);
}

void TestPortWatcher::replugOnAnotherLineSendsTheConfigurationAgain()
{
    PortList list;
    auto first = std::make_unique<PseudoTerminal>();
    list.plugIn(first->slavePath());
    Panel panel;
    QSerialPort *serial = panel.window->serialPort();
    QVERIFY(serial->isOpen());
    QCOMPARE(panel.status(), QStringLiteral("Measuring unit connected at %1.").arg(first->slavePath()));
    panel.configure({"12.5", "13", "9.87", "11"});
    const QByteArray configuration("412.5139.8711");
    QCOMPARE(receiveOnLine(*first, configuration.size()), configuration);
    QCOMPARE(panel.watcher()->sentConfiguration(), configuration);

    QSignalSpy lost(panel.watcher(), &PortWatcher::unitLost);
    QSignalSpy ready(panel.watcher(), &PortWatcher::unitReady);
    unplug(*first, list);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
    QVERIFY(!serial->isOpen());
    QVERIFY2(panel.status().startsWith(QStringLiteral("The measuring unit is gone")),
             qPrintable(panel.status()));
    first.reset();
    QTest::qWait(1200); // a search that finds nothing

    // Back on another line, left in a state far from what the unit needs.
    PseudoTerminal second;
    termios tio{};
    QCOMPARE(tcgetattr(second.masterDescriptor(), &tio), 0);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    QCOMPARE(tcsetattr(second.masterDescriptor(), TCSANOW, &tio), 0);
    list.plugIn(second.slavePath());
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 5000);
    QCOMPARE(panel.window->serialPort(), serial);
    QVERIFY(serial->isOpen());
    QCOMPARE(ready.first().at(0).toString(), second.slavePath());
    QVERIFY(ready.first().at(1).toLongLong() >= 1200);
    QVERIFY2(panel.status().startsWith(QStringLiteral("Measuring unit back after ")) &&
                 panel.status().contains(QStringLiteral(" s away, at %1;").arg(second.slavePath())),
             qPrintable(panel.status()));

    // Everything that had been sent, once, byte for byte, on a line set up as before.
    QCOMPARE(receiveOnLine(second, configuration.size()), configuration);
    QCOMPARE(tcgetattr(second.masterDescriptor(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(lost.size(), 1);
}

void TestPortWatcher::commandsDuringTheSettlingFollowTheReplay()
{
    // A restarting unit would lose a command, or take a sensitivity's digit for the count: what
    // the operator sends while it settles goes out after the replay, in order.
    PortList list;
    PseudoTerminal first;
    list.plugIn(first.slavePath());
    Panel panel;
    panel.widget<QSpinBox>(panel.window.get(), "sensNumSpin")->setValue(2);
    panel.click("sensNumBtn");
    panel.widget<QLineEdit>(panel.window.get(), "setS1Edit")->setText(QStringLiteral("3.5"));
    panel.click("setS1Btn");
    QCOMPARE(receiveOnLine(first, 4), QByteArray("23.5"));

    QSignalSpy lost(panel.watcher(), &PortWatcher::unitLost);
    unplug(first, list);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);

    PseudoTerminal second;
    bool pressedWhileSettling = false;
    connect(panel.watcher(), &PortWatcher::unitOpened, this, [&] {
        pressedWhileSettling = panel.watcher()->state() == PortWatcher::State::Settling;
        panel.widget<QLineEdit>(panel.window.get(), "setS2Edit")->setText(QStringLiteral("4.25"));
        panel.click("setS2Btn");
    });
    QSignalSpy ready(panel.watcher(), &PortWatcher::unitReady);
    list.plugIn(second.slavePath());
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 5000);
    QVERIFY(pressedWhileSettling);
    QCOMPARE(receiveOnLine(second, 8), QByteArray("23.54.25"));
    QCOMPARE(panel.watcher()->sentConfiguration(), QByteArray("23.54.25"));
}

void TestPortWatcher::noUnitAtStartThenItAppears()
{
    PortList list;
    Panel panel;
    QCOMPARE(panel.closer.count(), 1);
    QCOMPARE(panel.closer.seen().first().text, QStringLiteral("Could Not Detect Device"));
    QCOMPARE(panel.status(), QStringLiteral("No measuring unit found. Looking for it every second..."));
    QSerialPort *serial = panel.window->serialPort();
    QVERIFY(!serial->isOpen());
    QTest::qWait(1200); // a search that finds nothing
    QVERIFY(!serial->isOpen());

    PseudoTerminal pty;
    list.plugIn(pty.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT(panel.watcher()->isUnitReady(), 5000);
    QVERIFY(serial->isOpen());
    QCOMPARE(panel.status(), QStringLiteral("Measuring unit connected at %1.").arg(pty.slavePath()));
    QCOMPARE(serial->baudRate(), 9600);
    QCOMPARE(serial->dataBits(), QSerialPort::Data8);

    // The operator goes on as if the unit had been there from the start.
    panel.widget<QSpinBox>(panel.window.get(), "sensNumSpin")->setValue(3);
    panel.click("sensNumBtn");
    QCOMPARE(receiveOnLine(pty, 1), QByteArray("3"));
    QCOMPARE(panel.window->sensorCount(), 3);
    QCOMPARE(panel.closer.count(), 1);
}

void TestPortWatcher::graphWindowOpenedBeforeTheUnitAppears()
{
    PortList list;
    Panel panel;
    panel.openGraphs();
    QVERIFY(panel.graphs);
    QCOMPARE(panel.graphsStatus(),
             QStringLiteral("No measuring unit is connected. Looking for it every second..."));
    PseudoTerminal pty;
    list.plugIn(pty.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT(panel.watcher()->isUnitReady(), 5000);
    QCOMPARE(panel.graphsStatus(),
             QStringLiteral("The measuring unit is connected at %1.").arg(pty.slavePath()));
}

void TestPortWatcher::unopenableUnitIsReportedAndTriedAgain_data()
{
    // The tests run as root, whom permission bits do not stop: the unit's port is made
    // unopenable by listing a file that is not a terminal, or by a line another port holds.
    QTest::addColumn<bool>("heldElsewhere");
    QTest::newRow("not a terminal") << false;
    QTest::newRow("held by another program") << true;
}

void TestPortWatcher::unopenableUnitIsReportedAndTriedAgain()
{
    QFETCH(bool, heldElsewhere);
    QTemporaryDir dir;
    PseudoTerminal pty;
    QSerialPort holder;
    QString path;
    if (heldElsewhere) {
        path = pty.slavePath();
        holder.setPortName(path);
        QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
    } else {
        path = dir.filePath(QStringLiteral("not-a-terminal"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // The system's reason, as a port opened by anyone else meets it.
    QSerialPort probe;
    probe.setPortName(path);
    QVERIFY(!probe.open(QIODevice::ReadWrite));
    const QString reason = probe.errorString();
    if (!heldElsewhere)
        QCOMPARE(reason, QString::fromLocal8Bit(std::strerror(ENOTTY)));
    qInfo("The port does not open: %s", qPrintable(reason));

    PortList list;
    list.plugIn(path);
    Panel panel;
    QCOMPARE(panel.closer.count(), 0); // found, so no box
    // A port held by another program: in plain words, with the lock that says so.
    const QString said = heldElsewhere ? QStringLiteral("held by another program (lock %1, process %2 %3)")
                                             .arg(portLockFilePath(path))
                                             .arg(QCoreApplication::applicationPid())
                                             .arg(QCoreApplication::applicationName())
                                       : reason;
    QVERIFY(!heldElsewhere || QFileInfo(portLockFilePath(path)).isFile());
    QCOMPARE(panel.status(),
             QStringLiteral("The measuring unit at %1 cannot be opened: %2. Trying again every second...")
                 .arg(path, said));
    QCOMPARE(panel.watcher()->lastError(), said);
    QTRY_VERIFY_WITH_TIMEOUT(panel.watcher()->failedOpenCount() >= 3, 6000);
    QVERIFY2(panel.status().contains(said), qPrintable(panel.status()));

    // Once the unit can be had, it is opened.
    if (heldElsewhere)
        holder.close();
    else
        list.plugIn(pty.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT(panel.watcher()->isUnitReady(), 5000);
    QVERIFY(panel.window->serialPort()->isOpen());
    QCOMPARE(panel.status(), QStringLiteral("Measuring unit connected at %1.").arg(pty.slavePath()));
}

void TestPortWatcher::acquisitionGoesOnAcrossAReplug_data()
{
    // What the unit sends while it restarts, before it has its configuration again: nothing, or
    // a line and the start of another.
    QTest::addColumn<QByteArray>("chatter");
    QTest::newRow("quiet restart") << QByteArray();
    QTest::newRow("chatty restart") << QByteArray("77,77,77,77\n1,2");
}

void TestPortWatcher::acquisitionGoesOnAcrossAReplug()
{
    QFETCH(QByteArray, chatter);
    PortList list;
    auto first = std::make_unique<PseudoTerminal>();
    list.plugIn(first->slavePath());
    Panel panel(300);
    panel.configure({"1.5", "2.5"});
    QCOMPARE(receiveOnLine(*first, 7), QByteArray("21.52.5"));
    panel.openGraphs();
    QVERIFY(panel.graphs);
    panel.widget<QPushButton>(panel.graphs, "startData")->click();
    const auto records = [&panel] { return panel.graphs->recordedTimes().size(); };

    // Two records, then the plug is pulled in the middle of a third.
    QVERIFY(first->write("1,2,3,4\n5,6,7,8\n9,9"));
    QTRY_COMPARE(records(), 2);
    const QString recording = panel.graphs->liveRecorder()->fileName();
    QVERIFY(!recording.isEmpty());
    QTest::qWait(50);
    QSignalSpy lost(panel.watcher(), &PortWatcher::unitLost);
    unplug(*first, list);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
    QVERIFY2(panel.graphsStatus().startsWith(QStringLiteral("The measuring unit is gone")),
             qPrintable(panel.graphsStatus()));
    QVERIFY(panel.graphsStatus().contains(QStringLiteral("save it with File > Save as...")));
    QVERIFY(panel.graphs->isAcquiring());
    first.reset();

    // The unit restarts on a new line.
    auto second = std::make_unique<PseudoTerminal>();
    connect(panel.watcher(), &PortWatcher::unitOpened, this, [&second, chatter] {
        if (!chatter.isEmpty())
            second->write(chatter);
    });
    QSignalSpy ready(panel.watcher(), &PortWatcher::unitReady);
    list.plugIn(second->slavePath());
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 5000);
    QCOMPARE(receiveOnLine(*second, 7), QByteArray("21.52.5"));
    QVERIFY2(panel.graphsStatus().startsWith(QStringLiteral("The measuring unit is back after ")) &&
                 panel.graphsStatus().contains(QStringLiteral(" s away, at %1.").arg(second->slavePath())),
             qPrintable(panel.graphsStatus()));
    QVERIFY(panel.graphsStatus().endsWith(QStringLiteral("Acquisition goes on.")));

    // The rest of the cut line must not complete the line from before the unplug, nor the start
    // of one from the restart.
    QVERIFY(second->write(",9,9\n10,11,12,13\n"));
    QTRY_COMPARE(records(), 3);
    QTest::qWait(100);
    QCOMPARE(records(), 3);
    QCOMPARE(panel.graphs->channelSeries(1), (QVector<double>{1, 5, 10}));
    QCOMPARE(panel.graphs->channelSeries(4), (QVector<double>{4, 8, 13}));
    const QVector<double> &t = panel.graphs->recordedTimes();
    QVERIFY(t[0] <= t[1]);
    // The clock ran on while the unit was away (at least the time it was given to settle).
    QVERIFY2(t[2] - t[1] >= 0.3, qPrintable(QString::number(t[2] - t[1])));

    // The run's one live recording holds them all, as Save as writes them.
    panel.widget<QPushButton>(panel.graphs, "pauseData")->click();
    QCOMPARE(panel.graphs->liveRecorder()->fileName(), recording);
    QByteArray expected;
    for (int i = 0; i < t.size(); ++i) {
        const double channels[] = {panel.graphs->channelSeries(1)[i], panel.graphs->channelSeries(2)[i],
                                   panel.graphs->channelSeries(3)[i], panel.graphs->channelSeries(4)[i]};
        appendCsvLine(&expected, t[i], channels, 4);
    }
    const auto onDisk = [&recording] {
        QFile file(recording);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_COMPARE(onDisk(), expected);
}

QTEST_MAIN(TestPortWatcher)
#include "tst_portwatcher.moc"

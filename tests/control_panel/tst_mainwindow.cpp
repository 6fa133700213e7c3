// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's behaviour: the port census, finding and opening the unit, the bytes of the
// configuration commands as the unit reads them, the enabling of the command buttons, the
// not-writable paths and the hand-over to the acquisition window. The unit is a pseudo-terminal.

#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "shell/rememberedsettings.h"
#include "simunit/pseudoterminal.h"
#include "support/linereceiver.h"
#include "support/messagecapture.h"
#include "support/modalcloser.h"
#include "unit/portlist.h"
#include "unit/unitlink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>
#include <termios.h>

namespace {

PortEntry port(const QString &name, const QString &description, bool hasVendor, quint16 vendor,
               bool hasProduct, quint16 product)
{
    PortEntry p;
    p.portName = name;
    p.description = description;
    p.hasVendorIdentifier = hasVendor;
    p.vendorIdentifier = vendor;
    p.hasProductIdentifier = hasProduct;
    p.productIdentifier = product;
    return p;
}

PortEntry unitOn(const PseudoTerminal &pty)
{
    return port(pty.slavePath(), QStringLiteral("measuring unit"), true, 9025, true, 88);
}

void usePorts(const QList<PortEntry> &ports)
{
    setPortListSource([ports] { return ports; });
}

// Notes each message box at the moment it appears: what it says, over which window, and how
// many debug messages came before it.
class BoxWatch : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QWidget *parent;
        bool parentVisible;
        int debugMessagesBefore;
    };

    explicit BoxWatch(const MessageCapture &capture) : capture(capture) { qApp->installEventFilter(this); }
    ~BoxWatch() override { qApp->removeEventFilter(this); }

    QList<Box> boxes;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(object);
        if (box && event->type() == QEvent::Show) {
            QWidget *parent = box->parentWidget();
            boxes.append({box->windowTitle(), box->text(), box->standardButtons(), parent,
                          parent && parent->isVisible(), capture.debugMessages().size()});
        }
        return false;
    }

private:
    const MessageCapture &capture;
};

// A control panel built over the current port list, with its debug output and message boxes
// watched from before its constructor runs.
struct Panel
{
    MessageCapture capture;
    ModalCloser closer;
    BoxWatch watch{capture};
    std::unique_ptr<MainWindow> window{new MainWindow};

    template <typename T> T *widget(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    void click(const char *button) const { widget<QPushButton>(button)->click(); }
    // A press written as N (the count button) or a sensor number (that sensor's button).
    void press(QChar button) const
    {
        click(button == QLatin1Char('N') ? "sensNumBtn"
                                         : qPrintable(QStringLiteral("setS%1Btn").arg(button)));
    }
    void sendCount(int count) const
    {
        widget<QSpinBox>("sensNumSpin")->setValue(count);
        click("sensNumBtn");
    }
    void setTexts(const QStringList &texts) const
    {
        for (int i = 0; i < texts.size(); ++i)
            widget<QLineEdit>(qPrintable(QStringLiteral("setS%1Edit").arg(i + 1)))->setText(texts[i]);
    }
    // The command buttons that are enabled: N for sensNumBtn, then the sensor numbers.
    QString enabledButtons() const
    {
        QString out;
        if (widget<QPushButton>("sensNumBtn")->isEnabled())
            out += QLatin1Char('N');
        for (int n = 1; n <= 4; ++n) {
            if (widget<QPushButton>(qPrintable(QStringLiteral("setS%1Btn").arg(n)))->isEnabled())
                out += QString::number(n);
        }
        return out;
    }
};

} // namespace

Q_DECLARE_METATYPE(PortEntry)

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { RememberedSettings().forgetAll(); } // each case starts as on a first run
    void cleanup() { setPortListSource({}); }

    void portCensus_data();
    void portCensus();
    void unitSearch_data();
    void unitSearch();
    void unitOpenedAt9600_8N1();
    void unitHeldElsewhere();

    void commandBytes_data();
    void commandBytes();
    void sensitivityThatIsNotANumber();
    void enablingChain_data();
    void enablingChain();

    void closedPortCountCommand();
    void closedPortSensitivityCommand();
    void readSerialSlot();

    void graphWindowHandOver();
};

void TestMainWindow::portCensus_data()
{
    QTest::addColumn<QList<PortEntry>>("ports");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("no port") << QList<PortEntry>()
                             << QStringList({"number of ports:  0 \n", "Could not find correct port"});

    QTest::newRow("port without ids")
        << QList<PortEntry>({port("ttyS0", "", false, 0, false, 0)})
        << QStringList({"number of ports:  1 \n", "description:  \"\" \n", "has vendor ID?:  false \n",
                        "vendor ID:  0 \n", "has product ID?:  false \n", "Product ID????:  0 \n",
                        "Could not find correct port"});

    QTest::newRow("several ports") << QList<PortEntry>({
                                          port("ttyS0", "Serial \"COM\" port", false, 0, false, 0),
                                          port("ttyACM0", "Other board", true, 9025, true, 67),
                                          port("ttyUSB0", "Adapter", true, 1027, false, 24577),
                                      })
                                   << QStringList({
                                          "number of ports:  3 \n",
                                          "description:  \"Serial \\\"COM\\\" port\" \n",
                                          "has vendor ID?:  false \n",
                                          "vendor ID:  0 \n",
                                          "has product ID?:  false \n",
                                          "Product ID????:  0 \n",
                                          "description:  \"Other board\" \n",
                                          "has vendor ID?:  true \n",
                                          "vendor ID:  9025 \n",
                                          "has product ID?:  true \n",
                                          "Product ID????:  67 \n",
                                          "description:  \"Adapter\" \n",
                                          "has vendor ID?:  true \n",
                                          "vendor ID:  1027 \n",
                                          "has product ID?:  false \n",
                                          "Product ID????:  24577 \n",
                                          "Could not find correct port",
                                      });
}

void TestMainWindow::portCensus()
{
    QFETCH(QList<PortEntry>, ports);
    QFETCH(QStringList, lines);
    usePorts(ports);
    Panel panel;
    QCOMPARE(panel.capture.debugMessages(), lines);

    // None of these is the unit: the box comes while the constructor runs, before anyone could
    // show the panel, and after the whole census.
    QCOMPARE(panel.watch.boxes.size(), 1);
    const BoxWatch::Box box = panel.watch.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Serial Port Error"));
    QCOMPARE(box.text, QStringLiteral("Could Not Detect Device"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, panel.window.get());
    QVERIFY(!box.parentVisible);
    QCOMPARE(box.debugMessagesBefore, lines.size());
    QVERIFY(!panel.window->serialPort()->isOpen());
    QVERIFY(panel.window->serialPort()->portName().isEmpty());
}

void TestMainWindow::unitSearch_data()
{
    // Two lines on ptys; which of them (if any) the panel opens.
    QTest::addColumn<PortEntry>("first");
    QTest::addColumn<PortEntry>("second");
    QTest::addColumn<int>("opened");

    const PortEntry absent = port(QString(), QString(), false, 0, false, 0);
    const PortEntry unit = port(QString(), "unit", true, 9025, true, 88);
    QTest::newRow("vendor 9025, product 67")
        << port(QString(), "other", true, 9025, true, 67) << absent << -1;
    QTest::newRow("product 88, other vendor")
        << port(QString(), "other", true, 1027, true, 88) << absent << -1;
    QTest::newRow("ids match but no product id")
        << port(QString(), "x", true, 9025, false, 88) << absent << -1;
    QTest::newRow("ids match but no vendor id")
        << port(QString(), "x", false, 9025, true, 88) << absent << -1;
    QTest::newRow("the unit") << unit << absent << 0;
    QTest::newRow("the unit after another port")
        << port(QString(), "other", true, 9025, true, 67) << unit << 1;
    QTest::newRow("two units: the later one") << unit << unit << 1;
    QTest::newRow("the unit before another port")
        << unit << port(QString(), "other", true, 9025, true, 67) << 0;
}

void TestMainWindow::unitSearch()
{
    QFETCH(PortEntry, first);
    QFETCH(PortEntry, second);
    QFETCH(int, opened);

    PseudoTerminal ptys[2];
    QList<PortEntry> ports;
    first.portName = ptys[0].slavePath();
    ports << first;
    if (!second.description.isEmpty()) {
        second.portName = ptys[1].slavePath();
        ports << second;
    }
    usePorts(ports);
    Panel panel;
    QSerialPort *serial = panel.window->serialPort();

    if (opened < 0) {
        QVERIFY(!serial->isOpen());
        QCOMPARE(panel.capture.debugMessages().last(), QStringLiteral("Could not find correct port"));
        QCOMPARE(panel.watch.boxes.size(), 1);
        return;
    }
    QVERIFY(serial->isOpen());
    QVERIFY(panel.watch.boxes.isEmpty());
    QVERIFY(!panel.capture.debugMessages().contains(QStringLiteral("Could not find correct port")));
    // The count digit reaches the chosen line only.
    panel.sendCount(2);
    QCOMPARE(receiveOnLine(ptys[opened], 1), QByteArray("2"));
    QCOMPARE(ptys[1 - opened].read(0), QByteArray());
}

void TestMainWindow::unitOpenedAt9600_8N1()
{
    PseudoTerminal pty;
    // Leave the line in a state far from what the unit needs, so every setting has to be made.
    termios tio{};
    QCOMPARE(tcgetattr(pty.masterDescriptor(), &tio), 0);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    tio.c_iflag |= IXON | IXOFF;
    QCOMPARE(tcsetattr(pty.masterDescriptor(), TCSANOW, &tio), 0);

    usePorts({unitOn(pty)});
    Panel panel;
    QSerialPort *serial = panel.window->serialPort();
    QVERIFY(serial->isOpen());
    QCOMPARE(serial->openMode(), QIODevice::ReadWrite);
    QVERIFY(panel.watch.boxes.isEmpty());

    // The settings as the line itself has them (the pty master reports its slave's termios).
    QCOMPARE(tcgetattr(pty.masterDescriptor(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0));

    QCOMPARE(serial->baudRate(QSerialPort::Input), 9600);
    QCOMPARE(serial->baudRate(QSerialPort::Output), 9600);
    QCOMPARE(serial->dataBits(), QSerialPort::Data8);
    QCOMPARE(serial->parity(), QSerialPort::NoParity);
    QCOMPARE(serial->stopBits(), QSerialPort::OneStop);
    QCOMPARE(serial->flowControl(), QSerialPort::NoFlowControl);
}

void TestMainWindow::unitHeldElsewhere()
{
    // The unit is listed but its port cannot be opened: nothing is said at start-up; the first
    // count command finds the port not writable.
    usePorts({port(QStringLiteral("/nonexistent/quellspan-tty"), "unit", true, 9025, true, 88)});
    Panel panel;
    QVERIFY(!panel.window->serialPort()->isOpen());
    QVERIFY(panel.watch.boxes.isEmpty());
    QVERIFY(!panel.capture.debugMessages().contains(QStringLiteral("Could not find correct port")));

    panel.click("sensNumBtn");
    QCOMPARE(panel.watch.boxes.size(), 1);
    QCOMPARE(panel.watch.boxes.first().text, QStringLiteral("Please Reconnect Device and Restart Program"));
}

void TestMainWindow::commandBytes_data()
{
    // The presses in order (N: the count button, 1-4: a sensor's button) and what the unit reads
    // after each.
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("presses");
    QTest::addColumn<QList<QByteArray>>("received");

    QTest::newRow("count 4 and four sensitivities")
        << 4 << QStringList({"12.5", "13", "9.87", "11"}) << "N1234"
        << QList<QByteArray>({"4", "12.5", "13", "9.87", "11"});
    QTest::newRow("count 1") << 1 << QStringList({"7"}) << "N1" << QList<QByteArray>({"1", "7"});
    QTest::newRow("count 3") << 3 << QStringList({"1", "2", "3"}) << "N123"
                             << QList<QByteArray>({"3", "1", "2", "3"});
    QTest::newRow("blanks around a number are not sent")
        << 2 << QStringList({" 1.5e3 ", "\t8.5"}) << "N12" << QList<QByteArray>({"2", "1.5e3", "8.5"});
}

void TestMainWindow::commandBytes()
{
    QFETCH(int, count);
    QFETCH(QStringList, texts);
    QFETCH(QString, presses);
    QFETCH(QList<QByteArray>, received);

    PseudoTerminal pty;
    usePorts({unitOn(pty)});
    Panel panel;
    panel.setTexts(texts);
    panel.widget<QSpinBox>("sensNumSpin")->setValue(count);
    for (int i = 0; i < presses.size(); ++i) {
        panel.press(presses[i]);
        QCOMPARE(receiveOnLine(pty, received[i].size()), received[i]);
    }
    QCOMPARE(panel.window->sensorCount(), count);
}

void TestMainWindow::sensitivityThatIsNotANumber()
{
    // What the unit cannot read as a sensitivity never reaches it: the field keeps the text, its
    // button stays on, the status bar says why, and a number sent afterwards goes out alone.
    QByteArray longText;
    const QByteArray controls("\x03\x04\x11\x13\r\t\x1b\x7f", 8);
    for (int i = 0; longText.size() < 20000; ++i)
        longText += QByteArray::number(i) + controls.at(i % controls.size());
    const QString typed[] = {QString(),
                             QStringLiteral("  "),
                             QStringLiteral("abc"),
                             QStringLiteral("1,5"),
                             QStringLiteral("-3"),
                             QStringLiteral("0"),
                             QStringLiteral("inf"),
                             QStringLiteral("nan"),
                             QStringLiteral("1e999"),
                             QString::fromUtf8("12 \xC2\xB5V"),
                             QStringLiteral("0x10"),
                             QString::fromLatin1(longText)};
    const char *why[] = {"empty",       "empty",        "not a number", "a decimal point, not a comma",
                         "not above 0", "not above 0",  "not finite",   "not a number",
                         "too large",   "not a number", "not a number", "not a number"};

    PseudoTerminal pty;
    usePorts({unitOn(pty)});
    Panel panel;
    panel.sendCount(2);
    QCOMPARE(receiveOnLine(pty, 1), QByteArray("2"));
    auto *edit = panel.widget<QLineEdit>("setS1Edit");
    for (size_t i = 0; i < std::size(typed); ++i) {
        edit->setText(typed[i]);
        panel.click("setS1Btn");
        QCOMPARE(edit->text(), typed[i]);
        QCOMPARE(panel.enabledButtons(), QStringLiteral("1"));
        const QString said = panel.window->statusBar()->currentMessage();
        QVERIFY2(said.startsWith("Sensor 1's sensitivity was not sent: it is ") && said.contains(why[i]),
                 qPrintable(said));
    }
    QVERIFY(UnitLink::of(panel.window->serialPort())->sentSensitivities()[0].isNull());

    edit->setText(QStringLiteral("12.5"));
    panel.click("setS1Btn");
    QCOMPARE(receiveOnLine(pty, 4), QByteArray("12.5"));
    QCOMPARE(UnitLink::of(panel.window->serialPort())->sentSensitivities()[0], QByteArray("12.5"));
    QCOMPARE(panel.enabledButtons(), QStringLiteral("2"));
}

void TestMainWindow::enablingChain_data()
{
    // Presses (N: count button, 1-4: sensor buttons) and the enabled command buttons after each,
    // written as N for the count button and the numbers of the enabled sensor buttons.
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("presses");
    QTest::addColumn<QStringList>("enabledAfter");
    QTest::addColumn<QByteArray>("stream");

    QTest::newRow("count 1") << 1 << "N1" << QStringList({"1", ""}) << QByteArray("15");
    QTest::newRow("count 3") << 3 << "N123" << QStringList({"1", "2", "3", ""}) << QByteArray("3567");
    QTest::newRow("count 4") << 4 << "N1234" << QStringList({"1", "2", "3", "4", ""}) << QByteArray("45678");
    // Sensor 2 sent before the count: the count disables 2 to 4 again and sensor 1 leads on to
    // sensor 2, whose text then goes out a second time.
    QTest::newRow("sensor button before the count")
        << 4 << "2N12" << QStringList({"N134", "1", "2", "3"}) << QByteArray("6456");
}

void TestMainWindow::enablingChain()
{
    QFETCH(int, count);
    QFETCH(QString, presses);
    QFETCH(QStringList, enabledAfter);
    QFETCH(QByteArray, stream);

    PseudoTerminal pty;
    usePorts({unitOn(pty)});
    Panel panel;
    panel.setTexts({"5", "6", "7", "8"});
    panel.widget<QSpinBox>("sensNumSpin")->setValue(count);
    QCOMPARE(panel.enabledButtons(), QStringLiteral("N1234"));

    for (int i = 0; i < presses.size(); ++i) {
        panel.press(presses[i]);
        QCOMPARE(panel.enabledButtons(), enabledAfter[i]);
    }
    QCOMPARE(receiveOnLine(pty, stream.size()), stream);
    QVERIFY(panel.widget<QPushButton>("plotWindowBtn")->isEnabled());
    QVERIFY(panel.widget<QSpinBox>("sensNumSpin")->isEnabled());
}

void TestMainWindow::closedPortCountCommand()
{
    usePorts({});
    Panel panel;
    QCOMPARE(panel.watch.boxes.size(), 1); // "Could Not Detect Device", checked with the census
    panel.capture.clear();

    panel.widget<QSpinBox>("sensNumSpin")->setValue(3);
    panel.click("sensNumBtn");

    // "couldnt write", then the box, then the count that was kept, as a bare number.
    QCOMPARE(panel.capture.debugMessages(), QStringList({"couldnt write", "0"}));
    QCOMPARE(panel.watch.boxes.size(), 2);
    const BoxWatch::Box box = panel.watch.boxes.last();
    QCOMPARE(box.title, QStringLiteral("Serial Port Error"));
    QCOMPARE(box.text, QStringLiteral("Please Reconnect Device and Restart Program"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, panel.window.get());
    QCOMPARE(box.debugMessagesBefore, 1);

    QCOMPARE(panel.window->sensorCount(), 0);
    // Only the count button changes: it stays off for the rest of the run.
    QCOMPARE(panel.enabledButtons(), QStringLiteral("1234"));
}

void TestMainWindow::closedPortSensitivityCommand()
{
    usePorts({});
    Panel panel;
    const int boxesAtStart = panel.watch.boxes.size();
    panel.capture.clear();

    panel.setTexts({"12.5", "13"});
    panel.click("setS2Btn");
    QCOMPARE(panel.capture.debugMessages(), QStringList({"couldnt write"}));
    QCOMPARE(panel.enabledButtons(), QStringLiteral("N134"));

    // With no count sent, sensor 1 leads on to nothing.
    panel.click("setS1Btn");
    QCOMPARE(panel.capture.debugMessages(), QStringList({"couldnt write", "couldnt write"}));
    QCOMPARE(panel.enabledButtons(), QStringLiteral("N34"));
    QCOMPARE(panel.watch.boxes.size(), boxesAtStart);
}

void TestMainWindow::readSerialSlot()
{
    // The panel's own reader is wired to nothing; called directly it takes one line at a time.
    PseudoTerminal pty;
    usePorts({unitOn(pty)});
    Panel panel;
    QSerialPort *serial = panel.window->serialPort();
    panel.capture.clear();

    QVERIFY(QMetaObject::invokeMethod(panel.window.get(), "readSerial"));
    QCOMPARE(panel.capture.debugMessages(), QStringList({"nope"}));

    QVERIFY(pty.write("1.5,20\r\n2,"));
    QTRY_VERIFY(serial->canReadLine());
    QVERIFY(QMetaObject::invokeMethod(panel.window.get(), "readSerial"));
    QVERIFY(QMetaObject::invokeMethod(panel.window.get(), "readSerial"));
    QCOMPARE(panel.capture.debugMessages(), QStringList({"nope", "\"1.5,20\\r\\n\"", "nope"}));
}

void TestMainWindow::graphWindowHandOver()
{
    PseudoTerminal pty;
    usePorts({unitOn(pty)});
    Panel panel;
    panel.sendCount(3);
    panel.window->setWindowTitle(QStringLiteral("Quellspan"));
    panel.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.window.get()));
    QVERIFY(panel.window->findChildren<Window2 *>().isEmpty());

    panel.click("plotWindowBtn");
    QVERIFY(!panel.window->isVisible());
    const auto windows = panel.window->findChildren<Window2 *>();
    QCOMPARE(windows.size(), 1);
    Window2 *graphs = windows.first();
    QCOMPARE(graphs->parent(), panel.window.get());
    QVERIFY(graphs->isWindow());
    QVERIFY(graphs->isVisible());
    QCOMPARE(panel.capture.debugMessages().last(), QStringLiteral("3")); // the count it was built with

    // Closing the graph window closes the last visible window, which ends the event loop.
    QTimer::singleShot(0, graphs, &QWidget::close);
    QTimer guard; // in case nothing ends it
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(graphs->isHidden()); // hidden, not destroyed

    // Shutting down with the port still open: the graph window goes first, closing the port,
    // and only then does the port itself go.
    QStringList order;
    QSerialPort *serial = panel.window->serialPort();
    connect(serial, &QIODevice::aboutToClose, [&order] { order << "port closed"; });
    connect(serial, &QObject::destroyed, [&order] { order << "port destroyed"; });
    connect(graphs, &QObject::destroyed, [&order] { order << "graph window destroyed"; });
    panel.window.reset();
    QCOMPARE(order, QStringList({"port closed", "graph window destroyed", "port destroyed"}));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

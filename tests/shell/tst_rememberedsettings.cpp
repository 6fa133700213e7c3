// SPDX-License-Identifier: GPL-3.0-or-later
// What the program remembers between runs: the sensor count and sensitivity texts come back in a
// new control panel without anything being sent to the unit, the save dialog opens in the folder
// of the last successful save, and a missing, damaged or unreadable settings file gives the
// starting state; one that can't be a settings file is set aside unread, and that is said. Each "start" is a
// new MainWindow; the settings live in the test's own home.

#include "data/fileentry.h"
#include "shell/rememberedsettings.h"
#include "support/acquisitionrig.h"
#include "support/modalcloser.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// A control panel on a pty unit, as the program starts.
struct Start
{
    PseudoTerminal pty;
    std::unique_ptr<MainWindow> panel;

    Start()
    {
        const QString path = pty.slavePath();
        setPortListSource(
            [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("test unit"))}; });
        panel = std::make_unique<MainWindow>();
        setPortListSource(nullptr);
    }
    QSpinBox *count() const { return panel->findChild<QSpinBox *>(QStringLiteral("sensNumSpin")); }
    QLineEdit *edit(int sensor) const
    {
        return panel->findChild<QLineEdit *>(QStringLiteral("setS%1Edit").arg(sensor));
    }
    QStringList texts() const
    {
        QStringList out;
        for (int s = 1; s <= 4; ++s)
            out << edit(s)->text();
        return out;
    }
    bool buttonsAsAtFirstStart() const
    {
        for (const QString &name : {"sensNumBtn", "setS1Btn", "setS2Btn", "setS3Btn", "setS4Btn"}) {
            if (!panel->findChild<QPushButton *>(name)->isEnabled())
                return false;
        }
        return true;
    }
};

struct DialogStart
{
    QString folder;
    QString name;
};

// Opens "Save as..." and notes where the dialog starts; then types fileName and saves, or
// cancels when fileName is empty.
DialogStart saveAs(Window2 *window, const QString &fileName)
{
    DialogStart start;
    ModalCloser closer;
    closer.setHandler([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog) {
            static_cast<QDialog *>(w)->reject();
            return;
        }
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        start = {dialog->directory().absolutePath(), nameEdit->text()};
        if (fileName.isEmpty()) {
            dialog->reject();
            return;
        }
        nameEdit->setText(fileName);
        static_cast<QDialog *>(dialog)->accept();
    });
    window->findChild<QAction *>(QStringLiteral("actionSave_as"))->trigger();
    return start;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(file.errorString()));
    file.write(bytes);
}

} // namespace

class TestRememberedSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        QApplication::setQuitOnLastWindowClosed(false);
        // Never the user's own file: the test runs with a settings folder of its own.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY2(!config.isEmpty() && RememberedSettings().fileName().startsWith(config),
                 qPrintable(RememberedSettings().fileName()));
    }
    void init()
    {
        RememberedSettings().forgetAll();
        QFile::remove(RememberedSettings().fileName());
    }

    void entriesComeBackAtTheNextStartAndNothingIsSent();
    void damagedOrUnreadableFileGivesTheStartingState_data();
    void damagedOrUnreadableFileGivesTheStartingState();
    void unusableFileIsSetAsideAndSaid_data();
    void unusableFileIsSetAsideAndSaid();
    void saveDialogOpensInTheFolderOfTheLastSuccessfulSave();
    void wallTestSetupComesBackAndNonsenseReadsAsTheDefault();
};

void TestRememberedSettings::entriesComeBackAtTheNextStartAndNothingIsSent()
{
    {
        Start first;
        QCOMPARE(first.count()->value(), 1);
        QCOMPARE(first.texts(), QStringList({"", "", "", ""}));
        // The operator's entries, with the keyboard.
        first.count()->setFocus();
        QTest::keyClick(first.count(), Qt::Key_Up);
        QTest::keyClick(first.count(), Qt::Key_Up);
        QCOMPARE(first.count()->value(), 3);
        const char *typed[] = {"12.5", "13", "9.87"};
        for (int s = 1; s <= 3; ++s)
            QTest::keyClicks(first.edit(s), QLatin1String(typed[s - 1]));
        QCOMPARE(first.pty.read(100), QByteArray()); // typing sends nothing
    }
    QVERIFY(QFile::exists(RememberedSettings().fileName()));

    {
        Start second;
        QCOMPARE(second.count()->value(), 3);
        QCOMPARE(second.texts(), QStringList({"12.5", "13", "9.87", ""}));
        // Shown, not sent: the unit hears nothing and the panel is as at a first start.
        QCOMPARE(second.pty.read(300), QByteArray());
        QCOMPARE(second.panel->sensorCount(), 0);
        QVERIFY(second.buttonsAsAtFirstStart());
        // What the operator changes now is what the next start shows.
        second.edit(2)->clear();
        QTest::keyClicks(second.edit(4), QStringLiteral("7,5"));
        second.count()->setValue(4);
        // The Set buttons send what is shown.
        for (const char *button : {"sensNumBtn", "setS1Btn"}) {
            QTest::mouseClick(second.panel->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
            second.panel->serialPort()->waitForBytesWritten(1000);
        }
        QCOMPARE(second.pty.readExactly(5, 2000), QByteArray("412.5"));
    }
    Start third;
    QCOMPARE(third.count()->value(), 4);
    QCOMPARE(third.texts(), QStringList({"12.5", "", "9.87", "7,5"}));
}

void TestRememberedSettings::damagedOrUnreadableFileGivesTheStartingState_data()
{
    QTest::addColumn<QByteArray>("contents");

    QByteArray noise;
    quint32 x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1103515245u + 12345u;
        noise += char(x >> 24);
    }
    QTest::newRow("random bytes") << noise;
    // Cut off while a section name was written: nothing of it is believed.
    QTest::newRow("cut short") << QByteArray("[controlPanel]\nsensorCount=3\n[acqui");
    QTest::newRow("not a section") << QByteArray("[controlPanel\nsensorCount=2\n\x01\x02=\xff\n");
    QTest::newRow("values out of range")
        << QByteArray("[controlPanel]\nsensorCount=9\nsensitivity1=a, b\nsensitivity2=@ByteArray(12)\n"
                      "sensitivity3=\"1\\t2\"\nsensitivity4=\"" +
                      QByteArray(300, '7') + "\"\n[acquisition]\nsaveFolder=relative/folder\n");
    QTest::newRow("count not a number") << QByteArray("[controlPanel]\nsensorCount=three\n");
    QTest::newRow("count zero") << QByteArray("[controlPanel]\nsensorCount=0\n");
    QTest::newRow("empty") << QByteArray();
}

void TestRememberedSettings::damagedOrUnreadableFileGivesTheStartingState()
{
    QFETCH(QByteArray, contents);
    const QString path = RememberedSettings().fileName();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    writeFile(path, contents);

    QTemporaryDir cwd;
    QDir::setCurrent(cwd.path());
    {
        Start start;
        QCOMPARE(start.count()->value(), 1);
        QCOMPARE(start.texts(), QStringList({"", "", "", ""}));
        QCOMPARE(start.pty.read(100), QByteArray());
        // The save dialog starts where it does without remembered folder: the current folder.
        QTest::mouseClick(start.panel->findChild<QPushButton *>(QStringLiteral("plotWindowBtn")),
                          Qt::LeftButton);
        const DialogStart dialog = saveAs(start.panel->findChild<Window2 *>(), QString());
        QCOMPARE(dialog.folder, QDir(cwd.path()).absolutePath());
        QCOMPARE(dialog.name, QStringLiteral("test.csv"));
        // The operator's new entries replace what could not be used.
        start.count()->setValue(2);
        start.edit(1)->setText(QStringLiteral("12.5"));
    }
    Start next;
    QCOMPARE(next.count()->value(), 2);
    QCOMPARE(next.edit(1)->text(), QStringLiteral("12.5"));
}

void TestRememberedSettings::unusableFileIsSetAsideAndSaid_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("200 MB file") << QStringLiteral("huge");
    QTest::newRow("FIFO") << QStringLiteral("fifo");
    QTest::newRow("link to a FIFO") << QStringLiteral("link");
    QTest::newRow("folder") << QStringLiteral("folder");
}

// Reading any of these would hold the start up (a FIFO blocks until someone writes to it; 200 MB
// take minutes to parse) or fail: it is put aside, untouched, and the start goes on as the first.
void TestRememberedSettings::unusableFileIsSetAsideAndSaid()
{
    QFETCH(QString, kind);
    const QString path = RememberedSettings().fileName();
    const QDir folder = QFileInfo(path).absoluteDir();
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    const QString asideNames = QFileInfo(path).fileName() + QStringLiteral(".set-aside-*");
    QTemporaryDir elsewhere;
    const QString fifo = kind == QStringLiteral("link") ? elsewhere.filePath(QStringLiteral("fifo")) : path;
    if (kind == QStringLiteral("huge")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[controlPanel]\nsensorCount=3\n");
        QVERIFY(file.resize(200LL * 1000 * 1000)); // sparse: quick to make
    } else if (kind == QStringLiteral("folder")) {
        QVERIFY(folder.mkpath(path));
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        if (fifo != path)
            QVERIFY(QFile::link(fifo, path));
    }
    const QFileInfo before(path);
    const bool wasLink = before.isSymLink(), wasFolder = before.isDir();
    const qint64 size = before.size();

    Start start;
    QCOMPARE(start.count()->value(), 1);
    QCOMPARE(start.texts(), QStringList({"", "", "", ""}));
    const QString report = start.panel->statusBar()->currentMessage();
    const QStringList aside =
        folder.entryList({asideNames}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QCOMPARE(aside.size(), 1);
    const QString asidePath = folder.filePath(aside.first());
    QVERIFY2(report.startsWith(QStringLiteral("The settings file %1 was not read").arg(path)) &&
                 report.contains(QStringLiteral("it is kept as %1").arg(asidePath)),
             qPrintable(report));
    // Set aside as it was, not changed: the same kind of entry, the same size.
    const QFileInfo after(asidePath);
    QCOMPARE(after.isSymLink(), wasLink);
    QCOMPARE(after.isDir(), wasFolder);
    QCOMPARE(after.size(), size);
    QVERIFY(entryAt(path) == EntryKind::None || QFileInfo(path).isFile());

    start.count()->setValue(3);
    start.panel.reset();
    Start next;
    QCOMPARE(next.count()->value(), 3);
    QVERIFY(!next.panel->statusBar()->currentMessage().startsWith(QStringLiteral("The settings file")));
    if (after.isDir())
        QVERIFY(QDir(asidePath).removeRecursively());
    else
        QVERIFY(QFile::remove(asidePath));
}

void TestRememberedSettings::saveDialogOpensInTheFolderOfTheLastSuccessfulSave()
{
    QTemporaryDir cwd;
    QTemporaryDir chosen;
    QDir::setCurrent(cwd.path());
    const QString cwdPath = QDir(cwd.path()).absolutePath();
    const QString chosenPath = QDir(chosen.path()).absolutePath();
    {
        AcquisitionRig rig(1);
        rig.start();
        rig.send("1,2\n");
        QTRY_COMPARE(rig.records(), 1);

        // First save: the current folder; then the chosen one.
        DialogStart dialog = saveAs(rig.window, QDir(chosenPath).filePath(QStringLiteral("run1.csv")));
        QCOMPARE(dialog.folder, cwdPath);
        QCOMPARE(dialog.name, QStringLiteral("test.csv"));
        QVERIFY(QFile::exists(QDir(chosenPath).filePath(QStringLiteral("run1.csv"))));

        dialog = saveAs(rig.window, QString()); // cancelled: remembered folder unchanged
        QCOMPARE(dialog.folder, chosenPath);
        QCOMPARE(dialog.name, QStringLiteral("test.csv"));

        // A save that fails does not move the dialog to its folder.
        dialog = saveAs(rig.window, QDir(chosenPath).filePath(QStringLiteral("missing/run2.csv")));
        QCOMPARE(dialog.folder, chosenPath);
        dialog = saveAs(rig.window, QString());
        QCOMPARE(dialog.folder, chosenPath);
    }
    // The next start.
    AcquisitionRig rig(1);
    DialogStart dialog = saveAs(rig.window, QString());
    QCOMPARE(dialog.folder, chosenPath);
    QCOMPARE(dialog.name, QStringLiteral("test.csv"));
    // A remembered folder that has gone: the current folder again.
    QVERIFY(chosen.remove());
    dialog = saveAs(rig.window, QString());
    QCOMPARE(dialog.folder, cwdPath);
    QCOMPARE(dialog.name, QStringLiteral("test.csv"));
}

void TestRememberedSettings::wallTestSetupComesBackAndNonsenseReadsAsTheDefault()
{
    WallTestSetup chosen;
    chosen.heatFluxSensor = 2;
    chosen.warmSensor = 3;
    chosen.coldSensor = 4;
    chosen.settings.heavy = true;
    chosen.settings.rsi = 0.1; // no exact binary fraction: it must read back as the same double
    chosen.settings.rse = 1.0 / 3;
    chosen.settings.capacity = 123.456789;
    chosen.settings.step = 1.5 * 3600;
    chosen.corrections[1] = {0.17, 23.5};
    chosen.corrections[3] = {-4.999, -10};
    chosen.element = QStringLiteral("Wall \u00e4, 36.5 cm");
    chosen.place = QStringLiteral("Lab; north side");
    RememberedSettings().setWallTestSetup(chosen);
    QVERIFY(RememberedSettings().wallTestSetup() == chosen);
    chosen.settings.capacity.reset();
    RememberedSettings().setWallTestSetup(chosen);
    QVERIFY(RememberedSettings().wallTestSetup() == chosen);

    // Each value that makes no sense gives its default; the one that does is kept.
    writeFile(RememberedSettings().fileName(),
              "[wallTest]\nheatFluxSensor=7\nwarmSensor=2.5\ncoldSensor=3\nheavy=maybe\n"
              "insideSurfaceResistance=-1\noutsideSurfaceResistance=nan\narealHeatCapacity=-5\n"
              "dynamicStepHours=100\ntemperatureCoefficient1=7\ntemperatureCoefficient2=x\n"
              "temperatureCoefficient3=0.3\ncalibrationTemperature3=20\nelement=@ByteArray(x)\n");
    WallTestSetup expected;
    expected.coldSensor = 3;
    expected.corrections[2] = {0.3, 20};
    QVERIFY(RememberedSettings().wallTestSetup() == expected);
    writeFile(RememberedSettings().fileName(),
              "[wallTest]\nheatFluxSensor=@ByteArray(2)\narealHeatCapacity=1e999\n");
    QVERIFY(RememberedSettings().wallTestSetup() == WallTestSetup());
}

QTEST_MAIN(TestRememberedSettings)
#include "tst_rememberedsettings.moc"

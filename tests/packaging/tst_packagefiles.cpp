// SPDX-License-Identifier: GPL-3.0-or-later
// What an installation holds (cmake --install into a temporary folder): the two programs, the
// desktop entry, the metadata, the icon theme's pictures, the udev rule, the manual pages and the
// package documents, and nothing else. The icons are the window icon's pictures; the installed
// quellspan answers --version and --help, also without a display, and carries no part of the
// simulated unit. Where desktop-file-validate and appstreamcli are installed, they check the
// desktop entry and the metadata.

#include "support/programrun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString AppId = QStringLiteral("org.quellspan.quellspan");
const int ThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

} // namespace

class TestPackageFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsTheExpectedFiles();
    void themeIconsAreTheWindowIcon();
    void versionAndHelp();
    void validatorsAcceptDesktopEntryAndMetadata();
    void shippedProgramHoldsNoSimulatedUnit();

private:
    QTemporaryDir root;
    QString prefix;
};

void TestPackageFiles::initTestCase()
{
    QVERIFY(root.isValid());
    // As a package installs it: everything under /usr, here under a staging folder.
    const ProgramRun install = runProgram(QStringLiteral(CMAKE_COMMAND),
                                          {QStringLiteral("--install"), QStringLiteral(BUILD_DIR),
                                           QStringLiteral("--prefix"), root.filePath(QStringLiteral("usr"))});
    QVERIFY2(install.exitCode == 0, qPrintable(install.said()));
    prefix = root.filePath(QStringLiteral("usr"));
}

void TestPackageFiles::installsTheExpectedFiles()
{
    QStringList expected = {
        "bin/quellspan",
        "bin/quellspan-demo",
        "lib/udev/rules.d/70-quellspan.rules",
        "lib/systemd/user/quellspan-mirror.service",
        "share/applications/" + AppId + ".desktop",
        "share/metainfo/" + AppId + ".metainfo.xml",
        "share/man/man1/quellspan.1.gz",
        "share/man/man1/quellspan-demo.1.gz",
        "share/doc/quellspan/copyright",
        "share/doc/quellspan/changelog.gz",
    };
    for (int size : ThemeSizes)
        expected << QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppId);
    QStringList installed;
    QDirIterator it(prefix, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        installed << QDir(prefix).relativeFilePath(it.next());
    expected.sort();
    installed.sort();
    qInfo("installed under %s:\n  %s", qPrintable(prefix),
          qPrintable(installed.join(QStringLiteral("\n  "))));
    QCOMPARE(installed, expected);

    for (const char *program : {"bin/quellspan", "bin/quellspan-demo"})
        QVERIFY(QFileInfo(QDir(prefix).filePath(QLatin1String(program))).isExecutable());

    // The udev rule: the unit's tty, for the user at the seat, before the seat rules apply the tag.
    QFile rule(QDir(prefix).filePath(QStringLiteral("lib/udev/rules.d/70-quellspan.rules")));
    QVERIFY(rule.open(QIODevice::ReadOnly));
    QStringList rules;
    for (const QByteArray &line : rule.readAll().split('\n')) {
        if (!line.trimmed().isEmpty() && !line.startsWith('#'))
            rules << QString::fromUtf8(line);
    }
    QCOMPARE(rules.size(), 1);
    for (const char *part : {"SUBSYSTEM==\"tty\"", "ATTRS{idVendor}==\"2341\"", "ATTRS{idProduct}==\"0058\"",
                             "TAG+=\"uaccess\""})
        QVERIFY2(rules.first().contains(QLatin1String(part)), part);
    QVERIFY(QStringLiteral("70-quellspan.rules") < QStringLiteral("73-seat-late.rules"));

    // The mirror's user unit: the installed program, run with the options the unit gives it, with
    // the variables as a user's mirror.conf sets them; a polite stop counts as success.
    QFile unit(QDir(prefix).filePath(QStringLiteral("lib/systemd/user/quellspan-mirror.service")));
    QVERIFY(unit.open(QIODevice::ReadOnly));
    QString execStart;
    QStringList success;
    for (const QByteArray &line : unit.readAll().split('\n')) {
        if (line.startsWith("ExecStart="))
            execStart = QString::fromUtf8(line.mid(10));
        if (line.startsWith("SuccessExitStatus="))
            success = QString::fromUtf8(line.mid(18)).split(QLatin1Char(' '));
    }
    QVERIFY(success.contains(QStringLiteral("143")));
    QStringList words = execStart.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY2(words.size() >= 5 && words.takeFirst() == QLatin1String("/usr/bin/quellspan"),
             qPrintable(execStart));
    QTemporaryDir folder;
    QStringList arguments;
    for (const QString &word : words) {
        if (word == QLatin1String("${QUELLSPAN_MIRROR_URL}"))
            arguments << QStringLiteral("mqtt://broker.invalid/lab/#");
        else if (word == QLatin1String("${QUELLSPAN_MIRROR_DIR}"))
            arguments << folder.path();
        else if (word != QLatin1String("$QUELLSPAN_MIRROR_OPTIONS"))
            arguments << word;
    }
    QCOMPARE(arguments.mid(0, 1), QStringList{QStringLiteral("--mirror")});
    // A URL that names no rig: refused at once, with the status the unit does not retry.
    const ProgramRun mirror = runProgram(QDir(prefix).filePath(QStringLiteral("bin/quellspan")), arguments,
                                         environmentWithoutDisplay());
    QCOMPARE(mirror.exitCode, 2);
    QVERIFY2(mirror.err.contains("wildcard"), mirror.err.constData());
}

void TestPackageFiles::themeIconsAreTheWindowIcon()
{
    // The window icon, every picture it holds, by size. Compared as drawn (premultiplied): the
    // colour bits of a fully transparent pixel do not matter.
    QImageReader ico(QStringLiteral(SOURCE_DIR "/resources/Images/Tarvi_Symbol.ico"));
    QMap<int, QImage> windowIcon;
    for (int i = 0; i < ico.imageCount(); ++i) {
        QVERIFY(ico.jumpToImage(i));
        const QImage image = ico.read();
        QVERIFY2(!image.isNull(), qPrintable(ico.errorString()));
        windowIcon.insert(image.width(), image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    QCOMPARE(windowIcon.keys(), QList<int>({16, 32, 48, 64, 128, 256}));

    for (int size : ThemeSizes) {
        const QString path = QDir(prefix).filePath(
            QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppId));
        const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY2(image.hasAlphaChannel() && image.pixelColor(0, 0).alpha() == 0, "no transparent corner");
        if (windowIcon.contains(size))
            QVERIFY2(image == windowIcon.value(size),
                     qPrintable(QStringLiteral("%1 differs from the window icon").arg(path)));
    }
}

void TestPackageFiles::versionAndHelp()
{
    const QString program = QDir(prefix).filePath(QStringLiteral("bin/quellspan"));
    // Also on a terminal without a display.
    for (const QProcessEnvironment &environment :
         {QProcessEnvironment::systemEnvironment(), environmentWithoutDisplay()}) {
        const ProgramRun version = runProgram(program, {QStringLiteral("--version")}, environment);
        QVERIFY2(version.exitCode == 0, qPrintable(version.said()));
        QCOMPARE(version.out, QByteArray("quellspan " PROJECT_VERSION "\n"));

        const ProgramRun help = runProgram(program, {QStringLiteral("--help")}, environment);
        QVERIFY2(help.exitCode == 0, qPrintable(help.said()));
        QVERIFY2(help.out.startsWith("Usage: "), help.out.constData());
        for (const char *option : {"--help", "--version", "--recordings", "--wall-test"})
            QVERIFY2(help.out.contains(option), help.out.constData());
    }
    const ProgramRun unknown = runProgram(program, {QStringLiteral("--no-such-option")});
    QVERIFY2(unknown.exitCode != 0, qPrintable(unknown.said()));
    QVERIFY2(unknown.err.contains("no-such-option"), unknown.err.constData());
}

void TestPackageFiles::validatorsAcceptDesktopEntryAndMetadata()
{
    const QString desktopValidator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (desktopValidator.isEmpty() || appstream.isEmpty())
        QSKIP("desktop-file-validate or appstreamcli is not installed (packages desktop-file-utils, "
              "appstream)");
    const ProgramRun desktop =
        runProgram(desktopValidator, {QDir(prefix).filePath("share/applications/" + AppId + ".desktop")});
    QVERIFY2(desktop.exitCode == 0 && desktop.out.isEmpty(), qPrintable(desktop.said()));
    const ProgramRun metadata =
        runProgram(appstream, {QStringLiteral("validate"), QStringLiteral("--no-net"),
                               QDir(prefix).filePath("share/metainfo/" + AppId + ".metainfo.xml")});
    QVERIFY2(metadata.exitCode == 0, qPrintable(metadata.said()));
    QVERIFY2(!metadata.out.contains("W:") && !metadata.out.contains("E:"), metadata.out.constData());
}

void TestPackageFiles::shippedProgramHoldsNoSimulatedUnit()
{
    const ProgramRun symbols =
        runProgram(QStringLiteral("nm"), {QStringLiteral("-C"), QStringLiteral(QUELLSPAN_BINARY)});
    QVERIFY2(symbols.exitCode == 0, qPrintable(symbols.said()));
    QVERIFY(symbols.out.contains("MainWindow::")); // the symbols are there to be looked at
    for (const char *name : {"SimulatedUnit", "Autopilot", "UnitStream", "PseudoTerminal"})
        QVERIFY2(!symbols.out.contains(name), name);
}

QTEST_GUILESS_MAIN(TestPackageFiles)
#include "tst_packagefiles.moc"

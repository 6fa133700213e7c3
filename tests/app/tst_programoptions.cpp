// SPDX-License-Identifier: GPL-3.0-or-later
// Both programs read their options before they need a display: on a terminal without one, help
// and version answer with exit code 0, and a mistake ends with Qt's parser's message and 2. The
// options Qt reads itself (-platform, -style) still pass.

#include "support/programrun.h"

#include <QtTest>

class TestProgramOptions : public QObject
{
    Q_OBJECT

private slots:
    void answersWithoutADisplay_data();
    void answersWithoutADisplay();
    void displayOutOfReach();
    void helpListsEveryOptionAsTyped();
};

void TestProgramOptions::answersWithoutADisplay_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err"); // the whole of it

    const QString quellspan = QStringLiteral(QUELLSPAN_BINARY);
    const QString demo = QStringLiteral(QUELLSPAN_DEMO);
    const QByteArray version = QByteArrayLiteral(PROJECT_VERSION);
    QTest::newRow("quellspan --version")
        << quellspan << QStringList{"--version"} << 0 << "quellspan " + version + "\n"
        << QByteArray();
    QTest::newRow("quellspan-demo --version")
        << demo << QStringList{"--version"} << 0 << "quellspan-demo " + version + "\n"
        << QByteArray();
    QTest::newRow("Qt's own options pass")
        << quellspan << QStringList{"-platform", "xcb", "-style=fusion", "-v"} << 0
        << "quellspan " + version + "\n"
        << QByteArray();
    QTest::newRow("quellspan --bogus") << quellspan << QStringList{"--bogus"} << 2 << QByteArray()
                                       << QByteArray("quellspan: Unknown option 'bogus'.\n");
    QTest::newRow("quellspan-demo --bogus")
        << demo << QStringList{"--bogus", "--version"} << 2 << QByteArray()
        << QByteArray("quellspan-demo: Unknown option 'bogus'.\n");
    QTest::newRow("missing value") << quellspan << QStringList{"--recordings"} << 2 << QByteArray()
                                   << QByteArray("quellspan: Missing value after '--recordings'.\n");
    QTest::newRow("an argument") << demo << QStringList{"run.csv"} << 2 << QByteArray()
                                 << QByteArray("quellspan-demo: unexpected argument run.csv\n");
    QTest::newRow("quellspan without a display")
        << quellspan << QStringList() << 2 << QByteArray()
        << QByteArray(
               "quellspan: no display to show its windows on (DISPLAY is not set). It needs one; without "
               "one it runs --summary FILE, --wall-test FILE, --mirror URL --to DIR, --help and "
               "--version.\n");
    QTest::newRow("quellspan-demo without a display")
        << demo << QStringList{"--port", "/nonexistent"} << 2 << QByteArray()
        << QByteArray("quellspan-demo: no display to show its windows on (DISPLAY is not set). It needs one; "
                      "without one it runs --autopilot DIR (drawn off screen), --help and --version.\n");
    QTest::newRow("two commands") << quellspan << QStringList{"--summary", "a.csv", "--wall-test", "b.csv"}
                                  << 2 << QByteArray()
                                  << QByteArray(
                                         "quellspan: --summary and --wall-test don't combine: run one, "
                                         "then the other\n");
    QTest::newRow("an option of a command without it")
        << quellspan << QStringList{"--from", "5"} << 2 << QByteArray()
        << QByteArray("quellspan: --from goes with --summary\n");
    // --to ends --summary's stretch or names --mirror's folder; --td corrects for either command.
    QTest::newRow("--to without its commands")
        << quellspan << QStringList{"--to", "5"} << 2 << QByteArray()
        << QByteArray("quellspan: --to goes with --summary or --mirror\n");
    QTest::newRow("--td without its commands")
        << quellspan << QStringList{"--td", "1:0.2:25"} << 2 << QByteArray()
        << QByteArray("quellspan: --td goes with --wall-test or --summary\n");
    QTest::newRow("the mirror and the statistics")
        << quellspan << QStringList{"--mirror", "mqtt://localhost/lab", "--summary", "a.csv"} << 2
        << QByteArray()
        << QByteArray("quellspan: --mirror and --summary don't combine: run one, then the other\n");
    QTest::newRow("a wall-test option without it")
        << quellspan << QStringList{"--q", "1"} << 2 << QByteArray()
        << QByteArray("quellspan: --q goes with --wall-test\n");
    QTest::newRow("a value out of range")
        << demo << QStringList{"--autopilot", "out", "--sensors", "9"} << 2 << QByteArray()
        << QByteArray("quellspan-demo: --sensors takes a number from 1 to 4\n");
}

void TestProgramOptions::answersWithoutADisplay()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const ProgramRun result = runProgram(program, arguments, environmentWithoutDisplay(), 20000);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    QCOMPARE(result.err, err);
}

void TestProgramOptions::displayOutOfReach()
{
    // A display named that no X server answers (a stale DISPLAY over ssh): said, not an abort.
    QProcessEnvironment environment = environmentWithoutDisplay();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4711"));
    const ProgramRun r = runProgram(QStringLiteral(QUELLSPAN_BINARY), {}, environment, 20000);
    QVERIFY2(r.exitCode == 2, qPrintable(r.said()));
    QVERIFY2(r.errText().startsWith(
                 "quellspan: cannot reach the display :4711 to show its windows on. It needs one;"),
             qPrintable(r.said()));
}

void TestProgramOptions::helpListsEveryOptionAsTyped()
{
    // As the README spells them, under the heading of what they go with, each with its text.
    const ProgramRun r =
        runProgram(QStringLiteral(QUELLSPAN_BINARY), {"--help"}, environmentWithoutDisplay(), 20000);
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outText().split('\n');
    auto section = [&](const QString &heading) {
        const int at = lines.indexOf(heading);
        QStringList options;
        for (int i = at + 1; at >= 0 && i < lines.size() && !lines[i].isEmpty(); ++i) {
            if (lines[i].startsWith("  -"))
                options << lines[i].trimmed().section(QRegularExpression("\\s{2,}"), 0, 0);
        }
        return options;
    };
    QCOMPARE(section("Options:"), QStringList({"-h, --help", "-v, --version", "--recordings <dir>"}));
    QCOMPARE(section("Publishing a run:"), QStringList({"--publish <url>", "--publish-ca <file>"}));
    QCOMPARE(section("Watching or mirroring a rig:"),
             QStringList({"--mirror <url>", "--password-file <file>", "--ca <file>"}));
    QCOMPARE(section("Statistics for scripts (no display needed):"),
             QStringList({"--summary <file>", "--from <S>", "--to <S|DIR>"}));
    QCOMPARE(section("Wall test for scripts (no display needed):"),
             QStringList({"--wall-test <file>", "--q <S>", "--warm <S>", "--cold <S>", "--heavy",
                          "--capacity <C>", "--method <name>", "--step-h <H>", "--td <S:TD:TCAL>",
                          "--report <file>", "--element <text>", "--place <text>"}));
    QVERIFY(lines.contains("Arguments:"));
    for (const QString &line : lines)
        QVERIFY2(line.size() <= 80, qPrintable(line));
    QVERIFY(!r.outText().contains("-platform"));
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"

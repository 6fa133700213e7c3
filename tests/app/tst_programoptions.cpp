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

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"

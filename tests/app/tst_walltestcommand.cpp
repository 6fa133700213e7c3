// SPDX-License-Identifier: GPL-3.0-or-later
// quellspan --wall-test, run as scripts run it: the built program as a child process with no
// display, on recordings written to a temporary folder. Its lines, the sensors it reads, what it
// says on the error stream, and exit status 2 with a message for every kind of bad input.

#include "analysis/walltest.h"
#include "analysis/walltestreport.h"
#include "data/csvnumber.h"
#include "support/programrun.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <iterator>

namespace {

class TestWallTestCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = folder.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("could not write %s", qPrintable(path));
        return path;
    }

    // Runs the program as a script would, where there is no display to open.
    static ProgramRun run(const QStringList &arguments)
    {
        return runProgram(QStringLiteral(QUELLSPAN_PROGRAM), arguments);
    }

    // Three sensors, a record every 5 s: sensor 1 on the cold side, its plate the wrong way
    // round; sensor 2 on the warm side; sensor 3 in the room.
    QString steadyWall(double hours)
    {
        QByteArray csv;
        for (int t = 0; t <= hours * 3600; t += 5)
            csv += QByteArray::number(t) + ",-8,0,8,20,0,5\n";
        return write(QStringLiteral("steady-%1.csv").arg(hours), csv);
    }

private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }
    void printsTheReport_data();
    void printsTheReport();
    void agreesWithTheAnalysisOfTheSameRecords();
    void badInputEndsWithStatusTwo_data();
    void badInputEndsWithStatusTwo();
};

void TestWallTestCommand::printsTheReport_data()
{
    QTest::addColumn<double>("hours");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("said");

    // 20 K across and 8 W/m^2 through: R = 2.5, U = 1 / (0.13 + 2.5 + 0.04).
    const QByteArray r = "R\t2.5\nU\t0.37453183520599254\n";
    QTest::newRow("four days, capacity given")
        << 96.0 << QStringList{"--q", "2", "--warm", "2", "--cold", "1", "--capacity", "50"}
        << r + "hours\t96\nA\tpass\nB\tpass\nC\tpass\nD\tpass\nmay_stop_since_h\t72\n"
        << QByteArray();
    // Heavy: judged at 72 h, the last whole day, so all hold from there.
    QTest::newRow("heavy, 84 hours")
        << 84.0 << QStringList{"--heavy", "--cold=1", "--warm=2", "--q=2"}
        << r + "hours\t84\nA\tpass\nB\tpass\nC\tpass\nD\tnot-assessed\nmay_stop_since_h\t72\n"
        << QByteArray();
    // Heavy, not a whole day yet: no R, and why on the error output.
    QTest::newRow("heavy, 20 hours")
        << 20.0 << QStringList{"--heavy", "--cold=1", "--warm=2", "--q=2"}
        << QByteArray("R\t\nU\t\nhours\t20\nA\tfail\nB\tfail\nC\tfail\nD\tnot-assessed\nmay_stop_since_h\t\n")
        << QByteArray("a heavy element is judged at whole days, the first at 24 h");
    // Sensor 1's plate reads the flux negative: no R, and why.
    QTest::newRow("heat the other way")
        << 30.0 << QStringList{"--q", "1", "--warm", "2", "--cold", "1"}
        << QByteArray("R\t\nU\t\nhours\t30\nA\tfail\nB\tfail\nC\tfail\nD\tnot-assessed\nmay_stop_since_h\t\n")
        << QByteArray("Heat flows the other way: the heat flux sums to -1.728e+05 W/m^2 over 21601 records");
}

void TestWallTestCommand::printsTheReport()
{
    QFETCH(double, hours);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, said);
    const ProgramRun result = run(QStringList{"--wall-test", steadyWall(hours)} + options);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, lines);
    if (said.isEmpty())
        QCOMPARE(result.err, QByteArray());
    else
        QVERIFY2(result.err.contains(said), result.err.constData());
}

void TestWallTestCommand::agreesWithTheAnalysisOfTheSameRecords()
{
    // Four days of a wall under a daily swing, one sample not finite, two sensors; written as
    // the program writes recordings, and handed to a WallTest one by one as well.
    WallTestSettings settings;
    settings.capacity = 12.5;
    WallTest test(settings);
    QByteArray csv;
    for (double t = 0; t <= 4 * 86400; t += 7.5) {
        const double day = std::sin(2 * M_PI * t / 86400);
        const double q = t == 3000 ? NAN : 9 + 2 * day;
        const double values[] = {t, q, 20 + 0.3 * day, 1.5, -3 + 4 * std::sin(2 * M_PI * t / 86400 - 1)};
        for (size_t k = 0; k < std::size(values); ++k)
            csv += formatCsvNumber(values[k]) + (k + 1 < std::size(values) ? "," : "\n");
        test.append(t, values[1], values[2], values[4]);
    }
    QVERIFY(test.state().r && test.state().criteria[3].verdict != Verdict::NotAssessed);
    const ProgramRun result = run({"--wall-test", write("swing.csv", csv), "--q", "1", "--warm", "1",
                                   "--cold", "2", "--capacity", "12.5"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(result.out, wallTestReport(test.state()));
    qInfo("%s", QByteArray(result.out).replace('\n', ' ').constData());
    QVERIFY2(result.err.contains("1 samples have a value that is not finite"), result.err.constData());
}

void TestWallTestCommand::badInputEndsWithStatusTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("said");

    const QString file = steadyWall(1);
    const QStringList sensors{"--q", "2", "--warm", "2", "--cold", "1"};
    QTest::newRow("no such file") << QStringList{"--wall-test", folder.filePath("none.csv")} + sensors
                                  << QByteArray("none.csv: The file could not be opened: No such file");
    QTest::newRow("a folder") << QStringList{"--wall-test", folder.path()} + sensors
                              << QByteArray("The file could not be opened");
    QTest::newRow("empty file") << QStringList{"--wall-test", write("empty.csv", "")} + sensors
                                << QByteArray("The file is empty.");
    QTest::newRow("not text") << QStringList{"--wall-test",
                                             write("binary.csv", QByteArray("\x00\x01\x02", 3))} +
                                     sensors
                              << QByteArray("not a text file");
    QTest::newRow("no file name") << QStringList{"--wall-test"}
                                  << QByteArray("Missing value after '--wall-test'.");
    QTest::newRow("sensor 5") << QStringList{"--wall-test", file, "--q", "5", "--warm", "2", "--cold", "1"}
                              << QByteArray("--q must be a sensor number from 1 to 4, not \"5\"");
    QTest::newRow("sensor not a number")
        << QStringList{"--wall-test", file, "--q", "2", "--warm", "two", "--cold", "1"}
        << QByteArray("--warm must be a sensor number from 1 to 4, not \"two\"");
    QTest::newRow("sensor missing") << QStringList{"--wall-test", file, "--q", "2", "--warm", "2"}
                                    << QByteArray("--cold is needed");
    QTest::newRow("sensor not in the file")
        << QStringList{"--wall-test", write("two.csv", "0,8,20,1,0\n5,8,20,1,0\n"),
                       "--q",         "1",
                       "--warm",      "1",
                       "--cold",      "3"}
        << QByteArray("two.csv holds 2 sensor(s): there is no sensor 3.");
    for (const char *capacity : {"-1", "abc", "inf"}) {
        QTest::addRow("capacity %s", capacity)
            << QStringList{"--wall-test", file, "--capacity", capacity} + sensors
            << QByteArray("--capacity must be the areal heat capacity");
    }
    QTest::newRow("capacity without value")
        << QStringList{"--wall-test", file} + sensors + QStringList{"--capacity"}
        << QByteArray("Missing value after '--capacity'.");
    QTest::newRow("without --wall-test") << sensors << QByteArray("--q goes with --wall-test");
    QTest::newRow("unknown option") << QStringList{"--wall-test", file, "--quick"} + sensors
                                    << QByteArray("Unknown option 'quick'.");
}

void TestWallTestCommand::badInputEndsWithStatusTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, said);
    const ProgramRun result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.startsWith("quellspan: ") && result.err.contains(said), result.err.constData());
}

} // namespace

QTEST_GUILESS_MAIN(TestWallTestCommand)
#include "tst_walltestcommand.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// quellspan --wall-test, run as scripts run it: the built program as a child process with no
// display, on recordings written to a temporary folder. Its lines, the sensors it reads, what it
// says on the error stream, and exit status 2 with a message for every kind of bad input.

#include "analysis/walltest.h"
#include "analysis/walltestreport.h"
#include "data/csvnumber.h"
#include "support/programrun.h"
#include "support/wallweather.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <iterator>

namespace {

// The value of the line "name<TAB>value" a run printed, or NaN.
double lineValue(const ProgramRun &run, const QByteArray &name)
{
    for (const QByteArray &line : run.out.split('\n')) {
        if (line.startsWith(name + '\t')) {
            bool ok = false;
            const double v = line.mid(name.size() + 1).toDouble(&ok);
            return ok ? v : NAN;
        }
    }
    return NAN;
}

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

    // The simulated masonry wall through the cold front, days 1 to 4, a record a minute: sensor
    // 1 on the warm side, sensor 2 on the cold side (its plate reads the flux the other way).
    QString wallThroughAFront(double *trueR)
    {
        QByteArray csv;
        *trueR = wallweather::run(4, 60, [&](double t, double q, double tsi, double tse) {
            if (t < wallweather::Day)
                return;
            for (double v : {t - wallweather::Day, q, tsi, -q})
                csv += formatCsvNumber(v) + ',';
            csv += formatCsvNumber(tse) + '\n';
        });
        return write(QStringLiteral("front.csv"), csv);
    }

private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }
    void dynamicMethodAndCorrection();
    void writesTheReport();
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

void TestWallTestCommand::dynamicMethodAndCorrection()
{
    const QStringList sensors{"--q", "2", "--warm", "2", "--cold", "1"};
    // Steady for 30 h: the dynamic method is the steady model, R as the average method's.
    ProgramRun steady = run(QStringList{"--wall-test", steadyWall(30), "--method", "dynamic"} + sensors);
    QVERIFY2(steady.exitCode == 0, steady.err.constData());
    const QByteArray names[] = {"R", "U", "R_low", "R_high", "hours", "m", "r", "tau1_h"};
    QCOMPARE(steady.out.count('\n'), 8);
    for (int i = 0; i < 8; ++i)
        QVERIFY(steady.out.split('\n')[i].startsWith(names[i] + '\t'));
    QVERIFY(std::fabs(lineValue(steady, "R") - 2.5) < 1e-12 &&
            std::fabs(lineValue(steady, "R_low") - 2.5) < 1e-12);
    QCOMPARE(lineValue(steady, "hours"), 30.0);
    QCOMPARE(lineValue(steady, "m"), 0.0);
    QVERIFY(steady.out.contains("\nr\t\ntau1_h\t\n"));
    // Intervals of 2 h; the last record (at 30 h) opens an interval of its own, left out.
    QCOMPARE(
        lineValue(
            run(QStringList{"--wall-test", steadyWall(30), "--method", "dynamic", "--step-h", "2"} + sensors),
            "hours"),
        30.0);

    // Sensor 2 calibrated at 25 degC, +0.2 %/K, its plate at 20 degC: the sensitivity there is
    // 0.99 of the one sent, so 8 W/m^2 read were 8 / 0.99, and R = 20 * 0.99 / 8, by both methods.
    for (const char *method : {"average", "dynamic"}) {
        const ProgramRun corrected = run(QStringList{"--wall-test", steadyWall(30), "--method", method,
                                                     "--td", "1:-4:0", "--td", "2:0.2:25"} +
                                         sensors);
        QVERIFY2(corrected.exitCode == 0, corrected.err.constData());
        QVERIFY2(std::fabs(lineValue(corrected, "R") - 2.475) < 1e-12, corrected.out.constData());
    }

    // Through a change of weather, three days: the dynamic method within 2 % of the wall's R,
    // the average method not.
    double trueR = 0;
    const QString front = wallThroughAFront(&trueR);
    const QStringList wall{"--wall-test", front, "--q", "1", "--warm", "1", "--cold", "2"};
    const ProgramRun average = run(wall);
    const ProgramRun dynamic = run(wall + QStringList{"--method", "dynamic"});
    QVERIFY2(dynamic.exitCode == 0 && dynamic.err.isEmpty(), dynamic.err.constData());
    qInfo("true R %.4f, average %.4f, dynamic %.4f [%.4f, %.4f] (m %g, r %g, tau1 %g h)", trueR,
          lineValue(average, "R"), lineValue(dynamic, "R"), lineValue(dynamic, "R_low"),
          lineValue(dynamic, "R_high"), lineValue(dynamic, "m"), lineValue(dynamic, "r"),
          lineValue(dynamic, "tau1_h"));
    QVERIFY(std::fabs(lineValue(dynamic, "R") / trueR - 1) < 0.02);
    QVERIFY(std::fabs(lineValue(average, "R") / trueR - 1) > 0.05);
    QVERIFY(lineValue(dynamic, "R_low") <= lineValue(dynamic, "R") &&
            lineValue(dynamic, "R") <= lineValue(dynamic, "R_high"));
    QCOMPARE(lineValue(dynamic, "hours"), 72.0);

    // Too short for the dynamic method: its lines empty but hours, and why, with status 0.
    const ProgramRun short_ = run(QStringList{"--wall-test", steadyWall(1), "--method", "dynamic"} + sensors);
    QCOMPARE(short_.exitCode, 0);
    QCOMPARE(short_.out, QByteArray("R\t\nU\t\nR_low\t\nR_high\t\nhours\t1\nm\t\nr\t\ntau1_h\t\n"));
    QVERIFY2(short_.err.contains("Too few intervals for the dynamic method"), short_.err.constData());
}

void TestWallTestCommand::writesTheReport()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QFAIL("pdftotext is needed (Debian poppler-utils, scripts/install-deps.sh installs it)");
    double trueR = 0;
    const QString front = wallThroughAFront(&trueR);
    // A description beside the recording, as the live recording writes it.
    write(QStringLiteral("front.txt"),
          "Quellspan live recording\nStarted: 2026-11-30T08:00:00.000+01:00\nSensors: 2\n"
          "Sensitivity of sensor 1 (uV/(W/m2)): 12.5\nEvent: 0 start:\nEvent: 172800 mark: front passed\n");
    const QString pdf = folder.filePath(QStringLiteral("report.pdf"));
    const QStringList wall{"--wall-test", front, "--q", "1", "--warm", "1", "--cold", "2"};
    const ProgramRun result =
        run(wall + QStringList{"--report", pdf, "--element", "Outer wall <north> & annex", "--place", "Lab 2",
                               "--td", "1:0.25:23", "--capacity", "540"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(result.out, run(wall + QStringList{"--td", "1:0.25:23", "--capacity", "540"}).out);
    const ProgramRun dynamic =
        run(wall + QStringList{"--td", "1:0.25:23", "--capacity", "540", "--method", "dynamic"});
    QProcess text;
    text.start(pdftotext, {"-layout", pdf, "-"});
    QVERIFY(text.waitForFinished(30000));
    const QString said = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    auto figure = [](double v) { return QString::number(v, 'g', 4); };
    for (const QString &expected :
         {QStringLiteral("Outer wall <north> & annex"), QStringLiteral("Lab 2"),
          QStringLiteral("Average %1").arg(figure(lineValue(result, "R"))),
          QStringLiteral("Dynamic %1 %2 to %3")
              .arg(figure(lineValue(dynamic, "R")), figure(lineValue(dynamic, "R_low")),
                   figure(lineValue(dynamic, "R_high"))),
          QStringLiteral("m = %1").arg(lineValue(dynamic, "m")),
          QStringLiteral("sensor 2, on the cold surface"), QStringLiteral("12.5 \u00b5V/(W/m\u00b2)"),
          QStringLiteral("2026-11-30T08:00:00+01:00"), QStringLiteral("TD 0.25 %/K, T_cal 23 \u00b0C"),
          QStringLiteral("72.00 h"), QStringLiteral("48.00 h mark front passed"),
          QStringLiteral("Made by quellspan"), QStringLiteral("Areal heat capacity entered: 540")})
        QVERIFY2(said.contains(expected), qPrintable(expected + QStringLiteral("\n in: ") + said));
    // Every criterion with its verdict as the lines have it.
    for (const char *criterion : {"A", "B", "C", "D"}) {
        const QByteArray line = result.out.mid(result.out.indexOf(QByteArray("\n") + criterion + '\t') + 3);
        const QString verdict = QString::fromLatin1(line.left(line.indexOf('\n'))).replace('-', ' ');
        QVERIFY2(said.contains(QStringLiteral("%1 ").arg(QLatin1String(criterion))) && said.contains(verdict),
                 qPrintable(verdict));
    }
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
    QTest::newRow("method") << QStringList{"--wall-test", file, "--method", "fast"} + sensors
                            << QByteArray("--method must be average or dynamic, not \"fast\"");
    for (const char *step : {"0", "abc", "48", "0.1"}) {
        QTest::addRow("interval %s", step)
            << QStringList{"--wall-test", file, "--step-h", step} + sensors
            << QByteArray("--step-h must be the dynamic method's interval in hours, "
                          "from 0.167 to 24");
    }
    for (const char *td : {"1:abc:25", "5:0.1:25", "1:0.1", "x:0.1:25", "1:0.1:nan"}) {
        QTest::addRow("correction %s", td)
            << QStringList{"--wall-test", file, "--td", td} + sensors << QByteArray("--td must be S:TD:TCAL");
    }
    QTest::newRow("correction too large")
        << QStringList{"--wall-test", file, "--td", "2:5.5:25"} + sensors
        << QByteArray("--td 2:5.5:25: The temperature coefficient TD must be a "
                      "number from -5 to 5 %/K.");
    QTest::newRow("report without a name") << QStringList{"--wall-test", file, "--report", ""} + sensors
                                           << QByteArray("--report needs the name of the PDF file");
    QTest::newRow("report in no folder")
        << QStringList{"--wall-test", file, "--report", folder.filePath("none/report.pdf")} + sensors
        << QByteArray("could not be written");
    QTest::newRow("--td without --wall-test")
        << QStringList{"--td", "1:0.1:25"} << QByteArray("--td goes with --wall-test");
}

void TestWallTestCommand::badInputEndsWithStatusTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, said);
    const ProgramRun result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    if (!said.contains("could not be written")) // the lines come before the report is written
        QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.startsWith("quellspan: ") && result.err.contains(said), result.err.constData());
}

} // namespace

QTEST_GUILESS_MAIN(TestWallTestCommand)
#include "tst_walltestcommand.moc"

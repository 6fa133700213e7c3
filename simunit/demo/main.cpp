// SPDX-License-Identifier: GPL-3.0-or-later
// quellspan-demo: the real program with a simulated measuring unit in its port list, so that it
// can be tried without the hardware; optionally it also plays the operator (--autopilot).

#include "acquisition/runsafety/politequit.h"
#include "control_panel/mainwindow.h"
#include "data/version.h"
#include "publish/ui/publishoptions.h"
#include "shell/filenames.h"
#include "shell/programoptions.h"
#include "shell/programstart.h"
#include "simunit/autopilot.h"
#include "simunit/simulatedunit.h"
#include "unit/portlist.h"

#include <QApplication>
#include <QFileInfo>
#include <QSerialPort>
#include <QTextStream>

#include <cmath>
#include <memory>

int main(int argc, char *argv[])
{
    decodeFileNamesLosslessly(); // a --port or --recordings path of any bytes
    // Read before anything needs a display: --help, --version and mistakes are answered on a
    // terminal without one too.
    ProgramOptions parser(
        QStringLiteral("quellspan-demo"),
        QStringLiteral("Quellspan with a simulated measuring unit. Without options it opens the "
                       "program's windows, connected to the simulated unit, for you to use."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral(
            "Use the serial device or pseudo-terminal at <path> as the unit instead of the simulated one."),
        QStringLiteral("path"));
    const QCommandLineOption autopilotOption(
        QStringLiteral("autopilot"),
        QStringLiteral("Play the operator: configure the sensors, record, save <dir>/data.csv, take pictures "
                       "of both windows (<dir>/control-panel.png, <dir>/acquisition.png), then exit."),
        QStringLiteral("dir"));
    const QCommandLineOption sensorsOption(
        QStringLiteral("sensors"), QStringLiteral("With --autopilot: the sensor count, 1 to 4 (default 2)."),
        QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("With --autopilot: seconds to record (default 5)."),
                                           QStringLiteral("t"), QStringLiteral("5"));
    const QCommandLineOption recordingsOption(
        QStringLiteral("recordings"),
        QStringLiteral("Keep the live recordings in <dir> instead of the user's data folder."),
        QStringLiteral("dir"));
    for (const QCommandLineOption &option :
         {portOption, autopilotOption, sensorsOption, secondsOption, recordingsOption})
        parser.add(option);
    const PublishOptions publishing;
    parser.add(publishing.publish);
    parser.add(publishing.ca);
    parser.parse(argc, argv);
    if (const QString mistake =
            publishing.apply([&](const QCommandLineOption &o) { return parser.isSet(o); },
                             [&](const QCommandLineOption &o) { return parser.value(o); });
        !mistake.isEmpty())
        parser.fail(mistake);

    const bool autopilot = parser.isSet(autopilotOption);
    if (!autopilot && (parser.isSet(sensorsOption) || parser.isSet(secondsOption)))
        parser.fail(QStringLiteral("--sensors and --seconds go with --autopilot"));
    AutopilotOptions options;
    options.outputDir = parser.value(autopilotOption);
    bool ok = false;
    options.sensors = parser.value(sensorsOption).toInt(&ok);
    if (!ok || options.sensors < 1 || options.sensors > 4)
        parser.fail(QStringLiteral("--sensors takes a number from 1 to 4"));
    options.seconds = parser.value(secondsOption).toDouble(&ok);
    if (!ok || !std::isfinite(options.seconds) || options.seconds <= 0 || options.seconds > 24 * 3600)
        parser.fail(QStringLiteral("--seconds takes a number of seconds above 0, up to a day"));
    if (autopilot && options.outputDir.isEmpty())
        parser.fail(QStringLiteral("--autopilot needs a folder"));

    // Without a display, the autopilot (which needs none) draws off screen.
    prepareProgramStart(argc, argv, {"--autopilot", "-autopilot"});
    // Qt's own dialogs, so that the autopilot can fill in the save dialog.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan-demo"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));

    prepareRecordings(parser.value(recordingsOption));
    // Asked by the system to quit: the run is closed normally first.
    PoliteQuit::instance()->install();

    // The unit: the simulated one, or whatever is at --port, listed under the unit's identifiers.
    std::unique_ptr<SimulatedUnit> unit;
    PortEntry entry;
    if (parser.isSet(portOption)) {
        const QString path = parser.value(portOption);
        entry = measuringUnitPort(path, QStringLiteral("Quellspan unit at %1").arg(path));
    } else {
        unit = std::make_unique<SimulatedUnit>();
        if (!unit->isOpen()) {
            QTextStream(stderr) << "quellspan-demo: cannot make a pseudo-terminal for the simulated unit: "
                                << unit->errorString() << "\n";
            return 1;
        }
        entry = measuringUnitPort(unit->portPath(), QStringLiteral("Quellspan simulated unit"));
    }
    setPortListSource([entry] { return QList<PortEntry>{entry}; });

    MainWindow controlPanel;
    if (!unit) {
        // From now on the path is listed only while it is there, as a plugged-in unit is: when it
        // goes away and comes back (a replugged device, a link pointed at a new line) the program
        // finds it again. At start-up it was listed anyway, so that a missing path is reported
        // with its reason.
        setPortListSource([entry] {
            return QFileInfo::exists(entry.portName) ? QList<PortEntry>{entry} : QList<PortEntry>{};
        });
    }
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    if (!controlPanel.serialPort()->isOpen()) {
        // The reason the status bar gives (who holds a locked port), not Qt's bare error text.
        const QString why = controlPanel.portWatcher()->lastError();
        QTextStream(stderr) << "quellspan-demo: cannot open " << entry.portName << ": "
                            << (why.isEmpty() ? controlPanel.serialPort()->errorString() : why) << "\n";
    }
    if (!autopilot)
        return app.exec();

    // The windows come and go during the run; the run's end is what ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    Autopilot pilot(&controlPanel, options);
    QObject::connect(&pilot, &Autopilot::finished, &app, [](bool succeeded, const QString &message) {
        if (succeeded)
            QTextStream(stdout) << "quellspan-demo: autopilot " << message << "\n";
        else
            QTextStream(stderr) << "quellspan-demo: autopilot failed: " << message << "\n";
        QCoreApplication::exit(succeeded ? 0 : 1);
    });
    pilot.start();
    return app.exec();
}

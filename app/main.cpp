// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/runsafety/politequit.h"
#include "analysis/panels/walltestpdf.h"
#include "analysis/summarycommand.h"
#include "analysis/walltestcommand.h"
#include "control_panel/mainwindow.h"
#include "data/recordingsfolder.h"
#include "data/version.h"
#include "mirror/mirror.h"
#include "publish/ui/publishoptions.h"
#include "remote/ui/remotewindow.h"
#include "review/reviewwindow.h"
#include "shell/filenames.h"
#include "shell/programoptions.h"
#include "shell/programstart.h"
#include "shell/rememberedsettings.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QTextStream>

namespace {

bool isRigUrl(const QString &argument)
{
    return argument.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive) ||
           argument.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive);
}

// quellspan --mirror: copies of the rigs' runs, without a display, until asked to stop.
int runMirror(int argc, char *argv[], const MirrorArguments &arguments)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QTextStream err(stderr);
    if (!QDir().mkpath(arguments.folder)) {
        err << "quellspan: --to: the folder " << arguments.folder << " can't be made\n";
        return 1;
    }
    PoliteQuit::instance()->install();
    Mirror mirror(arguments.link, arguments.folder, [&err](const QString &line) {
        err << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) << line << '\n';
        err.flush();
    });
    // Asked to stop (systemctl stop, Ctrl+C): every copy is closed first.
    QObject::connect(PoliteQuit::instance(), &PoliteQuit::requested, &mirror, [&mirror](const QString &why) {
        mirror.stop(QStringLiteral("the mirror was stopped (%1)").arg(why));
    });
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // File names on the command line (and from "Open With") open the files they name, whatever
    // their bytes.
    decodeFileNamesLosslessly();
    // Read before anything needs a display: --help, --version and mistakes are answered on a
    // terminal without one too (over ssh, on a console).
    ProgramOptions options(
        QStringLiteral("quellspan"),
        QStringLiteral("Records heat-flux experiments from the Quellspan measuring unit (USB 2341:0058)."));
    const QCommandLineOption recordingsOption(
        QStringLiteral("recordings"),
        QStringLiteral("Keep the live recordings in <dir> instead of the user's data folder."),
        QStringLiteral("dir"));
    options.add(recordingsOption);
    const QString publishGroup = QStringLiteral("Publishing a run");
    const PublishOptions publishing;
    options.add(publishing.publish, publishGroup);
    options.add(publishing.ca, publishGroup);
    const QString rigGroup = QStringLiteral("Watching or mirroring a rig");
    const MirrorOptions mirroring;
    options.add(mirroring.mirror, rigGroup);
    options.add(mirroring.passwordFile, rigGroup);
    const QCommandLineOption caOption(
        QStringLiteral("ca"),
        QStringLiteral(
            "With an mqtts:// rig to watch or to mirror: trust the broker's certificate from the CAs in "
            "<file> (PEM) instead of the system's."),
        QStringLiteral("file"));
    options.add(caOption, rigGroup);
    options.commandOptions(mirroring.mirror, {mirroring.passwordFile});
    const QString summaryGroup = QStringLiteral("Statistics for scripts (no display needed)");
    const QCommandLineOption summary(
        QStringLiteral("summary"),
        QStringLiteral("Print the statistics of each column of the recording <file> for scripts and exit: "
                       "samples, mean, min, max and sd; with --td S:TD:TCAL (as for --wall-test), the heat "
                       "flux of those sensors corrected for their temperature."),
        QStringLiteral("file"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("With --summary: only the samples from S seconds on."),
                                  QStringLiteral("S"));
    // --to is one option for two commands (a name is taken once): the end of --summary's stretch,
    // or --mirror's folder.
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("With --summary: only the samples up to S seconds (included). "
                                               "With --mirror: the folder DIR the copies go to."),
                                QStringLiteral("S|DIR"));
    for (const QCommandLineOption &option : {summary, from, to})
        options.add(option, summaryGroup);
    options.commandOptions(summary, {from});
    const WallTestOptions wallTest;
    for (const QCommandLineOption &option : wallTest.all())
        options.add(option, QStringLiteral("Wall test for scripts (no display needed)"));
    // --td goes with either command: the wall test's correction, or the statistics' corrected flux.
    QList<QCommandLineOption> wallTestOwn;
    for (const QCommandLineOption &option : wallTest.all().mid(1)) {
        if (option.names() != wallTest.td.names())
            wallTestOwn << option;
    }
    options.commandOptions(wallTest.wallTest, wallTestOwn);
    options.acceptArguments(
        QStringLiteral("files"),
        QStringLiteral("Recordings (CSV) to show, each in a review window of its own, and rigs "
                       "to watch (mqtt://host[:port]/prefix or mqtts://...), each in a remote "
                       "window, instead of looking for the unit."),
        QStringLiteral("[file or url...]"));
    options.parse(argc, argv);
    if (options.isSet(wallTest.td) && !options.isSet(summary) && !options.isSet(wallTest.wallTest))
        options.fail(QStringLiteral("--td goes with --wall-test or --summary"));
    if (options.isSet(to) && !options.isSet(summary) && !options.isSet(mirroring.mirror))
        options.fail(QStringLiteral("--to goes with --summary or --mirror"));

    if (options.isSet(summary)) {
        // The statistics for scripts: their table printed, no display and no window.
        if (!options.arguments().isEmpty())
            options.fail(QStringLiteral("unexpected argument %1").arg(options.arguments().constFirst()));
        QStringList given;
        for (const QCommandLineOption &option : {summary, from, to, wallTest.td}) {
            for (const QString &value : options.values(option))
                given << QStringLiteral("--") + option.names().constFirst() << value;
        }
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
        QTextStream out(stdout), err(stderr);
        return runSummaryCommand(given, out, err);
    }

    const WallTestArguments wallTestArguments =
        wallTest.read([&](const QCommandLineOption &o) { return options.isSet(o); },
                      [&](const QCommandLineOption &o) { return options.values(o); });
    if (options.isSet(wallTest.wallTest)) {
        if (!options.arguments().isEmpty())
            options.fail(QStringLiteral("unexpected argument %1").arg(options.arguments().constFirst()));
        if (options.isSet(wallTest.report)) {
            // The report's charts are drawn as widgets, off screen: still no display needed. Where
            // the session has no runtime folder, the platform's note about that is no news to a
            // script.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static const QtMessageHandler passOn = qInstallMessageHandler(
                [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                    if (!message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
                        passOn(type, context, message);
                });
            QApplication app(argc, argv);
            QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
            QTextStream out(stdout), err(stderr);
            return runWallTestCommand(wallTestArguments, out, err, writeWallTestPdf);
        }
        // For scripts: the lines are printed with no display and no window.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("quellspan"));
        QTextStream out(stdout), err(stderr);
        return runWallTestCommand(wallTestArguments, out, err);
    }

    // A copy of every run of a rig, kept elsewhere: no display, no window.
    if (options.isSet(mirroring.mirror)) {
        if (!options.arguments().isEmpty())
            options.fail(QStringLiteral("unexpected argument %1").arg(options.arguments().constFirst()));
        MirrorArguments arguments;
        if (const QString mistake = readMirrorArguments(options.value(mirroring.mirror), options.value(to),
                                                        options.value(caOption),
                                                        options.value(mirroring.passwordFile), &arguments);
            !mistake.isEmpty())
            options.fail(mistake);
        return runMirror(argc, argv, arguments);
    }
    // Rigs to watch are checked before anything needs a display.
    bool watching = false;
    for (const QString &argument : options.arguments()) {
        if (!isRigUrl(argument))
            continue;
        watching = true;
        PublishTarget target;
        QString why;
        if (!RigLink::parseUrl(argument, false, &target, &why))
            options.fail(why);
        if (!options.value(caOption).isEmpty() && !target.tls)
            options.fail(QStringLiteral("--ca goes with an mqtts:// URL"));
    }
    if (options.isSet(caOption) && !watching)
        options.fail(QStringLiteral("--ca goes with a rig's mqtts:// URL to watch, or with --mirror"));

    if (const QString mistake =
            publishing.apply([&](const QCommandLineOption &o) { return options.isSet(o); },
                             [&](const QCommandLineOption &o) { return options.value(o); });
        !mistake.isEmpty())
        options.fail(mistake);

    prepareProgramStart(
        argc, argv, {},
        {QStringLiteral("quellspan"),
         QStringLiteral("--summary FILE, --wall-test FILE, --mirror URL --to DIR, --help and --version")});
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellspan"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellspan.quellspan"));

    RememberedSettings::followTimeStyle();
    // The wall test's setup is remembered with the other settings, in review windows too.
    const WallTestMemory wallTestMemory{
        [] { return RememberedSettings().wallTestSetup(); },
        [](const WallTestSetup &setup) { RememberedSettings().setWallTestSetup(setup); }};
    ReviewWindow::setWallTestMemory(wallTestMemory);
    RemoteWindow::setWallTestMemory(wallTestMemory);
    RemoteWindow::setUrlMemory([] { return RememberedSettings().watchedRig(); },
                               [](const QString &url) { RememberedSettings().setWatchedRig(url); });

    const QStringList recordings = options.arguments();
    if (!recordings.isEmpty()) {
        // Recordings and rigs to look at: no unit, no control panel, nothing recovered; the
        // program ends when the last of their windows is closed.
        const QString folder = options.value(recordingsOption);
        if (!folder.isEmpty())
            setRecordingsFolder(folder);
        for (const QString &file : recordings) {
            QString why;
            if (isRigUrl(file))
                RemoteWindow::openBeside(nullptr, nullptr, file, options.value(caOption), &why);
            else
                ReviewWindow::openBeside(nullptr, nullptr, file);
        }
        return app.exec();
    }

    prepareRecordings(options.value(recordingsOption));
    // Asked by the system to quit (a shutdown, kill, Ctrl+C): the run is closed normally first.
    PoliteQuit::instance()->install();

    MainWindow controlPanel;
    controlPanel.setWindowTitle(QStringLiteral("Quellspan"));
    controlPanel.show();
    return app.exec();
}

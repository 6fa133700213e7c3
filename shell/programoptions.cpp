// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/programoptions.h"

#include "data/version.h"
#include "shell/filenames.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdlib>

namespace {

// What QGuiApplication, QApplication and the X11 platform read from the command line themselves,
// with a value or without. Accepted here (and hidden from --help) so that they reach Qt.
const char *const qtOptionsWithValue[] = {"platform",
                                          "platformpluginpath",
                                          "platformtheme",
                                          "plugin",
                                          "qwindowgeometry",
                                          "geometry",
                                          "qwindowtitle",
                                          "title",
                                          "qwindowicon",
                                          "icon",
                                          "session",
                                          "style",
                                          "stylesheet",
                                          "display",
                                          "name",
                                          "qmljsdebugger"};
const char *const qtFlags[] = {"reverse", "testability", "widgetcount", "sync"};

} // namespace

ProgramOptions::ProgramOptions(const QString &program, const QString &description)
    : program(program), help(QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                             QStringLiteral("Displays this help.")),
      version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
              QStringLiteral("Displays version information."))
{
    parser.setApplicationDescription(description);
    // As Qt's own options are written: -platform offscreen, -style=fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(help);
    parser.addOption(version);
    for (const char *name : qtOptionsWithValue) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : qtFlags) {
        QCommandLineOption option{QString::fromLatin1(name)};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

void ProgramOptions::add(const QCommandLineOption &option)
{
    parser.addOption(option);
}

void ProgramOptions::acceptArguments(const QString &name, const QString &description, const QString &syntax)
{
    parser.addPositionalArgument(name, description, syntax);
    takesArguments = true;
}

void ProgramOptions::parse(int argc, char *argv[])
{
    if (!parser.parse(decodedArguments(argc, argv)))
        fail(parser.errorText());
    if (parser.isSet(help) || parser.isSet(version)) {
        // The parser prints these through the application object; one without a display will do.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(program);
        QCoreApplication::setApplicationVersion(QStringLiteral(QUELLSPAN_VERSION));
        if (parser.isSet(help))
            parser.showHelp(EXIT_SUCCESS);
        parser.showVersion();
    }
    if (!takesArguments && !parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));
}

void ProgramOptions::fail(const QString &message) const
{
    QTextStream(stderr) << program << ": " << message << "\n";
    std::exit(UsageError);
}

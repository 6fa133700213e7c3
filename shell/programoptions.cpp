// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/programoptions.h"

#include "data/version.h"
#include "shell/filenames.h"

#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
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
    this->description = description;
    parser.setApplicationDescription(description);
    // As Qt's own options are written: -platform offscreen, -style=fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(help);
    parser.addOption(version);
    listed << Listed{help, QString()} << Listed{version, QString()};
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

void ProgramOptions::add(const QCommandLineOption &option, const QString &group)
{
    parser.addOption(option);
    listed << Listed{option, group};
}

void ProgramOptions::commandOptions(const QCommandLineOption &command, const QList<QCommandLineOption> &own)
{
    commands << Command{command, own};
}

QString ProgramOptions::helpText() const
{
    // Each option's names as they are typed: -h, --help; --q <S>.
    auto names = [](const QCommandLineOption &option) {
        QStringList shown;
        bool hasLong = false;
        for (const QString &name : option.names())
            hasLong = hasLong || name.size() > 1;
        for (const QString &name : option.names()) {
            if (name == QLatin1String("?"))
                continue;
            shown << (name.size() == 1 && hasLong ? QStringLiteral("-") : QStringLiteral("--")) + name;
        }
        QString text = shown.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            text += QStringLiteral(" <%1>").arg(option.valueName());
        return text;
    };
    int width = 0;
    for (const Listed &l : listed)
        width = std::max(width, int(names(l.option).size()));
    width = std::min(width, 28) + 4;
    // Descriptions wrapped to 80 columns beside the names.
    auto entry = [width](const QString &left, const QString &text) {
        QString out = QStringLiteral("  ") + left;
        QString line;
        QStringList lines;
        for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > 78 - width) {
                lines << line;
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        if (!line.isEmpty())
            lines << line;
        if (out.size() > width) {
            out += QLatin1Char('\n');
            out += QString(width, QLatin1Char(' '));
        } else {
            out = out.leftJustified(width);
        }
        return out + lines.join(QLatin1Char('\n') + QString(width, QLatin1Char(' '))) + QLatin1Char('\n');
    };

    QString text = QStringLiteral("Usage: %1 [options]").arg(program);
    if (takesArguments)
        text += QLatin1Char(' ') + argumentsSyntax;
    text += QStringLiteral("\n%1\n").arg(description);
    QStringList groups{QString()};
    for (const Listed &l : listed) {
        if (!groups.contains(l.group))
            groups << l.group;
    }
    for (const QString &group : qAsConst(groups)) {
        text += QStringLiteral("\n%1:\n").arg(group.isEmpty() ? QStringLiteral("Options") : group);
        for (const Listed &l : listed) {
            if (l.group == group && !(l.option.flags() & QCommandLineOption::HiddenFromHelp))
                text += entry(names(l.option), l.option.description());
        }
    }
    if (takesArguments)
        text += QStringLiteral("\nArguments:\n") + entry(argumentsName, argumentsDescription);
    return text;
}

void ProgramOptions::checkCommands() const
{
    for (const Command &c : commands) {
        const QString name = QStringLiteral("--") + c.command.names().constLast();
        if (!parser.isSet(c.command)) {
            for (const QCommandLineOption &o : c.own) {
                if (parser.isSet(o))
                    fail(QStringLiteral("--%1 goes with %2").arg(o.names().constLast(), name));
            }
            continue;
        }
        for (const Command &other : commands) {
            if (&other == &c)
                continue;
            for (const QCommandLineOption &o : QList<QCommandLineOption>{other.command} + other.own) {
                if (parser.isSet(o))
                    fail(QStringLiteral("%1 and --%2 don't combine: run one, then the other")
                             .arg(name, o.names().constLast()));
            }
        }
    }
}

void ProgramOptions::acceptArguments(const QString &name, const QString &description, const QString &syntax)
{
    parser.addPositionalArgument(name, description, syntax);
    argumentsName = name;
    argumentsDescription = description;
    argumentsSyntax = syntax;
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
        if (parser.isSet(help)) {
            QTextStream(stdout) << helpText();
            std::exit(EXIT_SUCCESS);
        }
        parser.showVersion();
    }
    checkCommands();
    if (!takesArguments && !parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));
}

void ProgramOptions::fail(const QString &message) const
{
    QTextStream(stderr) << program << ": " << message << "\n";
    std::exit(UsageError);
}

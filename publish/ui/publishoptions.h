// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QString>

#include <functional>

// --publish URL and --publish-ca FILE, as quellspan and quellspan-demo take them: read after the
// command line, a URL that can't be used ends the program with a message saying why.
struct PublishOptions
{
    QCommandLineOption publish{QStringLiteral("publish"),
                               QStringLiteral("Publish every run to the MQTT broker at <url>, "
                                              "mqtt://[user@]host[:port]/prefix or mqtts://... for TLS."),
                               QStringLiteral("url")};
    QCommandLineOption ca{
        QStringLiteral("publish-ca"),
        QStringLiteral("With an mqtts:// --publish: trust the broker's certificate from the CAs "
                       "in <file> (PEM) instead of the system's."),
        QStringLiteral("file")};

    // Sets this start's choice (RunPublisher::setCommandLineChoice) when --publish was given.
    // Returns an empty string, or the mistake to end the program with.
    QString apply(const std::function<bool(const QCommandLineOption &)> &isSet,
                  const std::function<QString(const QCommandLineOption &)> &value) const;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where a run is published: a broker and the topic prefix under which the rig's topics lie.
// Written as a URL, mqtt://[user@]host[:port]/prefix or mqtts://... for TLS.
struct PublishTarget
{
    static constexpr int PlainPort = 1883;
    static constexpr int TlsPort = 8883;

    bool tls = false;
    QString user; // empty: no user name is sent
    QString host; // a name, an IPv4 address or an IPv6 address (without brackets)
    int port = PlainPort;
    QString prefix;
    // For TLS: a PEM file of the CAs the broker's certificate must come from; empty: the
    // system's CAs.
    QString caFile;

    // The URL again (the prefix always written out), without a password, which it never holds.
    QString url() const;
    // host:port, as messages name the broker.
    QString brokerName() const;
    bool operator==(const PublishTarget &other) const;
    bool operator!=(const PublishTarget &other) const { return !(*this == other); }
};

// Reads a URL mqtt://[user@]host[:port]/prefix or mqtts://...: port 1883 or 8883 when none is
// given, the prefix defaultTopicPrefix() when none is (nothing, or a lone "/", after the host).
// The user name and the prefix may hold %-escapes (%40 for "@"). Returns false, with *why set to a
// sentence saying what is wrong, for anything else: another scheme, a password in the URL (it is
// asked for and kept in the secret store instead), no host, a port that is not 1 to 65535, a
// prefix checkTopicPrefix() refuses.
bool parsePublishUrl(const QString &url, PublishTarget *target, QString *why);

// Whether prefix can stand before the rig's topics: not empty, no "+" or "#" (wildcards, which
// no published topic may hold), no empty level (a leading, trailing or doubled "/"), no leading
// "$" (the broker's own topics), no NUL, at most 60000 bytes. Returns an empty string when it
// can, else why not.
QString checkTopicPrefix(const QString &prefix);

// Whether and where a run is published, as the operator chooses it and the program remembers it.
struct PublishChoice
{
    bool enabled = false;
    QString url;    // mqtt://[user@]host[:port]/prefix or mqtts://...
    QString caFile; // for mqtts: the broker's CA (PEM); empty: the system's CAs

    // The target it names; false, with *why, when the URL is not one (see parsePublishUrl).
    bool target(PublishTarget *target, QString *why) const;
    bool operator==(const PublishChoice &o) const
    {
        return enabled == o.enabled && url == o.url && caFile == o.caFile;
    }
};

// quellspan/<this computer's host name>, with characters a topic level can't hold made "_".
QString defaultTopicPrefix();

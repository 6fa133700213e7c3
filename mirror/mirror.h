// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "remote/riglink.h"

#include <QCommandLineOption>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class RigFollower;
class RunCopies;

// A copy of every run one rig, or every rig below a prefix ("lab/+"), publishes, kept in a folder
// as the rigs' own live recordings are (RunCopies; for several rigs a folder each, named after
// the rig's last topic level). It follows the rigs through the broker (RigLink, RigFollower),
// fills what it missed from their histories, including what it missed while it was not running,
// and never sends anything but history requests.
class Mirror : public QObject
{
    Q_OBJECT

public:
    // log: one line of the mirror's output (what it copies, gaps, the link's state).
    Mirror(const RigLinkSettings &settings, const QString &folder, std::function<void(const QString &)> log,
           QObject *parent = nullptr);
    // Closes every copy (stop()).
    ~Mirror() override;

    // Closes every copy, noting why; nothing more is written.
    void stop(const QString &why);
    RigLink *link() const { return rigLink.get(); }
    // The copies of a rig (null before anything of it came).
    RunCopies *copiesOf(const QByteArray &rig) const;
    RigFollower *followerOf(const QByteArray &rig) const;
    // The folder a rig's copies go to: the folder itself, or for several rigs a folder named
    // after the rig's last topic level (with "%" escapes for what a file name can't hold).
    static QString rigFolder(const QString &folder, const QByteArray &rig, bool several);

private:
    void takeArrived();
    void showStatus(const LinkStatus &status);
    RigFollower *follower(const QByteArray &rig);

    QString place;
    std::function<void(const QString &)> log;
    std::unique_ptr<RigLink> rigLink;
    std::map<QByteArray, std::unique_ptr<RunCopies>> copies;
    std::map<QByteArray, std::unique_ptr<RigFollower>> followers;
    QTimer ticks;
    bool stopped = false;
    LinkState shownState = LinkState::Connecting;
};

// quellspan --mirror URL --to DIR [--ca FILE] [--password-file FILE]
struct MirrorOptions
{
    QCommandLineOption mirror{
        QStringLiteral("mirror"),
        QStringLiteral("Keep a copy of every run the rig at <url> publishes (mqtt://host[:port]/prefix, or a "
                       "prefix ending in /+ for every rig below it), without a display; needs --to."),
        QStringLiteral("url")};
    QCommandLineOption to{QStringLiteral("to"), QStringLiteral("With --mirror: the folder the copies go to."),
                          QStringLiteral("dir")};
    QCommandLineOption passwordFile{
        QStringLiteral("password-file"),
        QStringLiteral(
            "With --mirror and a URL with user@: the broker's password is the first line of <file>."),
        QStringLiteral("file")};
};

struct MirrorArguments
{
    RigLinkSettings link;
    QString folder;
};

// Reads --mirror's options (caFile: the --ca given, or empty); returns the mistake to end the
// program with, or an empty string.
QString readMirrorArguments(const QString &url, const QString &folder, const QString &caFile,
                            const QString &passwordFile, MirrorArguments *arguments);

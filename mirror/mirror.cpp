// SPDX-License-Identifier: GPL-3.0-or-later
#include "mirror/mirror.h"

#include "mirror/runcopies.h"
#include "remote/rigfollower.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Mirror", text);
}

qint64 steadyMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

Mirror::Mirror(const RigLinkSettings &settings, const QString &folder,
               std::function<void(const QString &)> log, QObject *parent)
    : QObject(parent), place(folder), log(std::move(log))
{
    RigLinkSettings mine = settings;
    mine.role = QStringLiteral("mirror");
    rigLink = std::make_unique<RigLink>(mine);
    connect(rigLink.get(), &RigLink::arrived, this, &Mirror::takeArrived);
    connect(rigLink.get(), &RigLink::statusChanged, this, &Mirror::showStatus);
    connect(rigLink.get(), &RigLink::connected, this, [this] {
        for (auto &[rig, f] : followers)
            f->linkUp();
    });
    ticks.setInterval(1000);
    connect(&ticks, &QTimer::timeout, this, [this] {
        for (auto &[rig, f] : followers)
            f->tick();
    });
    ticks.start();
    this->log(tr("Mirroring %1 into %2.").arg(mine.target.url(), QDir::toNativeSeparators(folder)));
}

Mirror::~Mirror()
{
    stop(tr("the mirror was stopped"));
}

void Mirror::stop(const QString &why)
{
    if (stopped)
        return;
    stopped = true;
    ticks.stop();
    rigLink.reset(); // nothing more comes
    for (auto &[rig, c] : copies)
        c->closeAll(why);
}

QString Mirror::rigFolder(const QString &folder, const QByteArray &rig, bool several)
{
    if (!several)
        return folder;
    const QByteArray level = rig.mid(rig.lastIndexOf('/') + 1);
    // One file name for each level and never a path: every byte outside letters, digits, "-"
    // and "_" is escaped, as is a "." that would begin the name.
    QByteArray name;
    for (int i = 0; i < level.size(); ++i) {
        const uchar c = uchar(level[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || (c == '.' && i > 0);
        if (plain)
            name += char(c);
        else
            name += '%' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    }
    if (name.isEmpty())
        name = "%";
    return QDir(folder).filePath(QString::fromLatin1(name));
}

RunCopies *Mirror::copiesOf(const QByteArray &rig) const
{
    const auto it = copies.find(rig);
    return it == copies.end() ? nullptr : it->second.get();
}

RigFollower *Mirror::followerOf(const QByteArray &rig) const
{
    const auto it = followers.find(rig);
    return it == followers.end() ? nullptr : it->second.get();
}

RigFollower *Mirror::follower(const QByteArray &rig)
{
    if (RigFollower *known = followerOf(rig))
        return known;
    const bool several = rigLink->followsSeveral();
    PublishTarget source = rigLink->settings().target;
    source.prefix = QString::fromUtf8(rig);
    auto sink = std::make_unique<RunCopies>(
        rigFolder(place, rig, several), source.url(), [this, rig, several](const QString &line) {
            log(several ? QStringLiteral("%1: %2").arg(QString::fromUtf8(rig), line) : line);
        });
    RigFollower::Settings settings;
    // A mirror is patient: a rig that does not answer is asked again for minutes before what it
    // would have filled becomes a gap in the copy.
    settings.answerTimeoutMs = 15000;
    settings.tries = 20;
    settings.maxAhead = 1 << 22;
    RigLink *link = rigLink.get();
    auto f = std::make_unique<RigFollower>(
        QString::fromUtf8(rig), sink.get(), [link, rig](HistoryRequest request) { link->ask(rig, request); },
        steadyMs, settings);
    RigFollower *made = f.get();
    copies[rig] = std::move(sink);
    followers[rig] = std::move(f);
    return made;
}

void Mirror::takeArrived()
{
    if (stopped)
        return;
    for (RigLink::Incoming &in : rigLink->take()) {
        if (in.rig.isEmpty())
            continue;
        // A rig is known by its run and status; answers and records alone make none.
        RigFollower *f = followerOf(in.rig);
        if (!f) {
            if (in.isAnswer || !(in.topic.endsWith("/run") || in.topic.endsWith("/status")))
                continue;
            f = follower(in.rig);
        }
        if (in.isAnswer) {
            if (in.why.isEmpty())
                f->answer(in.answer);
            else
                f->refusedAnswer(in.topic, in.why);
        } else {
            f->message(in.topic, in.payload, in.retained);
        }
    }
}

void Mirror::showStatus(const LinkStatus &status)
{
    if (status.state == shownState && status.state != LinkState::Unreachable)
        return;
    shownState = status.state;
    const QString broker = rigLink ? rigLink->settings().target.brokerName() : QString();
    switch (status.state) {
    case LinkState::Connecting:
        log(tr("Connecting to the broker %1...").arg(broker));
        break;
    case LinkState::Connected:
        log(tr("Connected to the broker %1.").arg(broker));
        break;
    case LinkState::Unreachable:
        log(status.problem.text(broker) + tr(" Trying again."));
        break;
    case LinkState::Stopped:
        break;
    }
}

QString readMirrorArguments(const QString &url, const QString &folder, const QString &caFile,
                            const QString &passwordFile, MirrorArguments *arguments)
{
    QString why;
    if (!RigLink::parseUrl(url, true, &arguments->link.target, &why))
        return QStringLiteral("--mirror: %1").arg(why);
    if (folder.isEmpty())
        return QStringLiteral("--mirror needs --to DIR, the folder the copies go to");
    if (!caFile.isEmpty() && !arguments->link.target.tls)
        return QStringLiteral("--ca goes with an mqtts:// URL");
    arguments->link.target.caFile = caFile;
    arguments->folder = QFileInfo(folder).absoluteFilePath();
    if (!passwordFile.isEmpty()) {
        if (arguments->link.target.user.isEmpty())
            return QStringLiteral("--password-file goes with a URL that names a user (mqtt://user@host/...)");
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("--password-file: %1 can't be read: %2")
                .arg(passwordFile, file.errorString());
        QByteArray password = file.readLine(4096);
        while (password.endsWith('\n') || password.endsWith('\r'))
            password.chop(1);
        arguments->link.password = password;
    }
    return QString();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltestsetup.h"
#include "remote/rigfollower.h"
#include "remote/riglink.h"
#include "remote/rigstate.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QStackedWidget;
class RunView;

// A rig watched from another computer through the broker: a window like the review window that
// follows the rig's run live, from its first record (its history first, then as it comes), with
// the same charts, marks and events, latest values, Statistics... and Wall Test...; the run's
// start, the rig's state (online, offline since, paused, the unit away) and the link's state in
// the status bar. A rig that goes offline and comes back is followed on without a gap (its
// history fills it); a new run at the rig (a Reset) gets a view of its own, the earlier ones stay
// in the Runs menu. It sends the rig nothing but history requests.
class RemoteWindow : public QMainWindow, private RunSink
{
    Q_OBJECT

public:
    // Watches the rig at target (a URL's broker and prefix); password for its user, if any. It is
    // deleted when closed.
    RemoteWindow(const PublishTarget &target, const QByteArray &password, QWidget *parent = nullptr);
    ~RemoteWindow() override;

    // Where every remote window's wall test reads and keeps the operator's setup (as
    // ReviewWindow's). Set once, before the first window opens.
    static void setWallTestMemory(const WallTestMemory &memory);
    // How patient windows opened from now on are with a rig's history (tests shorten it).
    static void setFollowerSettings(const RigFollower::Settings &settings);
    // Where "Watch a Rig..." reads and keeps the last URL watched.
    static void setUrlMemory(std::function<QString()> load, std::function<void(const QString &)> store);
    // Opens a window watching url (asking for the broker's password when the URL names a user),
    // beside `beside` when given, owned by owner. caFile: for mqtts://, the broker's CA (empty:
    // the system's). Returns false, with *why, for a URL that names no rig.
    static bool openBeside(QWidget *owner, QWidget *beside, const QString &url, const QString &caFile,
                           QString *why);

    const PublishTarget &target() const { return rig; }
    RigFollower *follower() const { return follow.get(); }
    RigLink *link() const { return rigLink.get(); }
    const RigState &rigState() const { return state; }
    // The view of the run shown, and of each run followed, oldest first.
    RunView *shownView() const;
    QList<RunView *> views() const;
    // Why there is no run to show yet (empty once there is).
    QString waitingText() const;

private:
    Held runSeen(const RigRun &run) override;
    void records(const QByteArray &run, const RigRecords &records) override;
    void gap(const QByteArray &run, quint64 from, quint64 to, const QString &why) override;
    void event(const QByteArray &run, const RigEvent &event) override;
    void runEnded(const QByteArray &run, bool whole) override;
    void rigStatus(bool online, bool retained) override;
    void refused(const QByteArray &topic, const QString &why) override;

    void buildForm();
    void takeArrived();
    void showLinkStatus(const LinkStatus &status);
    void showRigState();
    void showView(RunView *view);
    RunView *viewOf(const QByteArray &run) const;
    QString title() const;

    PublishTarget rig;
    std::unique_ptr<RigLink> rigLink;
    std::unique_ptr<RigFollower> follow;
    RigState state;
    QTimer ticks;
    QTimer notARig; // says so when no run comes

    QStackedWidget *pages = nullptr;
    QLabel *waiting = nullptr;
    QMenu *runsMenu = nullptr;
    QActionGroup *runChoices = nullptr;
    QLabel *linkItem = nullptr;
    QLabel *startItem = nullptr;
    QLabel *stateItem = nullptr;
    QAction *watchAction = nullptr;
    quint64 refusals = 0;
};

// "Watch a Rig...": asks for a rig's URL and opens a RemoteWindow on it, beside window, owned by
// owner.
QAction *watchRigAction(QWidget *owner, QWidget *window);

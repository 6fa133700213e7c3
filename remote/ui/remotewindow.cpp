// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/ui/remotewindow.h"

#include "acquisition/runstate/runstateitem.h"
#include "charts/chartfeeder.h"
#include "messages/statusmessages.h"
#include "publish/ui/brokerpassword.h"
#include "remote/ui/runview.h"
#include "remote/ui/watchdialog.h"

#include <QAction>
#include <QActionGroup>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>

namespace {

WallTestMemory &wallTestMemory()
{
    static WallTestMemory memory;
    return memory;
}

struct UrlMemory
{
    std::function<QString()> load = [] { return QString(); };
    std::function<void(const QString &)> store = [](const QString &) {};
};

RigFollower::Settings &followerSettings()
{
    static RigFollower::Settings settings;
    return settings;
}

UrlMemory &urlMemory()
{
    static UrlMemory memory;
    return memory;
}

qint64 steadyMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// The run state whose colours the rig's state borrows.
RunState::State colourOf(const RigState &state)
{
    if (!state.isKnown())
        return RunState::State::NotStarted;
    if (!state.isOnline())
        return RunState::State::UnitAway;
    switch (state.activity()) {
    case RigState::Activity::Acquiring:
        return RunState::State::Acquiring;
    case RigState::Activity::Paused:
        return RunState::State::Paused;
    case RigState::Activity::UnitAway:
        return RunState::State::UnitAway;
    case RigState::Activity::UnitSilent:
        return RunState::State::UnitSilent;
    case RigState::Activity::Unknown:
        break;
    }
    return RunState::State::NotStarted;
}

} // namespace

RemoteWindow::RemoteWindow(const PublishTarget &target, const QByteArray &password, QWidget *parent)
    : QMainWindow(parent, Qt::Window), rig(target)
{
    setObjectName(QStringLiteral("RemoteWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The acquisition window's font, which its charts inherit: the charts look the same.
    setFont(QFont(QStringLiteral("Arial"), 12));
    buildForm();
    setWindowTitle(title());

    RigLinkSettings settings;
    settings.target = target;
    settings.password = password;
    rigLink = std::make_unique<RigLink>(settings);
    RigLink *link = rigLink.get();
    const QByteArray prefix = target.prefix.toUtf8();
    follow = std::make_unique<RigFollower>(
        target.prefix, static_cast<RunSink *>(this),
        [link, prefix](HistoryRequest request) { link->ask(prefix, request); }, steadyMs, followerSettings());
    connect(link, &RigLink::arrived, this, &RemoteWindow::takeArrived);
    connect(link, &RigLink::statusChanged, this, &RemoteWindow::showLinkStatus);
    connect(link, &RigLink::connected, this, [this] {
        follow->linkUp();
        if (pages->currentWidget() == waiting)
            notARig.start();
    });
    ticks.setInterval(1000);
    connect(&ticks, &QTimer::timeout, this, [this] { follow->tick(); });
    ticks.start();
    notARig.setSingleShot(true);
    notARig.setInterval(5000);
    connect(&notARig, &QTimer::timeout, this, [this] {
        if (pages->currentWidget() != waiting)
            return;
        waiting->setText(
            tr("Nothing is retained on %1/run at the broker %2: %1 is not the prefix of a rig that "
               "publishes, or its rig has not started a run yet.\n\nThe window shows the rig's run as "
               "soon as one begins.")
                .arg(rig.prefix, rig.brokerName()));
        statusBar()->showMessage(tr("%1 is not a rig, or it has not started a run yet.").arg(rig.url()));
    });
    showLinkStatus(link->status());
    showRigState();
}

RemoteWindow::~RemoteWindow()
{
    // The link goes first: nothing more comes to the views.
    rigLink.reset();
    follow.reset();
}

void RemoteWindow::buildForm()
{
    pages = new QStackedWidget(this);
    setCentralWidget(pages);
    waiting = new QLabel(tr("Connecting to %1 and waiting for the rig's run...").arg(rig.url()), pages);
    waiting->setObjectName(QStringLiteral("remoteWaiting"));
    waiting->setWordWrap(true);
    waiting->setAlignment(Qt::AlignCenter);
    waiting->setMargin(24);
    waiting->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pages->addWidget(waiting);

    new StatusMessages(statusBar());
    startItem = new QLabel(statusBar());
    startItem->setObjectName(QStringLiteral("remoteRunStart"));
    statusBar()->addPermanentWidget(startItem);
    stateItem = new QLabel(statusBar());
    stateItem->setObjectName(QStringLiteral("remoteRigState"));
    stateItem->setAutoFillBackground(true);
    stateItem->setContentsMargins(6, 0, 6, 0);
    statusBar()->addPermanentWidget(stateItem);
    linkItem = new QLabel(statusBar());
    linkItem->setObjectName(QStringLiteral("remoteLinkState"));
    statusBar()->addPermanentWidget(linkItem);

    QMenu *file = menuBar()->addMenu(tr("&File"));
    watchAction = watchRigAction(parentWidget(), this);
    file->addAction(watchAction);
    file->addSeparator();
    QAction *close = file->addAction(tr("&Close"), this, &QWidget::close);
    close->setShortcut(QKeySequence::Close);
    runsMenu = menuBar()->addMenu(tr("&Runs"));
    runsMenu->setObjectName(QStringLiteral("runsMenu"));
    runChoices = new QActionGroup(this);
    runChoices->setExclusive(true);
    resize(1000, 720);
}

void RemoteWindow::setWallTestMemory(const WallTestMemory &memory)
{
    wallTestMemory() = memory;
}

void RemoteWindow::setFollowerSettings(const RigFollower::Settings &settings)
{
    followerSettings() = settings;
}

void RemoteWindow::setUrlMemory(std::function<QString()> load, std::function<void(const QString &)> store)
{
    urlMemory() = {std::move(load), std::move(store)};
}

QString RemoteWindow::title() const
{
    return tr("%1 at %2 - Quellspan").arg(rig.prefix, rig.brokerName());
}

QString RemoteWindow::waitingText() const
{
    return pages->currentWidget() == waiting ? waiting->text() : QString();
}

RunView *RemoteWindow::shownView() const
{
    return qobject_cast<RunView *>(pages->currentWidget());
}

QList<RunView *> RemoteWindow::views() const
{
    QList<RunView *> list;
    for (int i = 0; i < pages->count(); ++i) {
        if (auto *view = qobject_cast<RunView *>(pages->widget(i)))
            list << view;
    }
    return list;
}

RunView *RemoteWindow::viewOf(const QByteArray &run) const
{
    for (RunView *view : views()) {
        if (view->run().id == run)
            return view;
    }
    return nullptr;
}

void RemoteWindow::showView(RunView *view)
{
    pages->setCurrentWidget(view);
    const int index = views().indexOf(view);
    if (index >= 0 && index < runChoices->actions().size())
        runChoices->actions()[index]->setChecked(true);
    startItem->setText(
        tr("Run started %1")
            .arg(view->run().start.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    startItem->setToolTip(view->run().recording.isEmpty()
                              ? QString()
                              : tr("The rig's live recording: %1").arg(view->run().recording));
    view->chartFeeder()->requestRedraw(true);
}

RunSink::Held RemoteWindow::runSeen(const RigRun &run)
{
    auto *view = new RunView(run, wallTestMemory(), pages);
    view->addMenuAction(watchAction);
    pages->addWidget(view);
    QAction *choice = runsMenu->addAction(
        tr("Run started %1").arg(run.start.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    choice->setCheckable(true);
    runChoices->addAction(choice);
    connect(choice, &QAction::triggered, this, [this, view] { showView(view); });
    // A new run at the rig is followed into its own view, unless an earlier one is being looked at.
    const QList<RunView *> all = views();
    RunView *before = all.size() > 1 ? all[all.size() - 2] : nullptr;
    if (pages->currentWidget() == waiting || pages->currentWidget() == before) {
        showView(view);
        if (before)
            statusBar()->showMessage(tr("A new run began at the rig; the one before is in the Runs menu."));
    }
    state.newRun();
    return Held();
}

void RemoteWindow::records(const QByteArray &run, const RigRecords &records)
{
    RunView *view = viewOf(run);
    if (!view)
        return;
    view->append(records);
    if (run == follow->currentRun() && state.record(records.row(records.rows - 1)[0], view->run().start))
        showRigState();
}

void RemoteWindow::gap(const QByteArray &run, quint64 from, quint64 to, const QString &why)
{
    if (RunView *view = viewOf(run)) {
        view->gap(from, to, why);
        statusBar()->showMessage(view->notes().last());
    }
}

void RemoteWindow::event(const QByteArray &run, const RigEvent &e)
{
    RunView *view = viewOf(run);
    if (!view)
        return;
    view->event(e.event);
    if (run == follow->currentRun()) {
        state.event(e.event, view->run().start);
        showRigState();
    }
}

void RemoteWindow::runEnded(const QByteArray &run, bool whole)
{
    if (RunView *view = viewOf(run))
        view->ended(whole);
}

void RemoteWindow::rigStatus(bool online, bool retained)
{
    const bool wasOnline = state.isKnown() && state.isOnline();
    state.setOnline(online, retained ? QDateTime() : QDateTime::currentDateTime());
    showRigState();
    if (!retained && online != wasOnline)
        statusBar()->showMessage(online ? tr("The rig is online again; what it sent meanwhile is filled in.")
                                        : tr("The rig went offline at %1.")
                                              .arg(QTime::currentTime().toString(QStringLiteral("HH:mm"))));
}

void RemoteWindow::refused(const QByteArray &topic, const QString &why)
{
    ++refusals;
    if (refusals <= 3 || refusals % 100 == 0)
        statusBar()->showMessage(tr("A message on %1 was not taken (%2 so far): %3.")
                                     .arg(QString::fromUtf8(topic))
                                     .arg(refusals)
                                     .arg(why));
}

void RemoteWindow::takeArrived()
{
    if (!rigLink)
        return;
    for (RigLink::Incoming &in : rigLink->take()) {
        if (in.isAnswer) {
            if (in.why.isEmpty())
                follow->answer(in.answer);
            else
                follow->refusedAnswer(in.topic, in.why);
        } else {
            follow->message(in.topic, in.payload, in.retained);
        }
    }
}

void RemoteWindow::showLinkStatus(const LinkStatus &status)
{
    switch (status.state) {
    case LinkState::Connecting:
        linkItem->setText(tr("Broker: connecting"));
        break;
    case LinkState::Connected:
        linkItem->setText(tr("Broker: connected"));
        break;
    case LinkState::Unreachable:
        linkItem->setText(
            tr("Broker unreachable since %1").arg(status.since.toString(QStringLiteral("HH:mm"))));
        statusBar()->showMessage(status.problem.text(rig.brokerName()) + tr(" Trying again."));
        if (status.problem.kind == LinkProblem::AuthRefused)
            forgetBrokerPassword(rig);
        break;
    case LinkState::Stopped:
        break;
    }
    linkItem->setToolTip(status.problem.kind == LinkProblem::None
                             ? rig.url()
                             : rig.url() + QLatin1Char('\n') + status.problem.text(rig.brokerName()));
}

void RemoteWindow::showRigState()
{
    stateItem->setText(state.text());
    const RunState::State colours = colourOf(state);
    QPalette palette = stateItem->palette();
    palette.setColor(QPalette::Window, RunStateItem::background(colours));
    palette.setColor(QPalette::WindowText, RunStateItem::foreground(colours));
    stateItem->setPalette(palette);
    QFont font = stateItem->font();
    font.setBold(RunStateItem::isAlarm(colours));
    stateItem->setFont(font);
}

bool RemoteWindow::openBeside(QWidget *owner, QWidget *beside, const QString &url, const QString &caFile,
                              QString *why)
{
    PublishTarget target;
    if (!RigLink::parseUrl(url, false, &target, why))
        return false;
    if (!caFile.isEmpty() && !target.tls) {
        *why = tr("a CA file goes with an mqtts:// URL");
        return false;
    }
    target.caFile = caFile;
    urlMemory().store(url);
    const QPointer<QWidget> ownerAlive(owner), besideAlive(beside);
    const auto open = [owner, ownerAlive, besideAlive, target](const QByteArray &password) {
        if (owner && !ownerAlive)
            return;
        auto *window = new RemoteWindow(target, password, ownerAlive);
        if (besideAlive) {
            // To the right of it when the screen has room, else a little below and to the right.
            const QRect frame = besideAlive->frameGeometry();
            const QRect screen = besideAlive->screen()->availableGeometry();
            QPoint at = frame.topRight() + QPoint(8, 0);
            if (at.x() + window->width() > screen.right())
                at = frame.topLeft() + QPoint(40, 40);
            window->move(at);
        }
        window->show();
    };
    if (target.user.isEmpty()) {
        open(QByteArray());
        return true;
    }
    fetchBrokerPassword(beside ? beside : owner, target, [open](bool ok, const QByteArray &password) {
        if (ok)
            open(password);
    });
    return true;
}

QAction *watchRigAction(QWidget *owner, QWidget *window)
{
    auto *action = new QAction(RemoteWindow::tr("Watch a Rig..."), window);
    action->setObjectName(QStringLiteral("actionWatchRig"));
    QObject::connect(action, &QAction::triggered, window, [owner, window] {
        WatchDialog dialog(urlMemory().load(), window);
        if (dialog.exec() != QDialog::Accepted)
            return;
        QString why;
        if (!RemoteWindow::openBeside(owner, window, dialog.url(), dialog.caFile(), &why))
            QMessageBox::warning(window, RemoteWindow::tr("Watch a Rig"), why);
    });
    return action;
}

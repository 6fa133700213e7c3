// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ui/runpublisher.h"

#include "data/runmarks.h"
#include "publish/ui/brokerpassword.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QWidget>

#include <optional>

namespace {

std::optional<PublishChoice> &commandLineChoice()
{
    static std::optional<PublishChoice> choice;
    return choice;
}

} // namespace

void RunPublisher::setCommandLineChoice(const PublishChoice &choice)
{
    commandLineChoice() = choice;
}

RunPublisher::RunPublisher(QWidget *window, QStatusBar *statusBar, Hooks hooks)
    : QObject(window), window(window), statusBar(statusBar), hooks(std::move(hooks))
{
    action = new QAction(tr("Publish..."), this);
    action->setObjectName(QStringLiteral("actionPublish"));
    connect(action, &QAction::triggered, this, &RunPublisher::openDialog);
    item = new QLabel(statusBar);
    item->setObjectName(itemName());
    statusBar->addPermanentWidget(item);
    item->hide();
    apply(commandLineChoice() ? *commandLineChoice() : this->hooks.load());
}

RunPublisher::~RunPublisher()
{
    stop();
}

void RunPublisher::followMarks(RunMarks *runMarks)
{
    marks = runMarks;
    followMarkChanges(marks, this, [this](const RunEvent &event) {
        if (link)
            link->addEvent(event);
    });
}

void RunPublisher::record(double time, const RecordValues &values, int channelCount)
{
    if (link && runRecords == 0)
        announceRun(0);
    ++runRecords;
    if (link)
        link->addRecord(time, values.data(), channelCount);
}

void RunPublisher::announceRun(quint64 recordsSoFar)
{
    const RecordingInfo info = hooks.recordingInfo();
    const QString path = hooks.recordingPath();
    PublishedRun run;
    run.start = info.start;
    run.sensorCount = info.sensorCount;
    run.sensitivities = info.sensitivities;
    run.program = info.program;
    run.recording = path.isEmpty() ? QString() : QFileInfo(path).fileName();
    link->startRun(run, path, recordsSoFar);
}

void RunPublisher::runEnds()
{
    runRecords = 0;
    if (link)
        link->endRun();
}

void RunPublisher::recordingStopped()
{
    if (link)
        link->recordingFinal();
}

void RunPublisher::stop()
{
    stopped = true;
    ++attempt;
    if (link) {
        // Quitting: what the broker has not taken yet goes first, for a few seconds at most. The
        // window may be half gone: nothing is shown any more.
        disconnect(link.get(), nullptr, this, nullptr);
        link->stop(5000, true);
        link.reset();
    }
}

void RunPublisher::apply(const PublishChoice &choice)
{
    chosen = choice;
    ++attempt;
    if (link) {
        disconnect(link.get(), nullptr, this, nullptr);
        link->stopInBackground();
        link.reset();
        statusBar->showMessage(tr("Publishing stopped."));
    }
    item->hide();
    PublishTarget target;
    QString why;
    if (!choice.enabled || stopped)
        return;
    if (!choice.target(&target, &why)) {
        statusBar->showMessage(tr("Not publishing: %1.").arg(why));
        return;
    }
    if (target.user.isEmpty()) {
        start(target, QByteArray());
        return;
    }
    const int asked = attempt;
    QPointer<RunPublisher> self(this);
    fetchBrokerPassword(window, target, [self, asked, target](bool ok, const QByteArray &password) {
        if (!self || self->attempt != asked)
            return;
        if (ok)
            self->start(target, password);
        else
            self->statusBar->showMessage(
                tr("Not publishing: no password was given for %1.").arg(target.user));
    });
}

void RunPublisher::start(const PublishTarget &target, const QByteArray &password)
{
    PublishSettings settings;
    settings.target = target;
    settings.password = password;
    link = std::make_unique<Publisher>(settings);
    connect(link.get(), &Publisher::statusChanged, this, &RunPublisher::showStatus);
    // Switched on during a run: the run so far follows from its recording, its marks first.
    if (runRecords > 0) {
        if (marks) {
            for (const RunMarks::Entry &entry : marks->entries()) {
                if (!entry.deleted)
                    link->addEvent(entry.event);
            }
        }
        announceRun(runRecords);
    }
    showStatus(link->status());
}

void RunPublisher::showStatus(const Publisher::Status &status)
{
    if (!link)
        return;
    const PublishTarget &target = link->settings().target;
    const QString url = target.url();
    QString text;
    QString message;
    switch (status.state) {
    case Publisher::State::Connecting:
        text = tr("Broker: connecting");
        message = tr("Publishing to %1: connecting to the broker...").arg(url);
        break;
    case Publisher::State::Connected:
        text = tr("Broker: connected");
        message = tr("Publishing to %1: connected to the broker.").arg(url);
        break;
    case Publisher::State::Unreachable:
        text = tr("Broker unreachable since %1").arg(status.since.toString(QStringLiteral("HH:mm")));
        message = status.problem.text(target.brokerName()) +
                  tr(" Publishing goes on when it is back, with nothing missed.");
        if (status.problem.kind == LinkProblem::AuthRefused)
            forgetBrokerPassword(target);
        break;
    case Publisher::State::Stopped:
        item->hide();
        return;
    }
    item->setText(text);
    item->setToolTip(status.problem.kind == LinkProblem::None
                         ? url
                         : url + QLatin1Char('\n') + status.problem.text(target.brokerName()));
    item->show();
    statusBar->showMessage(message);
}

void RunPublisher::openDialog()
{
    PublishDialog dialog(chosen, window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const PublishChoice choice = dialog.choice();
    if (hooks.save)
        hooks.save(choice);
    if (choice == chosen && (link || !choice.enabled))
        return;
    apply(choice);
}

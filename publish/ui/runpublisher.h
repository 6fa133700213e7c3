// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "data/recordingfile.h"
#include "publish/publisher.h"
#include "publish/ui/publishdialog.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QStatusBar;
class QWidget;
class RunMarks;

// Publishing in the acquisition window: the window tells it each record and the run's moments,
// and it keeps a Publisher going to the chosen broker, shows the link's state as a permanent item
// of the status bar ("Broker: connected", "Broker unreachable since 14:05") with each change once
// in the message history, and offers "Publish..." for the chart's context menu. What it remembers
// comes and goes through callbacks; quellspan --publish chooses for one start.
class RunPublisher : public QObject
{
    Q_OBJECT

public:
    struct Hooks
    {
        std::function<PublishChoice()> load;
        std::function<void(const PublishChoice &)> save;
        std::function<QString()> recordingPath;       // the run's live recording; empty: none
        std::function<RecordingInfo()> recordingInfo; // the run as its recording describes it
    };

    RunPublisher(QWidget *window, QStatusBar *statusBar, Hooks hooks);
    // Says "offline" and disconnects.
    ~RunPublisher() override;

    // This start of the program publishes as given (quellspan --publish), whatever was chosen
    // before; it is not remembered.
    static void setCommandLineChoice(const PublishChoice &choice);

    QAction *dialogAction() const { return action; }
    // Marks and events as they are placed, edited and deleted.
    void followMarks(RunMarks *marks);

    // The run as the window sees it.
    void record(double time, const RecordValues &values, int channelCount);
    void runEnds(); // Reset, after the run's recording is closed
    void recordingStopped();
    // The program quits: "offline" goes out and nothing more does.
    void stop();

    Publisher *publisher() const { return link.get(); }
    static QString itemName() { return QStringLiteral("publishStatus"); }

private:
    void apply(const PublishChoice &choice);
    void start(const PublishTarget &target, const QByteArray &password);
    void announceRun(quint64 recordsSoFar);
    void showStatus(const Publisher::Status &status);
    void openDialog();

    QWidget *window;
    QStatusBar *statusBar;
    Hooks hooks;
    QAction *action;
    QLabel *item;
    RunMarks *marks = nullptr;
    PublishChoice chosen;
    std::unique_ptr<Publisher> link;
    quint64 runRecords = 0; // records of the run so far
    bool stopped = false;
    int attempt = 0; // a password question answered late belongs to the choice it was asked for
};

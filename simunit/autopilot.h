// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class MainWindow;
class QMainWindow;
class QWidget;

struct AutopilotOptions
{
    QString outputDir;  // where data.csv, control-panel.png and acquisition.png go
    int sensors = 2;    // 1 to 4
    double seconds = 5; // how long to record
};

// Plays an operator on the real windows, for a demonstration where no one can click: sends the
// sensor count and the sensitivities, opens the acquisition window, shows the sensors' curves,
// records for a while, pauses, saves the data through "Save as..." and takes pictures of both
// windows.
// Every step goes through the widgets a person would use, found by their object names.
class Autopilot : public QObject
{
    Q_OBJECT

public:
    Autopilot(MainWindow *controlPanel, const AutopilotOptions &options, QObject *parent = nullptr);

    // The sensitivities typed for sensors 1 to 4.
    static QStringList sensitivityTexts();
    static QString csvFileName() { return QStringLiteral("data.csv"); }
    static QString controlPanelPictureName() { return QStringLiteral("control-panel.png"); }
    static QString acquisitionPictureName() { return QStringLiteral("acquisition.png"); }

    // Begins the run; finished() follows once, from the event loop.
    void start();
    bool isFinished() const { return done; }
    bool succeeded() const { return done && failure.isEmpty(); }
    // What went wrong, or a short summary of a run that went well.
    QString message() const { return done && failure.isEmpty() ? summary : failure; }

signals:
    void finished(bool ok, const QString &message);

private:
    void configure();
    void saveAndFinish();
    void takeAcquisitionPicture();
    void watchModals();
    bool grabTo(QWidget *window, const QString &fileName);
    void fail(const QString &why);
    void finish();
    QString outputPath(const QString &fileName) const;
    template <class T> T *need(QObject *root, const char *objectName);

    MainWindow *controlPanel;
    AutopilotOptions options;
    QPointer<QMainWindow> acquisitionWindow;
    QTimer modalWatch;
    QTimer deadline;
    bool saving = false; // the save dialog and its overwrite question are expected
    bool done = false;
    QString failure;
    QString summary;
};

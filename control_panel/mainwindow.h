// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "unit/unitlink.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>

class Ui_MainWindow;
class Window2;

// The control panel: finds and owns the measuring unit's serial port for the whole run, sends
// the unit its configuration and opens the acquisition window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The one port of the run, open or not; never null.
    QSerialPort *serialPort();
    // The sensor count last sent to the unit (1 to 4), or 0 before any was sent.
    int sensorCount();
    // Keeps the port connected to the unit: reports its loss and return, and its silence. (A window
    // that borrows the port reaches it, and what was sent to the unit, through UnitLink::of.)
    PortWatcher *portWatcher() { return unit.watcher(); }

private slots:
    void on_plotWindowBtn_clicked();
    void readSerial();
    void on_sensNumBtn_clicked();
    void on_setS1Btn_clicked();
    void on_setS2Btn_clicked();
    void on_setS3Btn_clicked();
    void on_setS4Btn_clicked();

private:
    void sendSensitivity(int sensor);
    void reportUnitInStatusBar();

    Ui_MainWindow *ui;
    QByteArray lastLine;
    QString serialBuffer;
    QSerialPort serial;
    Window2 *graphWindow = nullptr;
    qint32 sensNum = 0;
    // The unit's link: the watcher and the configuration sent. Declared after the port, so it goes first.
    UnitLink unit{&serial};
};

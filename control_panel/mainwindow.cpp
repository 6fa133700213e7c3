// SPDX-License-Identifier: GPL-3.0-or-later
#include "control_panel/mainwindow.h"

#include "acquisition/window2.h"
#include "messages/statusmessages.h"
#include "shell/logopicture.h"
#include "shell/rememberedsettings.h"
#include "ui_mainwindow.h"
#include "unit/portlist.h"
#include "unit/sensitivitytext.h"

#include <QDebug>
#include <QMessageBox>
#include <QStatusBar>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    LogoPicture::show(ui->label_2, QStringLiteral(":/Images/tarvi_logo_small.png"));
    new StatusMessages(statusBar()); // no message cut off unseen
    // The entries of the last run come back; nothing goes to the unit before the Set buttons.
    RememberedSettings::restoreAndFollow(ui->sensNumSpin,
                                         {ui->setS1Edit, ui->setS2Edit, ui->setS3Edit, ui->setS4Edit});
    const QString settingsReport = RememberedSettings::takeSetAsideReport();

    writePortCensus(availablePorts());

    reportUnitInStatusBar();
    const QString unitPort = findUnitPortName(availablePorts());
    if (!unitPort.isEmpty()) {
        // Opened with its line settings; a port that does not open is reported and tried again.
        unit.watcher()->openAtStartup(unitPort);
    } else {
        qDebug() << "Could not find correct port";
        QMessageBox::information(this, tr("Serial Port Error"), tr("Could Not Detect Device"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        // The operator need not restart the program once the unit is plugged in.
        unit.watcher()->startSearching();
    }
    // Said last, so that it stays until the unit's next news (all of it is in the history).
    if (!settingsReport.isEmpty())
        statusBar()->showMessage(settingsReport);
}

void MainWindow::reportUnitInStatusBar()
{
    QStatusBar *status = statusBar();
    PortWatcher *watcher = unit.watcher();
    connect(watcher, &PortWatcher::searching, status,
            [status] { status->showMessage(tr("No measuring unit found. Looking for it every second...")); });
    connect(watcher, &PortWatcher::openFailed, status, [status](const QString &portName, const QString &why) {
        status->showMessage(tr("The measuring unit at %1 cannot be opened: %2. Trying again every second...")
                                .arg(portName, why));
    });
    connect(watcher, &PortWatcher::unitOpened, status, [status](const QString &portName) {
        status->showMessage(tr("Measuring unit found at %1; waiting for it to start...").arg(portName));
    });
    connect(watcher, &PortWatcher::unitReady, status, [status](const QString &portName, qint64 awayMs) {
        if (awayMs < 0)
            status->showMessage(tr("Measuring unit connected at %1.").arg(portName));
        else
            status->showMessage(
                tr("Measuring unit back after %1 s away, at %2; its configuration was sent again.")
                    .arg(QString::number(double(awayMs) / 1000.0, 'f', 1), portName));
    });
    connect(watcher, &PortWatcher::unitLost, status, [status](const QString &why) {
        status->showMessage(tr("The measuring unit is gone (%1). Looking for it every second...").arg(why));
    });
}

MainWindow::~MainWindow()
{
    // The acquisition window closes our port in its destructor, so it must go while the port exists.
    qDeleteAll(findChildren<Window2 *>(QString(), Qt::FindDirectChildrenOnly));
    delete ui;
}

QSerialPort *MainWindow::serialPort()
{
    return &serial;
}

int MainWindow::sensorCount()
{
    return sensNum;
}

void MainWindow::on_plotWindowBtn_clicked()
{
    hide();
    graphWindow = new Window2(this);
    graphWindow->show();
}

void MainWindow::readSerial()
{
    if (serial.canReadLine()) {
        lastLine = serial.readLine();
        serialBuffer.append(QString::fromUtf8(lastLine));
        qDebug() << lastLine;
    } else {
        qDebug() << "nope";
    }
}

void MainWindow::on_sensNumBtn_clicked()
{
    if (serial.isWritable()) {
        sensNum = ui->sensNumSpin->value();
        unit.sendSensorCount(sensNum);
        ui->setS2Btn->setEnabled(false);
        ui->setS3Btn->setEnabled(false);
        ui->setS4Btn->setEnabled(false);
    } else {
        qDebug() << "couldnt write";
        QMessageBox::information(this, tr("Serial Port Error"),
                                 tr("Please Reconnect Device and Restart Program"), QMessageBox::Ok,
                                 QMessageBox::NoButton);
    }
    qDebug() << sensNum;
    ui->sensNumBtn->setEnabled(false);
}

void MainWindow::sendSensitivity(int sensor)
{
    QLineEdit *const edits[] = {ui->setS1Edit, ui->setS2Edit, ui->setS3Edit, ui->setS4Edit};
    QPushButton *const buttons[] = {ui->setS1Btn, ui->setS2Btn, ui->setS3Btn, ui->setS4Btn};
    const int k = sensor - 1;

    // A text the unit cannot read as a sensitivity is not sent (nor noted in the run's
    // description): the field stays as typed, for the operator to correct and send again.
    const SensitivityText typed(edits[k]->text());
    if (!typed.isValid()) {
        statusBar()->showMessage(tr("Sensor %1's sensitivity was not sent: %2. Type a number above 0 in "
                                    "uV/(W/m^2), such as 12.5.")
                                     .arg(sensor)
                                     .arg(typed.problem));
        edits[k]->setFocus();
        edits[k]->selectAll();
        return;
    }
    if (serial.isWritable()) {
        unit.sendSensitivity(sensor, typed.sent);
    } else
        qDebug() << "couldnt write";

    // Lead the operator on to the next sensor, up to the count sent.
    buttons[k]->setEnabled(false);
    if (sensor < 4 && sensNum > sensor)
        buttons[k + 1]->setEnabled(true);
}

void MainWindow::on_setS1Btn_clicked()
{
    sendSensitivity(1);
}

void MainWindow::on_setS2Btn_clicked()
{
    sendSensitivity(2);
}

void MainWindow::on_setS3Btn_clicked()
{
    sendSensitivity(3);
}

void MainWindow::on_setS4Btn_clicked()
{
    sendSensitivity(4);
}

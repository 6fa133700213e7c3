#include "control_panel/mainwindow.h"

#include "acquisition/window2.h"
#include "control_panel/portlist.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QMessageBox>
#include <QPixmap>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    ui->label_2->setPixmap(QPixmap(QStringLiteral(":/Images/tarvi_logo_small.png")));

    writePortCensus(availablePorts());

    const QString unitPort = findUnitPortName(availablePorts());
    if (!unitPort.isEmpty()) {
        // Open first, then set up the line, so every setting acts on the open port.
        serial.setPortName(unitPort);
        serial.open(QIODevice::ReadWrite);
        serial.setDataTerminalReady(false);
        serial.setDataTerminalReady(true);
        serial.setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
        serial.setDataBits(QSerialPort::Data8);
        serial.setFlowControl(QSerialPort::NoFlowControl);
        serial.setParity(QSerialPort::NoParity);
        serial.setStopBits(QSerialPort::OneStop);
    } else {
        qDebug() << "Could not find correct port";
        QMessageBox::information(this, tr("Serial Port Error"), tr("Could Not Detect Device"), QMessageBox::Ok,
                                 QMessageBox::NoButton);
    }
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
        const char digit[2] = {char('0' + sensNum), '\0'};
        serial.write(digit);
        ui->setS2Btn->setEnabled(false);
        ui->setS3Btn->setEnabled(false);
        ui->setS4Btn->setEnabled(false);
    } else {
        qDebug() << "couldnt write";
        QMessageBox::information(this, tr("Serial Port Error"), tr("Please Reconnect Device and Restart Program"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
    }
    qDebug() << sensNum;
    ui->sensNumBtn->setEnabled(false);
}

void MainWindow::sendSensitivity(int sensor)
{
    QLineEdit *const edits[] = {ui->setS1Edit, ui->setS2Edit, ui->setS3Edit, ui->setS4Edit};
    QPushButton *const buttons[] = {ui->setS1Btn, ui->setS2Btn, ui->setS3Btn, ui->setS4Btn};
    const int k = sensor - 1;

    if (serial.isWritable()) {
        const QByteArray text = edits[k]->text().toUtf8();
        serial.write(text);
        sensitivitiesSent[k] = text.isNull() ? QByteArray("") : text;
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

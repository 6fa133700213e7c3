// SPDX-License-Identifier: GPL-3.0-or-later
#include "simunit/autopilot.h"

#include "control_panel/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QSerialPort>
#include <QSpinBox>

namespace {
// Time for the acquisition window to draw what it took last before its picture is taken.
constexpr int SettleMs = 300;
// Besides the recording time, how long the whole run may take.
constexpr int SpareMs = 60000;
} // namespace

Autopilot::Autopilot(MainWindow *controlPanel, const AutopilotOptions &options, QObject *parent)
    : QObject(parent), controlPanel(controlPanel), options(options)
{
    modalWatch.setInterval(20);
    connect(&modalWatch, &QTimer::timeout, this, &Autopilot::watchModals);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] { fail(tr("the run did not finish in time")); });
}

QStringList Autopilot::sensitivityTexts()
{
    return {QStringLiteral("12.5"), QStringLiteral("13"), QStringLiteral("9.87"), QStringLiteral("11")};
}

void Autopilot::start()
{
    modalWatch.start();
    deadline.start(int(options.seconds * 1000) + SpareMs);
    QTimer::singleShot(0, this, &Autopilot::configure);
}

QString Autopilot::outputPath(const QString &fileName) const
{
    return QDir(options.outputDir).absoluteFilePath(fileName);
}

template <class T> T *Autopilot::need(QObject *root, const char *objectName)
{
    T *object = root ? root->findChild<T *>(QString::fromLatin1(objectName)) : nullptr;
    if (!object)
        fail(tr("no %1 named \"%2\" found")
                 .arg(QString::fromLatin1(T::staticMetaObject.className()), QString::fromLatin1(objectName)));
    return object;
}

void Autopilot::configure()
{
    if (done)
        return;
    if (options.sensors < 1 || options.sensors > 4)
        return fail(tr("the sensor count must be 1 to 4, not %1").arg(options.sensors));
    if (!QDir().mkpath(options.outputDir))
        return fail(tr("cannot make the folder %1").arg(options.outputDir));
    // A file left from an earlier run must not pass for this run's save.
    const QString csv = outputPath(csvFileName());
    if (QFileInfo::exists(csv) && !QFile::remove(csv))
        return fail(tr("cannot remove the old %1").arg(csv));
    QSerialPort *port = controlPanel->serialPort();
    if (!port->isOpen())
        return fail(tr("the unit's port %1 is not open: %2").arg(port->portName(), port->errorString()));

    // The sensor count, then each sensor's sensitivity, as the buttons lead the operator.
    auto *countSpin = need<QSpinBox>(controlPanel, "sensNumSpin");
    auto *countButton = need<QAbstractButton>(controlPanel, "sensNumBtn");
    if (done)
        return;
    countSpin->setValue(options.sensors);
    countButton->click();
    if (done)
        return; // a box came up instead
    const QStringList texts = sensitivityTexts();
    for (int s = 1; s <= options.sensors; ++s) {
        auto *edit = need<QLineEdit>(controlPanel, qPrintable(QStringLiteral("setS%1Edit").arg(s)));
        auto *button = need<QAbstractButton>(controlPanel, qPrintable(QStringLiteral("setS%1Btn").arg(s)));
        if (done)
            return;
        if (!button->isEnabled())
            return fail(tr("the button for sensor %1 is not enabled").arg(s));
        edit->clear();
        edit->insert(texts[s - 1]);
        button->click();
        if (done)
            return;
    }
    if (!grabTo(controlPanel, controlPanelPictureName()))
        return;

    // Over to the acquisition window.
    auto *graphButton = need<QAbstractButton>(controlPanel, "plotWindowBtn");
    if (done)
        return;
    graphButton->click();
    const auto windows = controlPanel->findChildren<QMainWindow *>(QString(), Qt::FindDirectChildrenOnly);
    for (QMainWindow *window : windows) {
        if (window->inherits("Window2"))
            acquisitionWindow = window;
    }
    if (!acquisitionWindow)
        return fail(tr("no acquisition window opened"));
    for (int s = 1; s <= options.sensors; ++s) {
        auto *box = need<QCheckBox>(acquisitionWindow, qPrintable(QStringLiteral("toggle%1").arg(s)));
        if (done)
            return;
        if (!box->isChecked())
            box->click();
        if (!box->isChecked())
            return fail(tr("the box of sensor %1 cannot be ticked").arg(s));
    }
    auto *startButton = need<QAbstractButton>(acquisitionWindow, "startData");
    if (done)
        return;
    startButton->click();
    if (done)
        return;
    QTimer::singleShot(int(options.seconds * 1000), this, &Autopilot::saveAndFinish);
}

void Autopilot::saveAndFinish()
{
    if (done)
        return;
    if (!acquisitionWindow)
        return fail(tr("the acquisition window has gone"));
    // Paused first, as an operator ends a run, so that the save holds the whole run.
    auto *pauseButton = need<QAbstractButton>(acquisitionWindow, "pauseData");
    auto *saveAction = need<QAction>(acquisitionWindow, "actionSave_as");
    if (done)
        return;
    pauseButton->click();
    // The dialog runs its own event loop inside trigger(); watchModals() fills it in.
    saving = true;
    saveAction->trigger();
    saving = false;
    if (done)
        return;
    const QFileInfo csv(outputPath(csvFileName()));
    if (!csv.exists())
        return fail(tr("%1 was not written").arg(csv.filePath()));
    if (csv.size() == 0)
        return fail(tr("%1 is empty: no record was taken").arg(csv.filePath()));
    QFile file(csv.filePath());
    const int records = file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    summary = tr("wrote %1 (%2 records), %3")
                  .arg(csv.filePath())
                  .arg(records)
                  .arg(outputPath(controlPanelPictureName()));
    QTimer::singleShot(SettleMs, this, &Autopilot::takeAcquisitionPicture);
}

void Autopilot::takeAcquisitionPicture()
{
    if (done)
        return;
    if (!acquisitionWindow)
        return fail(tr("the acquisition window has gone"));
    if (!grabTo(acquisitionWindow, acquisitionPictureName()))
        return;
    summary += QStringLiteral(", ") + outputPath(acquisitionPictureName());
    finish();
}

bool Autopilot::grabTo(QWidget *window, const QString &fileName)
{
    const QString path = outputPath(fileName);
    if (!window->grab().save(path, "PNG")) {
        fail(tr("cannot write %1").arg(path));
        return false;
    }
    return true;
}

void Autopilot::watchModals()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && saving) {
        const QString path = outputPath(csvFileName());
        dialog->selectFile(path);
        // selectFile() leaves the name field alone while it has the keyboard focus: type it in.
        if (auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            nameEdit->setText(csvFileName());
        if (dialog->selectedFiles() != QStringList{path})
            return fail(tr("the save dialog does not take %1 (it has %2)")
                            .arg(path, dialog->selectedFiles().join(", ")));
        static_cast<QDialog *>(dialog)->accept(); // as the Save button does
        return;
    }
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (box && saving && box->button(QMessageBox::Yes)) {
        box->button(QMessageBox::Yes)->click(); // replace a file of the same name
        return;
    }
    // Anything else is a failure the operator would have been told about.
    const QString what = box ? QStringLiteral("\"%1\": %2").arg(box->windowTitle(), box->text())
                             : QStringLiteral("\"%1\"").arg(modal->windowTitle());
    fail(tr("unexpected dialog %1").arg(what));
}

void Autopilot::fail(const QString &why)
{
    if (done)
        return;
    failure = why;
    // Leave no dialog waiting: a run that failed inside one would never get back.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
    finish();
}

void Autopilot::finish()
{
    if (done)
        return;
    done = true;
    deadline.stop();
    modalWatch.stop();
    emit finished(failure.isEmpty(), message());
}

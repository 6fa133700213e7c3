// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "simunit/pseudoterminal.h"
#include "simunit/simulatedunit.h"
#include "support/modalcloser.h"
#include "unit/portlist.h"

#include "data/csvwriter.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <memory>

// A control panel on a pseudo-terminal "unit", configured with a sensor count, and its
// acquisition window opened through the real button. The test plays the unit on pty.
struct AcquisitionRig
{
    PseudoTerminal pty;
    std::unique_ptr<MainWindow> panel;
    Window2 *window = nullptr;

    // sensors 1..4 is sent with the count button; 0 leaves the count unsent.
    explicit AcquisitionRig(int sensors)
    {
        const QString path = pty.slavePath();
        setPortListSource(
            [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("test unit"))}; });
        panel = std::make_unique<MainWindow>();
        setPortListSource(nullptr);
        if (sensors > 0) {
            panel->findChild<QSpinBox *>(QStringLiteral("sensNumSpin"))->setValue(sensors);
            panel->findChild<QPushButton *>(QStringLiteral("sensNumBtn"))->click();
            panel->serialPort()->waitForBytesWritten(1000);
            pty.read(200); // the count digit
        }
        panel->show();
        panel->findChild<QPushButton *>(QStringLiteral("plotWindowBtn"))->click();
        window = panel->findChild<Window2 *>();
    }

    template <typename T> T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    void click(const char *button) const { widget<QPushButton>(button)->click(); }
    void start() const { click("startData"); }
    void pause() const { click("pauseData"); }
    void reset() const { click("resetData"); }
    void tick(int sensor) const
    {
        const QByteArray name = "toggle" + QByteArray::number(sensor);
        widget<QCheckBox>(name.constData())->click();
    }
    // Sends bytes from the unit and lets the window read them.
    void send(const QByteArray &bytes)
    {
        QVERIFY(pty.write(bytes));
        settle();
    }
    static void settle(int ms = 60) { QTest::qWait(ms); }
    int records() const { return window->recordedTimes().size(); }

    // Runs "Save as...", answering the file dialog with fileName (empty: cancel); returns the
    // boxes and dialogs that came up.
    QList<ModalCloser::Seen> saveAs(const QString &fileName) const
    {
        return runAsking("actionSave_as", fileName);
    }

    // Triggers the window's action of that name, answering its file dialog with fileName (empty:
    // cancel); returns the boxes and dialogs that came up.
    QList<ModalCloser::Seen> runAsking(const char *action, const QString &fileName) const
    {
        ModalCloser closer;
        closer.setHandler([fileName](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog || fileName.isEmpty()) {
                static_cast<QDialog *>(w)->reject();
                return;
            }
            // Typed into the name field, as a person would.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
            static_cast<QDialog *>(dialog)->accept();
        });
        widget<QAction>(action)->trigger();
        return closer.seen();
    }

    // The CSV text of everything the window holds, for n sensors.
    QByteArray expectedCsv(int n) const
    {
        QByteArray out;
        const QVector<double> &t = window->recordedTimes();
        for (int i = 0; i < t.size(); ++i) {
            out += formatCsvNumber(t[i]);
            for (int k = 1; k <= 2 * n; ++k)
                out += ',' + formatCsvNumber(window->channelSeries(k)[i]);
            out += '\n';
        }
        return out;
    }
};

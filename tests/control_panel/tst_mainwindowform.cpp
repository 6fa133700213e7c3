// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel's form: the widget tree that MainWindow's slots and code reach by name.

#include "control_panel/mainwindow.h"
#include "support/formcheck.h"
#include "support/formfixture.h"
#include "support/messagecapture.h"
#include "support/modalcloser.h"
#include "ui_mainwindow.h"
#include "unit/portlist.h"

#include <QtTest>

using formcheck::childNames;
using formcheck::itemNames;

class TestMainWindowForm : public QObject, private FormFixture<Ui_MainWindow>
{
    Q_OBJECT

private slots:
    void init() { setUpForm(); }
    void cleanup() { tearDownForm(); }

    void windowNameKeptOrSet();
    void treeNamesClassesAndOrder();
    void geometry();
    void layouts();
    void fonts();
    void texts();
    void startingState();
    void controlPanelBuildsTheForm();
};

void TestMainWindowForm::windowNameKeptOrSet()
{
    formcheck::checkWindowName<Ui_MainWindow>("MainWindow");
}

void TestMainWindowForm::treeNamesClassesAndOrder()
{
    formcheck::checkMembers({
        {ui->centralWidget, "centralWidget", "QWidget", window},
        {ui->plotWindowBtn, "plotWindowBtn", "QPushButton", ui->centralWidget},
        {ui->label, "label", "QLabel", ui->centralWidget},
        {ui->layoutWidget, "layoutWidget", "QWidget", ui->centralWidget},
        {ui->verticalLayout, "verticalLayout", "QVBoxLayout", ui->layoutWidget},
        {ui->horizontalLayout, "horizontalLayout", "QHBoxLayout", ui->verticalLayout},
        {ui->setS1Edit, "setS1Edit", "QLineEdit", ui->layoutWidget},
        {ui->setS2Edit, "setS2Edit", "QLineEdit", ui->layoutWidget},
        {ui->setS3Edit, "setS3Edit", "QLineEdit", ui->layoutWidget},
        {ui->setS4Edit, "setS4Edit", "QLineEdit", ui->layoutWidget},
        {ui->horizontalLayout_2, "horizontalLayout_2", "QHBoxLayout", ui->verticalLayout},
        {ui->setS1Btn, "setS1Btn", "QPushButton", ui->layoutWidget},
        {ui->setS2Btn, "setS2Btn", "QPushButton", ui->layoutWidget},
        {ui->setS3Btn, "setS3Btn", "QPushButton", ui->layoutWidget},
        {ui->setS4Btn, "setS4Btn", "QPushButton", ui->layoutWidget},
        {ui->layoutWidget1, "layoutWidget1", "QWidget", ui->centralWidget},
        {ui->horizontalLayout_3, "horizontalLayout_3", "QHBoxLayout", ui->layoutWidget1},
        {ui->sensNumSpin, "sensNumSpin", "QSpinBox", ui->layoutWidget1},
        {ui->sensNumBtn, "sensNumBtn", "QPushButton", ui->layoutWidget1},
        {ui->label_2, "label_2", "QLabel", ui->centralWidget},
        {ui->label_3, "label_3", "QLabel", ui->centralWidget},
        {ui->menuBar, "menuBar", "QMenuBar", window},
        {ui->mainToolBar, "mainToolBar", "QToolBar", window},
        {ui->statusBar, "statusBar", "QStatusBar", window},
    });
    if (QTest::currentTestFailed())
        return;

    // Creation order shows as the order of each parent's children (and so the focus chain).
    QCOMPARE(childNames(ui->centralWidget),
             QStringList({"plotWindowBtn", "label", "layoutWidget", "layoutWidget1", "label_2", "label_3"}));
    QCOMPARE(childNames(ui->layoutWidget),
             QStringList({"verticalLayout", "setS1Edit", "setS2Edit", "setS3Edit", "setS4Edit", "setS1Btn",
                          "setS2Btn", "setS3Btn", "setS4Btn"}));
    QCOMPARE(childNames(ui->layoutWidget1), QStringList({"horizontalLayout_3", "sensNumSpin", "sensNumBtn"}));
    QCOMPARE(formcheck::windowParts(window),
             QStringList({"centralWidget", "menuBar", "mainToolBar", "statusBar"}));

    QCOMPARE(itemNames(ui->verticalLayout), QStringList({"horizontalLayout", "horizontalLayout_2"}));
    QCOMPARE(itemNames(ui->horizontalLayout),
             QStringList({"setS1Edit", "setS2Edit", "setS3Edit", "setS4Edit"}));
    QCOMPARE(itemNames(ui->horizontalLayout_2),
             QStringList({"setS1Btn", "setS2Btn", "setS3Btn", "setS4Btn"}));
    QCOMPARE(itemNames(ui->horizontalLayout_3), QStringList({"sensNumSpin", "sensNumBtn"}));

    QCOMPARE(window->centralWidget(), ui->centralWidget);
    QCOMPARE(window->menuBar(), ui->menuBar);
    QCOMPARE(window->statusBar(), ui->statusBar);
    QCOMPARE(window->toolBarArea(ui->mainToolBar), Qt::TopToolBarArea);
    QCOMPARE(window->findChildren<QToolBar *>().size(), 1);
    QCOMPARE(ui->layoutWidget->layout(), ui->verticalLayout);
    QCOMPARE(ui->layoutWidget1->layout(), ui->horizontalLayout_3);
    QVERIFY(!ui->centralWidget->layout()); // absolute geometry
}

void TestMainWindowForm::geometry()
{
    QCOMPARE(window->size(), QSize(542, 377));
    QCOMPARE(ui->plotWindowBtn->geometry(), QRect(190, 280, 151, 23));
    QCOMPARE(ui->label->geometry(), QRect(80, 30, 381, 29));
    QCOMPARE(ui->layoutWidget->geometry(), QRect(70, 180, 397, 63));
    QCOMPARE(ui->layoutWidget1->geometry(), QRect(160, 80, 221, 41));
    QCOMPARE(ui->label_2->geometry(), QRect(430, 0, 121, 31));
    QCOMPARE(ui->label_3->geometry(), QRect(90, 140, 371, 29));
    QCOMPARE(ui->menuBar->geometry(), QRect(0, 0, 542, 26));

    // Nothing lays out the central widget: a resized window moves and scales nothing.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->resize(800, 600);
    QCoreApplication::processEvents();
    QCOMPARE(ui->layoutWidget->geometry(), QRect(70, 180, 397, 63));
    QCOMPARE(ui->plotWindowBtn->geometry(), QRect(190, 280, 151, 23));
}

void TestMainWindowForm::layouts()
{
    const QBoxLayout *const all[] = {ui->verticalLayout, ui->horizontalLayout, ui->horizontalLayout_2,
                                     ui->horizontalLayout_3};
    for (const QBoxLayout *layout : all) {
        QCOMPARE(layout->spacing(), 6);
        QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
        QVERIFY2(formcheck::plainItems(layout), qPrintable(layout->objectName()));
    }
    // No size constraints of their own anywhere.
    const auto widgets = ui->centralWidget->findChildren<QWidget *>();
    for (const QWidget *w : widgets) {
        QCOMPARE(w->minimumSize(), QSize(0, 0));
        QCOMPARE(w->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }
}

void TestMainWindowForm::fonts()
{
    QVERIFY(!window->testAttribute(Qt::WA_SetFont));
    QCOMPARE(formcheck::widgetsWithOwnFont(window), QStringList({"label", "label_3"}));
    for (const QLabel *label : {ui->label, ui->label_3}) {
        const QFont f = label->font();
        QCOMPARE(f.family(), QStringLiteral("Cambria"));
        QCOMPARE(f.pointSize(), 16);
        QCOMPARE(f.weight(), 50);
        QVERIFY(!f.bold());
        QVERIFY(!f.italic());
    }
}

void TestMainWindowForm::texts()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));
    QCOMPARE(ui->plotWindowBtn->text(), QStringLiteral("Graph Window"));
    QCOMPARE(ui->setS1Btn->text(), QStringLiteral("Set S1"));
    QCOMPARE(ui->setS2Btn->text(), QStringLiteral("Set S2"));
    QCOMPARE(ui->setS3Btn->text(), QStringLiteral("Set S3"));
    QCOMPARE(ui->setS4Btn->text(), QStringLiteral("Set S4"));
    QCOMPARE(ui->sensNumBtn->text(), QStringLiteral("Set Number of Sensors"));
    QCOMPARE(ui->label->text(), QStringLiteral("<html><head/><body><p align=\"center\"><span style=\" "
                                               "font-size:14pt;\">Quellspan</span></p></body></html>"));
    QCOMPARE(ui->label_3->text(),
             QStringLiteral("<html><head/><body><p align=\"center\"><span style=\" "
                            "font-family:'Calibri,sans-serif'; font-size:12pt;\">Set "
                            "Sensor Sensitivities (in uV/(W/m^2))</span></p></body></html>"));
    QVERIFY(ui->label_2->text().isEmpty());
}

void TestMainWindowForm::startingState()
{
    QCOMPARE(ui->sensNumSpin->minimum(), 1);
    QCOMPARE(ui->sensNumSpin->maximum(), 4);
    QCOMPARE(ui->sensNumSpin->value(), 1);
    ui->sensNumSpin->setValue(5);
    QCOMPARE(ui->sensNumSpin->value(), 4);
    ui->sensNumSpin->setValue(0);
    QCOMPARE(ui->sensNumSpin->value(), 1);

    for (const QLineEdit *edit : {ui->setS1Edit, ui->setS2Edit, ui->setS3Edit, ui->setS4Edit}) {
        QVERIFY(edit->isEnabled());
        QVERIFY(edit->text().isEmpty());
        QVERIFY(edit->placeholderText().isEmpty());
        QVERIFY(!edit->validator());
        QCOMPARE(edit->maxLength(), 32767); // the toolkit's default: no limit of the form's own
    }
    for (const QPushButton *button :
         {ui->setS1Btn, ui->setS2Btn, ui->setS3Btn, ui->setS4Btn, ui->sensNumBtn, ui->plotWindowBtn})
        QVERIFY(button->isEnabled());

    QVERIFY(ui->menuBar->actions().isEmpty());
    QVERIFY(ui->mainToolBar->actions().isEmpty());
    QVERIFY(ui->statusBar->currentMessage().isEmpty());
}

void TestMainWindowForm::controlPanelBuildsTheForm()
{
    setPortListSource([] { return QList<PortEntry>(); });
    MessageCapture capture;
    ModalCloser closer; // "Could Not Detect Device"
    MainWindow panel;

    // Every on_<object>_<signal> slot finds its object: a renamed widget would silently
    // disconnect its button.
    const QStringList wired = formcheck::autoConnections(MainWindow::staticMetaObject, &panel);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(wired, QStringList({"plotWindowBtn.clicked", "sensNumBtn.clicked", "setS1Btn.clicked",
                                 "setS2Btn.clicked", "setS3Btn.clicked", "setS4Btn.clicked"}));
    for (const QString &message : capture.messages())
        QVERIFY2(!message.contains(QLatin1String("connectSlotsByName")), qPrintable(message));

    QCOMPARE(panel.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(panel.size(), QSize(542, 377));
    QVERIFY(!panel.windowIcon().isNull());
    QVERIFY(!panel.windowIcon().availableSizes().isEmpty());

    auto *logo = panel.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(logo);
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(109, 17));
    QVERIFY(!logo->hasScaledContents());
    QVERIFY(logo->text().isEmpty());
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"

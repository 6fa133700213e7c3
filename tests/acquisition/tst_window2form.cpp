// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window's form: the widget tree that Window2's slots and code reach by name,
// its readouts' colours and settings, fonts, texts and menu.

#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "support/formcheck.h"
#include "support/formfixture.h"
#include "support/messagecapture.h"
#include "support/modalcloser.h"
#include "ui_window2.h"
#include "unit/portlist.h"

#include <QtTest>

using formcheck::childNames;
using formcheck::itemNames;

class TestWindow2Form : public QObject, private FormFixture<Ui_Window2>
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
    void readouts();
    void texts();
    void menuAndBars();
    void sensorBoxesStartUnchecked();
    void slotsFindTheirObjects();
    void acquisitionWindowBuildsTheForm();
};

void TestWindow2Form::windowNameKeptOrSet()
{
    formcheck::checkWindowName<Ui_Window2>("Window2");
}

void TestWindow2Form::treeNamesClassesAndOrder()
{
    // Every member points at the object of its own name, of the right class, under the right parent.
    QWidget *const block = ui->layoutWidget3;
    formcheck::checkMembers({
        {ui->actionSave_as, "actionSave_as", "QAction", window},
        {ui->centralwidget, "centralwidget", "QWidget", window},
        {ui->layoutWidget, "layoutWidget", "QWidget", ui->centralwidget},
        {ui->horizontalLayout_3, "horizontalLayout_3", "QHBoxLayout", ui->layoutWidget},
        {ui->startData, "startData", "QPushButton", ui->layoutWidget},
        {ui->pauseData, "pauseData", "QPushButton", ui->layoutWidget},
        {ui->layoutWidget1, "layoutWidget1", "QWidget", ui->centralwidget},
        {ui->verticalLayout_4, "verticalLayout_4", "QVBoxLayout", ui->layoutWidget1},
        {ui->plot, "plot", "QCustomPlot", ui->layoutWidget1},
        {ui->plot2, "plot2", "QCustomPlot", ui->layoutWidget1},
        {ui->resetData, "resetData", "QPushButton", ui->centralwidget},
        {ui->layoutWidget2, "layoutWidget2", "QWidget", ui->centralwidget},
        {ui->horizontalLayout_4, "horizontalLayout_4", "QHBoxLayout", ui->layoutWidget2},
        {ui->label, "label", "QLabel", ui->layoutWidget2},
        {ui->timeLCD, "timeLCD", "QLCDNumber", ui->layoutWidget2},
        {ui->label_2, "label_2", "QLabel", ui->centralwidget},
        {ui->layoutWidget3, "layoutWidget3", "QWidget", ui->centralwidget},
        {ui->horizontalLayout_5, "horizontalLayout_5", "QHBoxLayout", block},
        {ui->horizontalLayout_2, "horizontalLayout_2", "QHBoxLayout", ui->horizontalLayout_5},
        {ui->verticalLayout_3, "verticalLayout_3", "QVBoxLayout", ui->horizontalLayout_2},
        {ui->toggle1, "toggle1", "QCheckBox", block},
        {ui->toggle2, "toggle2", "QCheckBox", block},
        {ui->toggle3, "toggle3", "QCheckBox", block},
        {ui->toggle4, "toggle4", "QCheckBox", block},
        {ui->horizontalLayout, "horizontalLayout", "QHBoxLayout", ui->horizontalLayout_2},
        {ui->verticalLayout_2, "verticalLayout_2", "QVBoxLayout", ui->horizontalLayout},
        {ui->label1, "label1", "QLabel", block},
        {ui->label2, "label2", "QLabel", block},
        {ui->label3, "label3", "QLabel", block},
        {ui->label4, "label4", "QLabel", block},
        {ui->label5, "label5", "QLabel", block},
        {ui->label6, "label6", "QLabel", block},
        {ui->label7, "label7", "QLabel", block},
        {ui->label8, "label8", "QLabel", block},
        {ui->verticalLayout, "verticalLayout", "QVBoxLayout", ui->horizontalLayout},
        {ui->LCD1, "LCD1", "QLCDNumber", block},
        {ui->LCD2, "LCD2", "QLCDNumber", block},
        {ui->LCD3, "LCD3", "QLCDNumber", block},
        {ui->LCD4, "LCD4", "QLCDNumber", block},
        {ui->LCD5, "LCD5", "QLCDNumber", block},
        {ui->LCD6, "LCD6", "QLCDNumber", block},
        {ui->LCD7, "LCD7", "QLCDNumber", block},
        {ui->LCD8, "LCD8", "QLCDNumber", block},
        {ui->verticalLayout_5, "verticalLayout_5", "QVBoxLayout", ui->horizontalLayout_5},
        {ui->label1_2, "label1_2", "QLabel", block},
        {ui->label1_3, "label1_3", "QLabel", block},
        {ui->label3_2, "label3_2", "QLabel", block},
        {ui->label3_3, "label3_3", "QLabel", block},
        {ui->label5_2, "label5_2", "QLabel", block},
        {ui->label5_3, "label5_3", "QLabel", block},
        {ui->label7_2, "label7_2", "QLabel", block},
        {ui->label8_2, "label8_2", "QLabel", block},
        {ui->menubar, "menubar", "QMenuBar", window},
        {ui->menuFile, "menuFile", "QMenu", ui->menubar},
        {ui->statusbar, "statusbar", "QStatusBar", window},
    });
    if (QTest::currentTestFailed())
        return;

    // Creation order shows as the order of each parent's children.
    QCOMPARE(formcheck::windowParts(window),
             QStringList({"actionSave_as", "centralwidget", "menubar", "statusbar"}));
    QCOMPARE(childNames(ui->centralwidget), QStringList({"layoutWidget", "layoutWidget1", "resetData",
                                                         "layoutWidget2", "label_2", "layoutWidget3"}));
    QCOMPARE(childNames(ui->layoutWidget), QStringList({"horizontalLayout_3", "startData", "pauseData"}));
    QCOMPARE(childNames(ui->layoutWidget1), QStringList({"verticalLayout_4", "plot", "plot2"}));
    QCOMPARE(childNames(ui->layoutWidget2), QStringList({"horizontalLayout_4", "label", "timeLCD"}));
    QCOMPARE(childNames(block), QStringList({"horizontalLayout_5",
                                             "toggle1",
                                             "toggle2",
                                             "toggle3",
                                             "toggle4",
                                             "label1",
                                             "label2",
                                             "label3",
                                             "label4",
                                             "label5",
                                             "label6",
                                             "label7",
                                             "label8",
                                             "LCD1",
                                             "LCD2",
                                             "LCD3",
                                             "LCD4",
                                             "LCD5",
                                             "LCD6",
                                             "LCD7",
                                             "LCD8",
                                             "label1_2",
                                             "label1_3",
                                             "label3_2",
                                             "label3_3",
                                             "label5_2",
                                             "label5_3",
                                             "label7_2",
                                             "label8_2"}));

    // The block reads left to right: boxes, channel captions, readouts, unit captions; row k of
    // each column belongs to channel k.
    QCOMPARE(itemNames(ui->horizontalLayout_3), QStringList({"startData", "pauseData"}));
    QCOMPARE(itemNames(ui->verticalLayout_4), QStringList({"plot", "plot2"}));
    QCOMPARE(itemNames(ui->horizontalLayout_4), QStringList({"label", "timeLCD"}));
    QCOMPARE(itemNames(ui->horizontalLayout_5), QStringList({"horizontalLayout_2", "verticalLayout_5"}));
    QCOMPARE(itemNames(ui->horizontalLayout_2), QStringList({"verticalLayout_3", "horizontalLayout"}));
    QCOMPARE(itemNames(ui->verticalLayout_3), QStringList({"toggle1", "toggle2", "toggle3", "toggle4"}));
    QCOMPARE(itemNames(ui->horizontalLayout), QStringList({"verticalLayout_2", "verticalLayout"}));
    QCOMPARE(itemNames(ui->verticalLayout_2),
             QStringList({"label1", "label2", "label3", "label4", "label5", "label6", "label7", "label8"}));
    QCOMPARE(itemNames(ui->verticalLayout),
             QStringList({"LCD1", "LCD2", "LCD3", "LCD4", "LCD5", "LCD6", "LCD7", "LCD8"}));
    QCOMPARE(itemNames(ui->verticalLayout_5), QStringList({"label1_2", "label1_3", "label3_2", "label3_3",
                                                           "label5_2", "label5_3", "label7_2", "label8_2"}));

    QCOMPARE(window->centralWidget(), ui->centralwidget);
    QVERIFY(!ui->centralwidget->layout()); // absolute geometry
    QCOMPARE(ui->layoutWidget->layout(), ui->horizontalLayout_3);
    QCOMPARE(ui->layoutWidget1->layout(), ui->verticalLayout_4);
    QCOMPARE(ui->layoutWidget2->layout(), ui->horizontalLayout_4);
    QCOMPARE(ui->layoutWidget3->layout(), ui->horizontalLayout_5);
}

void TestWindow2Form::geometry()
{
    QCOMPARE(window->size(), QSize(866, 618));
    QCOMPARE(ui->layoutWidget->geometry(), QRect(450, 40, 321, 71));
    QCOMPARE(ui->layoutWidget1->geometry(), QRect(10, 20, 431, 531));
    QCOMPARE(ui->resetData->geometry(), QRect(520, 100, 191, 31));
    QCOMPARE(ui->layoutWidget2->geometry(), QRect(491, 143, 241, 41));
    QCOMPARE(ui->label_2->geometry(), QRect(750, 0, 121, 31));
    QCOMPARE(ui->layoutWidget3->geometry(), QRect(460, 190, 371, 351));
    QCOMPARE(ui->menubar->geometry(), QRect(0, 0, 866, 26));

    // Nothing lays out the central widget: resizing the window leaves the blocks where they are.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->resize(600, 400);
    QCoreApplication::processEvents();
    QCOMPARE(ui->layoutWidget3->geometry(), QRect(460, 190, 371, 351));
    QCOMPARE(ui->resetData->geometry(), QRect(520, 100, 191, 31));
}

void TestWindow2Form::layouts()
{
    // The four layouts on layout widgets have no margins; the nested ones and all spacings are
    // the toolkit's defaults.
    QWidget reference;
    const int defaultSpacing = (new QHBoxLayout(&reference))->spacing();

    const QBoxLayout *const onWidgets[] = {ui->horizontalLayout_3, ui->verticalLayout_4,
                                           ui->horizontalLayout_4, ui->horizontalLayout_5};
    const QBoxLayout *const nested[] = {ui->horizontalLayout_2, ui->verticalLayout_3, ui->horizontalLayout,
                                        ui->verticalLayout_2,   ui->verticalLayout,   ui->verticalLayout_5};
    for (const QBoxLayout *layout : onWidgets)
        QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    QBoxLayout referenceNested(QBoxLayout::LeftToRight);
    for (const QBoxLayout *layout : nested)
        QCOMPARE(layout->contentsMargins(), referenceNested.contentsMargins());

    const auto all = ui->centralwidget->findChildren<QBoxLayout *>();
    QCOMPARE(all.size(), 10);
    for (const QBoxLayout *layout : all) {
        QCOMPARE(layout->spacing(), defaultSpacing);
        QVERIFY2(formcheck::plainItems(layout), qPrintable(layout->objectName()));
    }
    const auto widgets = ui->centralwidget->findChildren<QWidget *>();
    for (const QWidget *w : widgets) {
        QCOMPARE(w->minimumSize(), QSize(0, 0));
        QCOMPARE(w->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }
}

void TestWindow2Form::fonts()
{
    // The form font on the window, inherited by everything below it.
    QVERIFY(window->testAttribute(Qt::WA_SetFont));
    QCOMPARE(window->font().family(), QStringLiteral("Arial"));
    QCOMPARE(window->font().pointSize(), 12);
    QCOMPARE(ui->startData->font().family(), QStringLiteral("Arial"));
    QCOMPARE(ui->timeLCD->font().pointSize(), 12);

    enum Kind
    {
        FormFont,
        Bold,
        NotBold
    };
    const QList<QPair<QLabel *, Kind>> labels = {
        {ui->label, Bold},        {ui->label1, FormFont},   {ui->label2, NotBold},
        {ui->label3, FormFont},   {ui->label4, FormFont},   {ui->label5, Bold},
        {ui->label6, Bold},       {ui->label7, Bold},       {ui->label8, Bold},
        {ui->label1_2, FormFont}, {ui->label1_3, FormFont}, {ui->label3_2, FormFont},
        {ui->label3_3, FormFont}, {ui->label5_2, Bold},     {ui->label5_3, Bold},
        {ui->label7_2, Bold},     {ui->label8_2, Bold},
    };
    QList<QPair<QWidget *, Kind>> explicitFonts;
    for (const auto &l : labels)
        explicitFonts.append({l.first, l.second});
    for (QCheckBox *box : {ui->toggle1, ui->toggle2, ui->toggle3, ui->toggle4})
        explicitFonts.append({box, FormFont});

    QStringList expectedOwnFont;
    for (const auto &entry : explicitFonts) {
        const QWidget *w = entry.first;
        const QFont f = w->font();
        expectedOwnFont << w->objectName();
        QCOMPARE(f.family(), QStringLiteral("Arial"));
        QCOMPARE(f.pointSize(), 12);
        QCOMPARE(f.bold(), entry.second == Bold);
        QCOMPARE(f.weight(), entry.second == Bold ? 75 : 50);
        // Only the bold captions and label2 name a weight of their own.
        QCOMPARE(bool(f.resolve() & QFont::WeightResolved), entry.second != FormFont);
    }
    expectedOwnFont.sort();
    QCOMPARE(formcheck::widgetsWithOwnFont(window), expectedOwnFont);
}

void TestWindow2Form::readouts()
{
    const QColor black(0, 0, 0), red(255, 0, 0), green(0, 155, 0), blue(0, 0, 255), magenta(255, 0, 255);
    const QList<QPair<QLCDNumber *, QColor>> readouts = {
        {ui->timeLCD, black}, {ui->LCD1, red},  {ui->LCD2, red},     {ui->LCD3, green},   {ui->LCD4, green},
        {ui->LCD5, blue},     {ui->LCD6, blue}, {ui->LCD7, magenta}, {ui->LCD8, magenta},
    };
    const uint ownRoles = (1u << QPalette::WindowText) | (1u << QPalette::Light) | (1u << QPalette::Dark) |
                          (1u << QPalette::Text) | (1u << QPalette::ButtonText) |
                          (1u << QPalette::PlaceholderText);

    const QLCDNumber plain; // the toolkit's defaults
    for (const auto &r : readouts) {
        const QLCDNumber *lcd = r.first;
        const QColor colour = r.second;
        const QPalette p = lcd->palette();
        const QByteArray name = lcd->objectName().toLatin1();
        QVERIFY2(lcd->testAttribute(Qt::WA_SetPalette), name);
        // No other role is set: the rest comes from the application palette.
        QCOMPARE(p.resolve(), ownRoles);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor textColour = group == QPalette::Disabled ? colour : black;
            const QList<QPair<QPalette::ColorRole, QColor>> solid = {{QPalette::WindowText, colour},
                                                                     {QPalette::Light, colour},
                                                                     {QPalette::Dark, colour},
                                                                     {QPalette::Text, textColour},
                                                                     {QPalette::ButtonText, textColour}};
            for (const auto &role : solid) {
                const QBrush brush = p.brush(group, role.first);
                QVERIFY2(brush.style() == Qt::SolidPattern, name);
                QCOMPARE(brush.color(), role.second);
                QCOMPARE(brush.color().alpha(), 255);
            }
            const QBrush placeholder = p.brush(group, QPalette::PlaceholderText);
            QCOMPARE(placeholder.style(), Qt::NoBrush);
            QCOMPARE(placeholder.color(), QColor(0, 0, 0, 128));
        }

        QCOMPARE(lcd->smallDecimalPoint(), lcd == ui->timeLCD);
        QCOMPARE(lcd->digitCount(), 5);
        QCOMPARE(lcd->mode(), plain.mode());
        QCOMPARE(lcd->segmentStyle(), plain.segmentStyle());
        QCOMPARE(lcd->value(), 0.0);
        QCOMPARE(lcd->intValue(), 0);
    }
}

void TestWindow2Form::texts()
{
    const auto caption = [](const char *style, const char *text) {
        return QStringLiteral(
                   "<html><head/><body><p align=\"center\"><span style=\" %1\">%2</span></p></body></html>")
            .arg(QLatin1String(style), QLatin1String(text));
    };
    const char *const redBold = "font-weight:600; color:#ff0000;";
    const char *const greenBold = "font-weight:600; color:#009b00;";
    const char *const blue = "color:#0000ff;";
    const char *const magenta = "color:#ff00ff;";

    QCOMPARE(window->windowTitle(), QStringLiteral("Quellspan"));
    QCOMPARE(ui->actionSave_as->text(), QStringLiteral("Save as..."));
    QCOMPARE(ui->startData->text(), QStringLiteral("Start Data"));
    QCOMPARE(ui->pauseData->text(), QStringLiteral("Pause Data"));
    QCOMPARE(ui->resetData->text(), QStringLiteral("Reset/Clear All Data"));
    QCOMPARE(ui->label->text(), QStringLiteral("Elapsed Time (s):"));
    QVERIFY(ui->label_2->text().isEmpty());
    QCOMPARE(ui->toggle1->text(), QStringLiteral("Sensor1"));
    QCOMPARE(ui->toggle2->text(), QStringLiteral("Sensor 2"));
    QCOMPARE(ui->toggle3->text(), QStringLiteral("Sensor 3"));
    QCOMPARE(ui->toggle4->text(), QStringLiteral("Sensor 4"));

    // The heat-flux captions carry the entity itself, so they show q" (q double-prime).
    QCOMPARE(ui->label1->text(), caption(redBold, "CH1: q&quot;="));
    QCOMPARE(ui->label2->text(), caption(redBold, "CH2: T="));
    QCOMPARE(ui->label3->text(), caption(greenBold, "CH3: q&quot;="));
    QCOMPARE(ui->label4->text(), caption(greenBold, "CH4: T="));
    QCOMPARE(ui->label5->text(), caption(blue, "CH5: q&quot;="));
    QCOMPARE(ui->label6->text(), caption(blue, "CH6: T="));
    QCOMPARE(ui->label7->text(), caption(magenta, "CH7: q&quot;="));
    QCOMPARE(ui->label8->text(), caption(magenta, "CH8: T="));
    QCOMPARE(ui->label1_2->text(), caption(redBold, "W/m^2"));
    QCOMPARE(ui->label1_3->text(), caption(redBold, "degC"));
    QCOMPARE(ui->label3_2->text(), caption(greenBold, "W/m^2"));
    QCOMPARE(ui->label3_3->text(), caption(greenBold, "degC"));
    QCOMPARE(ui->label5_2->text(), caption(blue, "W/m^2"));
    QCOMPARE(ui->label5_3->text(), caption(blue, "degC"));
    QCOMPARE(ui->label7_2->text(), caption(magenta, "W/m^2"));
    QCOMPARE(ui->label8_2->text(), caption(magenta, "degC"));
    QCOMPARE(ui->menuFile->title(), QStringLiteral("File"));

    // As rich text, the caption reads q" on screen.
    QTextDocument doc;
    doc.setHtml(ui->label7->text());
    QCOMPARE(doc.toPlainText(), QStringLiteral("CH7: q\"="));
}

void TestWindow2Form::menuAndBars()
{
    QCOMPARE(window->menuBar(), ui->menubar);
    QCOMPARE(window->statusBar(), ui->statusbar);
    QCOMPARE(ui->menubar->actions(), QList<QAction *>({ui->menuFile->menuAction()}));
    QCOMPARE(ui->menuFile->actions(), QList<QAction *>({ui->actionSave_as}));
    QVERIFY(ui->actionSave_as->shortcut().isEmpty());
    QVERIFY(!ui->actionSave_as->text().contains(QLatin1Char('&')));
    QVERIFY(!ui->menuFile->title().contains(QLatin1Char('&')));
    QVERIFY(ui->actionSave_as->isEnabled());
    QVERIFY(!ui->actionSave_as->isCheckable());
    QVERIFY(window->findChildren<QToolBar *>().isEmpty());
    QVERIFY(ui->statusbar->currentMessage().isEmpty());

    const QIcon icon = window->windowIcon();
    QVERIFY(!icon.isNull());
}

void TestWindow2Form::sensorBoxesStartUnchecked()
{
    for (const QCheckBox *box : {ui->toggle1, ui->toggle2, ui->toggle3, ui->toggle4}) {
        QCOMPARE(box->checkState(), Qt::Unchecked);
        QVERIFY(!box->isTristate());
        QVERIFY(box->isEnabled());
    }
    for (const QPushButton *button : {ui->startData, ui->pauseData, ui->resetData}) {
        QVERIFY(button->isEnabled());
        QVERIFY(!button->isCheckable());
    }
}

void TestWindow2Form::slotsFindTheirObjects()
{
    // A slot reached by name does nothing if its object is renamed: every on_<object>_<signal>
    // slot of the window must find its object in this form, with a fitting signal.
    const QStringList wired = formcheck::autoConnections(Window2::staticMetaObject, window);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(wired, QStringList({"startData.clicked", "pauseData.clicked", "toggle1.clicked",
                                 "toggle2.clicked", "toggle3.clicked", "toggle4.clicked", "resetData.clicked",
                                 "actionSave_as.triggered"}));
}

void TestWindow2Form::acquisitionWindowBuildsTheForm()
{
    setPortListSource([] { return QList<PortEntry>(); });
    ModalCloser closer; // "Could Not Detect Device"
    MainWindow panel;
    MessageCapture capture;
    Window2 graphs(&panel);

    for (const QString &message : capture.messages())
        QVERIFY2(!message.contains(QLatin1String("connectSlotsByName")), qPrintable(message));
    QCOMPARE(graphs.objectName(), QStringLiteral("Window2"));
    QCOMPARE(graphs.size(), QSize(866, 618));
    QVERIFY(!graphs.windowIcon().isNull());
    auto *logo = graphs.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(logo);
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(109, 17));
    QVERIFY(logo->text().isEmpty());
    QCOMPARE(graphs.findChild<QLCDNumber *>(QStringLiteral("LCD1"))->value(), 0.0);
}

QTEST_MAIN(TestWindow2Form)
#include "tst_window2form.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Both windows on a real X server at the screen density that ctest asks of Xvfb (96 or 192 dpi),
// with high-DPI scaling on as the programs turn it on: the windows keep their layout and grow by
// the screen's scale factor (twice the pixels at 192 dpi), and no label, button or check box has
// less room than its text needs; the logo is the one drawn for the screen's density (at 192 dpi
// the twice-size drawing, not the small one enlarged). Pictures of both windows are kept in a
// temporary folder. Then quellspan-demo, started as a user starts it, leaves pictures of the
// scaled size.

#include "acquisition/readouts/readoutpictures.h"
#include "acquisition/window2.h"
#include "control_panel/mainwindow.h"
#include "simunit/pseudoterminal.h"
#include "simunit/simulatedunit.h"
#include "support/imagedifference.h"
#include "support/modalcloser.h"
#include "unit/portlist.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLCDNumber>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QWindow>
#include <QtMath>
#include <QtTest>

#include <memory>

namespace {

// The room a text needs, in the widget's own (device-independent) pixels.
QSize textNeeds(const QLabel *label)
{
    if (label->textFormat() == Qt::PlainText ||
        (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return label->fontMetrics().size(Qt::TextSingleLine, label->text());
    QTextDocument document;
    document.setDefaultFont(label->font());
    document.setDocumentMargin(0);
    document.setHtml(label->text());
    return QSize(qCeil(document.idealWidth()), qCeil(document.size().height()));
}

QSize pixmapSize(const QPixmap &pixmap)
{
    return (QSizeF(pixmap.size()) / pixmap.devicePixelRatio()).toSize();
}

// The room a button has for its text, after the style's frame, indicator and margins.
QRect textRoom(const QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool checkBox = qobject_cast<const QCheckBox *>(button);
    return button->style()->subElementRect(
        checkBox ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
}

// Every label, button and check box of window whose text has less room than it needs.
QStringList cutTexts(QWidget *window)
{
    QStringList cut;
    const auto report = [&cut](const QWidget *w, QSize needs, QSize room) {
        if (needs.width() > room.width() || needs.height() > room.height()) {
            cut << QStringLiteral("%1 needs %2x%3, has %4x%5")
                       .arg(w->objectName())
                       .arg(needs.width())
                       .arg(needs.height())
                       .arg(room.width())
                       .arg(room.height());
        }
    };
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(window))
            continue;
        if (!label->text().isEmpty())
            report(label, textNeeds(label), label->contentsRect().size());
        else if (!label->pixmap(Qt::ReturnByValue).isNull())
            report(label, pixmapSize(label->pixmap(Qt::ReturnByValue)), label->contentsRect().size());
    }
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->isVisibleTo(window) || button->text().isEmpty())
            continue;
        report(button, button->fontMetrics().size(Qt::TextShowMnemonic, button->text()),
               textRoom(button).size());
    }
    return cut;
}

} // namespace

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void controlPanel();
    void acquisitionWindow();
    void demoProgramScalesItsWindows();

private:
    void checkWindow(QWidget *window, QSize documentSize, const QString &pictureName);

    int scale = 0; // the screen's device pixels per window pixel that this run expects
    QTemporaryDir pictures{QDir::tempPath() + QStringLiteral("/quellspan-highdpi-XXXXXX")};
    PseudoTerminal unit;
    std::unique_ptr<ModalCloser> unexpectedBoxes;
    std::unique_ptr<MainWindow> panel;
};

void TestHighDpi::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
             "this check needs a real X server (run it under xvfb-run with QT_QPA_PLATFORM=xcb)");
    bool ok = false;
    scale = qEnvironmentVariableIntValue("QUELLSPAN_EXPECT_SCALE", &ok);
    QVERIFY2(ok && scale >= 1, "QUELLSPAN_EXPECT_SCALE (1 or 2) is not set");
    QScreen *screen = QGuiApplication::primaryScreen();
    qInfo("X screen: %.0f dpi; scale factor %.2f", screen->physicalDotsPerInch() * screen->devicePixelRatio(),
          screen->devicePixelRatio());
    QCOMPARE(screen->devicePixelRatio(), qreal(scale));
    QVERIFY(pictures.isValid());
    pictures.setAutoRemove(false);

    const QString path = unit.slavePath();
    setPortListSource(
        [path] { return QList<PortEntry>{measuringUnitPort(path, QStringLiteral("test unit"))}; });
    unexpectedBoxes = std::make_unique<ModalCloser>();
    panel = std::make_unique<MainWindow>();
    setPortListSource(nullptr);
    panel->setWindowTitle(QStringLiteral("Quellspan"));
    panel->show();
}

void TestHighDpi::cleanupTestCase()
{
    panel.reset();
    qInfo("pictures in %s", qPrintable(pictures.path()));
}

void TestHighDpi::checkWindow(QWidget *window, QSize documentSize, const QString &pictureName)
{
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(200);
    QCOMPARE(window->size(), documentSize);
    QCOMPARE(window->windowHandle()->devicePixelRatio(), qreal(scale));
    // What the X server holds: the window at the screen's own pixel size.
    const QImage picture = QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage();
    QCOMPARE(picture.size(), documentSize * scale);
    QVERIFY(picture.save(QDir(pictures.path()).filePath(pictureName), "PNG"));

    // The logo, drawn for this density: shown pixel for pixel, at its size in the window.
    const QPixmap logo = window->findChild<QLabel *>(QStringLiteral("label_2"))->pixmap(Qt::ReturnByValue);
    QCOMPARE(logo.devicePixelRatio(), qreal(scale));
    QCOMPARE(logo.size(), QSize(109, 17) * scale);
    // Compared as drawn (premultiplied), as the window system keeps pixmaps.
    const auto asDrawn = [](const QImage &image) {
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    const QImage small = asDrawn(QImage(QStringLiteral(":/Images/tarvi_logo_small.png")));
    const QImage drawn =
        scale == 1 ? small : asDrawn(QImage(QStringLiteral(":/Images/tarvi_logo_small@2x.png")));
    QCOMPARE(asDrawn(logo.toImage()), drawn);
    if (scale == 2)
        QVERIFY(drawn != small.scaled(small.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation));

    const QStringList cut = cutTexts(window);
    QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("cut texts: ") + cut.join(QStringLiteral("; "))));
    QCOMPARE(unexpectedBoxes->count(), 0);
}

void TestHighDpi::controlPanel()
{
    checkWindow(panel.get(), QSize(542, 377), QStringLiteral("control-panel.png"));
}

void TestHighDpi::acquisitionWindow()
{
    panel->findChild<QPushButton *>(QStringLiteral("plotWindowBtn"))->click();
    auto *window = panel->findChild<Window2 *>();
    QVERIFY(window);
    checkWindow(window, QSize(866, 618), QStringLiteral("acquisition.png"));

    // The readouts are drawn from pictures made at the screen's scale: they must look as the
    // readouts draw themselves with the style there (the pictures exactly, the digits within the
    // rounding of blending pictures).
    const QList<QLCDNumber *> readouts = window->findChildren<QLCDNumber *>();
    auto *pictures = qobject_cast<ReadoutPictures *>(readouts.value(0)->style());
    QVERIFY(pictures);
    for (QLCDNumber *lcd : readouts) {
        const QImage fromPicture = lcd->grab().toImage();
        QStyle *const served = lcd->style();
        lcd->setStyle(QApplication::style());
        const QImage asDrawn = lcd->grab().toImage();
        lcd->setStyle(served);
        QCOMPARE(fromPicture.size(), lcd->size() * scale);
        const QString how = blendingDifference(fromPicture, asDrawn, lcd->contentsRect());
        QVERIFY2(how.isEmpty(), qPrintable(lcd->objectName() + QLatin1Char(' ') + how));
    }
    // Everything here is drawn at the screen's scale, so these pictures were made at it.
    QVERIFY2(pictures->picturesMade() >= readouts.size(),
             qPrintable(QString::number(pictures->picturesMade())));
    QVERIFY2(pictures->digitsDrawn() >= quint64(readouts.size()),
             qPrintable(QString::number(pictures->digitsDrawn())));
}

void TestHighDpi::demoProgramScalesItsWindows()
{
    QTemporaryDir out;
    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(QStringLiteral(QUELLSPAN_DEMO),
               {QStringLiteral("--autopilot"), out.path(), QStringLiteral("--seconds"), QStringLiteral("1")});
    QVERIFY(demo.waitForFinished(90000));
    QCOMPARE(demo.exitCode(), 0);
    // The autopilot's pictures hold every pixel the screen shows of each window.
    QCOMPARE(QImage(out.filePath(QStringLiteral("control-panel.png"))).size(), QSize(542, 377) * scale);
    QCOMPARE(QImage(out.filePath(QStringLiteral("acquisition.png"))).size(), QSize(866, 618) * scale);
}

int main(int argc, char *argv[])
{
    // As both programs start.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"

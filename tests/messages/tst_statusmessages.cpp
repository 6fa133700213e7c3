// SPDX-License-Identifier: GPL-3.0-or-later
// Status messages are never cut off unseen: shown whole where they fit, otherwise cut short with
// "…" and their whole text in the tooltip, and kept in a history (newest first, with times) that
// the status bar's context menu opens. On a window of the acquisition window's size and font,
// beside a permanent item as wide as the live recording's.

#include "messages/messagelistwindow.h"
#include "messages/statusmessages.h"
#include "support/messagecheck.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QtTest>

class TestStatusMessages : public QObject
{
    Q_OBJECT

private slots:
    void historyKeepsTheNewestFirstWithTimes();
    void messagesFitOrAreCutWithTheirTextAtHand();
    void contextMenuOpensTheHistoryAndCopies();
};

void TestStatusMessages::historyKeepsTheNewestFirstWithTimes()
{
    MessageHistory history(3);
    const QDateTime t0(QDate(2026, 12, 7), QTime(22, 5, 53));
    history.add(QStringLiteral("first"), t0);
    history.add(QString(), t0.addSecs(1)); // a cleared status bar is no message
    history.add(QStringLiteral("second"), t0.addSecs(2));
    history.add(QStringLiteral("second"), t0.addSecs(3)); // the same again: counted, later time
    history.add(QStringLiteral("12 lines were not 4 numbers"), t0.addSecs(4));
    // A count that goes on updates its message rather than crowd the others out.
    history.add(QStringLiteral("13 lines were not 4 numbers"), t0.addSecs(5));
    history.add(QStringLiteral("fourth"), t0.addSecs(6)); // the oldest goes
    QCOMPARE(history.entries().size(), 3);
    QCOMPARE(history.entries()[0].text, QStringLiteral("fourth"));
    QCOMPARE(history.entries()[1].text, QStringLiteral("13 lines were not 4 numbers"));
    QCOMPARE(history.entries()[2].text, QStringLiteral("second"));
    QCOMPARE(history.entries()[2].repeats, 2);
    QCOMPARE(MessageHistory::line(history.entries()[2]), QStringLiteral("22:05:56  second (2 times)"));
    QCOMPARE(MessageHistory::line(history.entries()[1]),
             QStringLiteral("22:05:58  13 lines were not 4 numbers"));
}

void TestStatusMessages::messagesFitOrAreCutWithTheirTextAtHand()
{
    QMainWindow window;
    window.resize(866, 618);
    window.setFont(QFont(QStringLiteral("Arial"), 12));
    new StatusMessages(window.statusBar());
    auto *permanent = new QLabel(QStringLiteral("2026-12-07_22-05-53_2.csv"));
    window.statusBar()->addPermanentWidget(permanent);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    MessageCheck check(window.statusBar());
    QLabel *label = StatusMessages::of(window.statusBar())->label();

    const QString longest = QStringLiteral(
        "Live recording stopped: No space left on device. The samples before are in "
        "/home/operator/.local/share/quellspan/recordings/2026-12-07_22-05-53.csv; the run goes on "
        "in memory and File > Save as... still saves every sample.");
    window.statusBar()->showMessage(longest);
    QVERIFY(label->text().size() < longest.size()); // cut, and checked as such
    QCOMPARE(label->toolTip(), longest);
    window.statusBar()->showMessage(QStringLiteral("Saved 97 samples to /tmp/x.csv."));
    QCOMPARE(label->text(), QStringLiteral("Saved 97 samples to /tmp/x.csv."));
    // Markup is shown as the text it is.
    window.statusBar()->showMessage(QStringLiteral("<b>not bold</b>"));
    QCOMPARE(label->text(), QStringLiteral("<b>not bold</b>"));
    window.statusBar()->clearMessage();
    QVERIFY(label->text().isEmpty());
    QCOMPARE(window.statusBar()->currentMessage(), QString());

    // Wider, the long one fits whole; narrower, less of it shows.
    window.statusBar()->showMessage(longest);
    const int cutAt866 = label->text().size();
    window.resize(2400, 618);
    QTRY_COMPARE(label->text(), longest);
    window.resize(542, 377);
    QTRY_VERIFY(label->text().size() < cutAt866);
    QVERIFY2(MessageCheck::problemWith(window.statusBar(), longest).isEmpty(),
             qPrintable(MessageCheck::problemWith(window.statusBar(), longest)));
    QVERIFY2(check.problems().isEmpty(), qPrintable(check.problems().join('\n')));
    QCOMPARE(check.seen().size(), 4);
}

void TestStatusMessages::contextMenuOpensTheHistoryAndCopies()
{
    QMainWindow window;
    auto *messages = new StatusMessages(window.statusBar());
    window.show();
    const QString older = QStringLiteral("The measuring unit is gone (the line was hung up).");
    const QString newer = QStringLiteral("The measuring unit is back after 3.2 s away, at /dev/ttyACM0.");
    window.statusBar()->showMessage(older);
    window.statusBar()->showMessage(newer);

    QMenu menu;
    messages->addMenuEntries(&menu);
    auto *copy = menu.findChild<QAction *>(QStringLiteral("copyMessage"));
    QVERIFY(copy && copy->isEnabled());
    copy->trigger();
    QCOMPARE(QApplication::clipboard()->text(), newer);

    menu.findChild<QAction *>(QStringLiteral("showMessages"))->trigger();
    auto *list = window.findChild<MessageListWindow *>(MessageListWindow::windowName());
    QVERIFY(list && list->isVisible() && !list->isModal());
    auto *entries = list->findChild<QListWidget *>(QStringLiteral("messages"));
    QCOMPARE(entries->count(), 2);
    QVERIFY(entries->item(0)->text().endsWith(QStringLiteral("  ") + newer));
    QVERIFY(entries->item(1)->text().endsWith(QStringLiteral("  ") + older));
    QVERIFY(QTime::fromString(entries->item(0)->text().left(8), QStringLiteral("HH:mm:ss")).isValid());
    // Kept up to date while open.
    window.statusBar()->showMessage(QStringLiteral("third"));
    QCOMPARE(entries->count(), 3);
    QVERIFY(entries->item(0)->text().endsWith(QStringLiteral("  third")));
}

QTEST_MAIN(TestStatusMessages)
#include "tst_statusmessages.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing from the acquisition window: Publish... in the charts' menu refuses a URL it can't
// use and says why, starts publishing to the chosen broker (remembered, and no password kept),
// shows the link beside the run's state with each change once in the message history, publishes
// records, marks and Reset's new run, and says "offline" when switched off.
#include "messages/statusmessages.h"
#include "publish/publisher.h"
#include "publish/ui/runpublisher.h"
#include "shell/rememberedsettings.h"
#include "support/acquisitionrig.h"
#include "support/testbroker.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QtTest>

namespace {

// Runs Publish..., filling the dialog with what is given, and says what the dialog showed.
struct DialogAnswer
{
    bool enabled = true;
    QString url;
    bool okWasEnabled = false;
    QString problem;
};

void answerPublishDialog(const AcquisitionRig &rig, DialogAnswer *answer)
{
    ModalCloser closer;
    closer.setHandler([answer](QWidget *w) {
        auto *dialog = qobject_cast<PublishDialog *>(w);
        if (!dialog)
            return;
        dialog->findChild<QCheckBox *>(QStringLiteral("publishEnabled"))->setChecked(answer->enabled);
        dialog->findChild<QLineEdit *>(QStringLiteral("publishUrl"))->setText(answer->url);
        QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        answer->okWasEnabled = ok->isEnabled();
        answer->problem = dialog->findChild<QLabel *>(QStringLiteral("publishProblem"))->text();
        if (ok->isEnabled())
            ok->click();
        else
            dialog->reject();
    });
    rig.widget<QAction>("actionPublish")->trigger();
}

int historyCount(QStatusBar *statusBar, const QString &words)
{
    int count = 0;
    for (const MessageHistory::Entry &entry : StatusMessages::of(statusBar)->history().entries())
        count += entry.text.contains(words) ? entry.repeats : 0;
    return count;
}

} // namespace

class TstWindow2Publish : public QObject
{
    Q_OBJECT

private slots:
    void publishesFromTheWindow();
    void passwordAskedOncePerStartAndKeptNowhere();
};

void TstWindow2Publish::publishesFromTheWindow()
{
    TestBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestSubscriber subscriber(broker.port(), QStringLiteral("lab/w/#"));
    QVERIFY(subscriber.waitSubscribed());
    AcquisitionRig rig(1);
    auto *item = rig.widget<QLabel>("publishStatus");
    QVERIFY(item && item->isHidden());

    DialogAnswer bad;
    bad.url = QStringLiteral("mqtt://127.0.0.1/lab/#");
    answerPublishDialog(rig, &bad);
    QVERIFY(!bad.okWasEnabled);
    QVERIFY2(bad.problem.contains("wildcard"), qPrintable(bad.problem));
    QVERIFY(!rig.window->runPublisher()->publisher());

    DialogAnswer good;
    good.url = QStringLiteral("mqtt://127.0.0.1:%1/lab/w").arg(broker.port());
    answerPublishDialog(rig, &good);
    QVERIFY(good.okWasEnabled);
    QTRY_COMPARE(item->text(), QStringLiteral("Broker: connected"));
    QVERIFY(item->isVisible());
    QCOMPARE(historyCount(rig.window->statusBar(), "connected to the broker"), 1);
    const PublishChoice remembered = RememberedSettings().publishChoice();
    QVERIFY(remembered.enabled);
    QCOMPARE(remembered.url, good.url);

    rig.start();
    rig.send("1.5,20\n2.5,21\n");
    rig.widget<QAction>("actionMark")->trigger();
    rig.send("3.5,22\n");
    rig.reset();
    rig.send("4.5,23\n");
    QTRY_COMPARE(subscriber.payloads("lab/w/data").size(), 4);
    QCOMPARE(subscriber.payloads("lab/w/run").size(), 2); // the run and the one after Reset
    const QList<QByteArray> data = subscriber.payloads("lab/w/data");
    QCOMPARE(QJsonDocument::fromJson(data[2]).object().value("q1").toDouble(), 3.5);
    QCOMPARE(QJsonDocument::fromJson(data[3]).object().value("seq").toInt(), 0);
    QStringList kinds;
    for (const QByteArray &e : subscriber.payloads("lab/w/event"))
        kinds << QJsonDocument::fromJson(e).object().value("kind").toString();
    QCOMPARE(kinds, QStringList({"start", "mark", "reset", "reset"}));

    // Switched off: "offline" goes out, the item goes, and that too is remembered.
    DialogAnswer off;
    off.enabled = false;
    off.url = good.url;
    answerPublishDialog(rig, &off);
    QTRY_COMPARE(subscriber.payloads("lab/w/status").last(), QByteArray("offline"));
    QVERIFY(item->isHidden());
    QVERIFY(!RememberedSettings().publishChoice().enabled);
    QCOMPARE(historyCount(rig.window->statusBar(), "connected to the broker"), 1);
    rig.send("5.5,24\n");
    QTest::qWait(200);
    QCOMPARE(subscriber.payloads("lab/w/data").size(), 4);
}

void TstWindow2Publish::passwordAskedOncePerStartAndKeptNowhere()
{
    TestBroker::Options options;
    options.user = QStringLiteral("rig");
    options.password = QStringLiteral("s3cret-horse");
    TestBroker broker(options);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    AcquisitionRig rig(1);
    auto *item = rig.widget<QLabel>("publishStatus");
    // Without a secret store (none in a test's session), the password is asked for.
    int asked = 0;
    bool publish = true;
    ModalCloser closer;
    closer.setHandler([&](QWidget *w) {
        if (auto *dialog = qobject_cast<PublishDialog *>(w)) {
            dialog->findChild<QCheckBox *>(QStringLiteral("publishEnabled"))->setChecked(publish);
            dialog->findChild<QLineEdit *>(QStringLiteral("publishUrl"))
                ->setText(QStringLiteral("mqtt://rig@127.0.0.1:%1/lab/p").arg(broker.port()));
            dialog->accept();
        } else if (auto *question = qobject_cast<QInputDialog *>(w)) {
            ++asked;
            QCOMPARE(question->textEchoMode(), QLineEdit::Password);
            question->setTextValue(QStringLiteral("s3cret-horse"));
            question->accept();
        } else {
            static_cast<QDialog *>(w)->reject();
        }
    });
    rig.widget<QAction>("actionPublish")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(item->text(), QStringLiteral("Broker: connected"), 20000);
    QCOMPARE(asked, 1);
    // Off and on again in the same start: not asked again.
    publish = false;
    rig.widget<QAction>("actionPublish")->trigger();
    QVERIFY(item->isHidden());
    publish = true;
    rig.widget<QAction>("actionPublish")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(item->text(), QStringLiteral("Broker: connected"), 20000);
    QCOMPARE(asked, 1);
    // The password is in no file of the program's and in no message.
    QFile settings(RememberedSettings().fileName());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray kept = settings.readAll();
    QVERIFY(kept.contains("rig@127.0.0.1"));
    QVERIFY(!kept.contains("s3cret"));
    for (const MessageHistory::Entry &entry :
         StatusMessages::of(rig.window->statusBar())->history().entries())
        QVERIFY(!entry.text.contains("s3cret"));
}

QTEST_MAIN(TstWindow2Publish)
#include "tst_window2publish.moc"

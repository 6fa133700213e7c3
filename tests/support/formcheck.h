// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Checks shared by the tests of the two window forms.

#include <QBoxLayout>
#include <QLayout>
#include <QMainWindow>
#include <QMetaMethod>
#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <QtTest>

#include <initializer_list>
#include <memory>

namespace formcheck {

// A form set up on a bare main window of its own.
template <class Form> struct FormOnWindow
{
    QMainWindow window;
    Form ui;
    FormOnWindow() { ui.setupUi(&window); }
};

// setupUi names an unnamed window after the form and leaves a named one alone.
template <class Form> void checkWindowName(const char *formName)
{
    FormOnWindow<Form> unnamed;
    QCOMPARE(unnamed.window.objectName(), QString::fromLatin1(formName));
    QMainWindow named;
    named.setObjectName(QStringLiteral("named"));
    Form form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("named"));
}

// One pointer member of a form class and what it must point at.
struct Member
{
    QObject *object;
    const char *name;
    const char *className;
    QObject *parent;
};

// Fails the running test at the first member whose object is missing or has another object
// name, class or parent.
inline void checkMembers(std::initializer_list<Member> members)
{
    for (const Member &m : members) {
        QVERIFY2(m.object, m.name);
        QCOMPARE(m.object->objectName(), QString::fromLatin1(m.name));
        QCOMPARE(m.object->metaObject()->className(), m.className);
        QCOMPARE(m.object->parent(), m.parent);
    }
}

// Object names of the direct children of parent, in creation order. Unnamed objects and the
// toolkit's own helpers (named "qt_...") are left out.
inline QStringList childNames(const QObject *parent)
{
    QStringList names;
    for (const QObject *child : parent->children()) {
        const QString name = child->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            names << name;
    }
    return names;
}

// The named parts of a main window, in creation order, without the window's own layout.
inline QStringList windowParts(const QMainWindow *window)
{
    QStringList names = childNames(window);
    names.removeAll(QStringLiteral("_layout"));
    return names;
}

// Object names of the items of a layout, in order: a widget item by its widget, a nested layout
// by its own name.
inline QStringList itemNames(const QLayout *layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            names << item->widget()->objectName();
        else if (item->layout())
            names << item->layout()->objectName();
        else
            names << QStringLiteral("(spacer)");
    }
    return names;
}

// True when every item of the layout was added with stretch 0 and no alignment.
inline bool plainItems(const QBoxLayout *layout)
{
    for (int i = 0; i < layout->count(); ++i) {
        if (layout->stretch(i) != 0 || layout->itemAt(i)->alignment() != Qt::Alignment())
            return false;
    }
    return true;
}

// The widgets below root whose font was set explicitly, by object name.
inline QStringList widgetsWithOwnFont(const QWidget *root)
{
    QStringList names;
    const auto widgets = root->findChildren<QWidget *>();
    for (const QWidget *w : widgets) {
        if (w->testAttribute(Qt::WA_SetFont))
            names << w->objectName();
    }
    names.sort();
    return names;
}

// Resolves the slots of windowClass that QMetaObject::connectSlotsByName wires
// (on_<object>_<signal>) against the objects below root, the way connectSlotsByName does: the
// object must exist exactly once under that name and carry a signal of that name whose arguments
// fit the slot. Returns "object.signal" for each slot that resolves; a slot that does not resolve
// fails the running test (check QTest::currentTestFailed() after the call).
inline QStringList autoConnections(const QMetaObject &windowClass, const QObject *root)
{
    QStringList wired;
    for (int i = windowClass.methodOffset(); i < windowClass.methodCount(); ++i) {
        const QMetaMethod slot = windowClass.method(i);
        const QByteArray name = slot.name();
        if (slot.methodType() != QMetaMethod::Slot || !name.startsWith("on_"))
            continue;
        const int cut = name.lastIndexOf('_');
        const QString objectName = QString::fromLatin1(name.mid(3, cut - 3));
        const QByteArray signalName = name.mid(cut + 1);

        const auto objects = root->findChildren<QObject *>(objectName);
        if (objects.size() != 1) {
            QTest::qFail(qPrintable(QStringLiteral("slot %1 needs exactly one object named %2, found %3")
                                        .arg(QString::fromLatin1(slot.methodSignature()), objectName)
                                        .arg(objects.size())),
                         __FILE__, __LINE__);
            return wired;
        }
        const QMetaObject *mo = objects.first()->metaObject();
        bool found = false;
        for (int s = 0; s < mo->methodCount() && !found; ++s) {
            const QMetaMethod signal = mo->method(s);
            found = signal.methodType() == QMetaMethod::Signal && signal.name() == signalName &&
                    QMetaObject::checkConnectArgs(signal, slot);
        }
        if (!found) {
            QTest::qFail(qPrintable(QStringLiteral("%1 (%2) has no signal for slot %3")
                                        .arg(objectName, QString::fromLatin1(mo->className()),
                                             QString::fromLatin1(slot.methodSignature()))),
                         __FILE__, __LINE__);
            return wired;
        }
        wired << objectName + QLatin1Char('.') + QString::fromLatin1(signalName);
    }
    return wired;
}

} // namespace formcheck

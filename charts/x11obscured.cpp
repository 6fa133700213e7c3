// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/x11obscured.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdlib>
#include <xcb/xcb.h>

struct X11Obscured::Connection
{
    xcb_connection_t *connection = nullptr;
    QSocketNotifier *notifier = nullptr;
    ~Connection()
    {
        delete notifier;
        if (connection)
            xcb_disconnect(connection);
    }
};

X11Obscured *X11Obscured::create(QObject *parent)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto x = std::make_unique<Connection>();
    // The display Qt uses: $DISPLAY, unless it was given on the command line.
    const QStringList args = QCoreApplication::arguments();
    const int option = args.indexOf(QStringLiteral("-display"));
    const QByteArray display =
        option >= 0 && option + 1 < args.size() ? args[option + 1].toLocal8Bit() : QByteArray();
    x->connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(x->connection))
        return nullptr;
    return new X11Obscured(std::move(x), parent);
}

X11Obscured::X11Obscured(std::unique_ptr<Connection> connection, QObject *parent)
    : QObject(parent), x(std::move(connection))
{
    x->notifier = new QSocketNotifier(xcb_get_file_descriptor(x->connection), QSocketNotifier::Read);
    connect(x->notifier, &QSocketNotifier::activated, this, &X11Obscured::readEvents);
}

X11Obscured::~X11Obscured() = default;

void X11Obscured::watch(quintptr id)
{
    if (id == window)
        return;
    window = id;
    if (obscured) {
        obscured = false;
        emit changed(false);
    }
    if (window == 0)
        return;
    const quint32 mask = XCB_EVENT_MASK_VISIBILITY_CHANGE;
    xcb_change_window_attributes(x->connection, xcb_window_t(window), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x->connection);
}

void X11Obscured::readEvents()
{
    bool now = obscured;
    while (xcb_generic_event_t *event = xcb_poll_for_event(x->connection)) {
        // Errors (a window gone before its events were asked for) and other events are of no use.
        if ((event->response_type & 0x7f) == XCB_VISIBILITY_NOTIFY) {
            const auto *visibility = reinterpret_cast<const xcb_visibility_notify_event_t *>(event);
            if (visibility->window == window)
                now = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
        }
        std::free(event);
    }
    if (xcb_connection_has_error(x->connection))
        x->notifier->setEnabled(false);
    if (now != obscured) {
        obscured = now;
        emit changed(obscured);
    }
}

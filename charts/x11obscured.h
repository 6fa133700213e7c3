// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>

// Whether the X server says a window is fully covered by others. Qt's X11 backend does not ask
// for visibility events, so there a covered window counts as exposed and is drawn for nobody.
// This asks for them on an X connection of its own: event masks are kept per connection, so
// Qt's own stay as they are. (With a compositing window manager windows are never reported
// covered: the compositor keeps their pictures.)
class X11Obscured : public QObject
{
    Q_OBJECT

public:
    // Null where the application does not run on X11 or the server can't be reached.
    static X11Obscured *create(QObject *parent);
    ~X11Obscured() override;

    // The native window to watch (0: none). Until the server says otherwise it is not covered.
    void watch(quintptr window);
    bool isObscured() const { return obscured; }

signals:
    void changed(bool obscured);

private:
    struct Connection;
    X11Obscured(std::unique_ptr<Connection> connection, QObject *parent);
    void readEvents();

    std::unique_ptr<Connection> x;
    quintptr window = 0;
    bool obscured = false;
};

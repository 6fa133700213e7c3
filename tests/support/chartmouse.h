// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <qcustomplot.h>

// The mouse on a chart, as the operator uses it: events sent straight to the chart widget.

// A point inside the chart's plot area, at fractions of its width and height.
inline QPoint inside(QCustomPlot *c, double fx, double fy)
{
    const QRect r = c->axisRect()->rect();
    return QPoint(r.left() + int(fx * r.width()), r.top() + int(fy * r.height()));
}

inline void wheel(QCustomPlot *c, const QPoint &pos, int delta,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWheelEvent event(pos, c->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(c, &event);
}

inline void mouse(QCustomPlot *c, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
                  Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, pos, c->mapToGlobal(pos), button, buttons, modifiers);
    QApplication::sendEvent(c, &event);
}

inline void drag(QCustomPlot *c, const QPoint &from, const QPoint &to,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    mouse(c, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
    for (int i = 1; i <= 4; ++i)
        mouse(c, QEvent::MouseMove, from + (to - from) * i / 4, Qt::NoButton, Qt::LeftButton, modifiers);
    mouse(c, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
}

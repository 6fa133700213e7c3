// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/support/eventcounts.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaEnum>
#include <QPaintEvent>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace bench {

namespace {

QByteArray className(const QObject *o)
{
    return o ? QByteArray(o->metaObject()->className()) : QByteArray("none");
}

QByteArray typeName(QEvent::Type type)
{
    const QMetaEnum e = QMetaEnum::fromType<QEvent::Type>();
    const char *name = e.valueToKey(type);
    return name ? QByteArray(name) : QByteArray::number(int(type));
}

} // namespace

void EventCounts::install()
{
    reset();
    QCoreApplication::instance()->installEventFilter(this);
}

void EventCounts::reset()
{
    counts.clear();
    paintedPixels.clear();
}

bool EventCounts::eventFilter(QObject *watched, QEvent *event)
{
    QByteArray key = typeName(event->type());
    if (event->type() == QEvent::Timer) {
        // A QTimer's owner says whose it is; other objects' own timers, the object's class.
        const auto *timer = qobject_cast<const QTimer *>(watched);
        key += timer ? " of a timer of " + className(watched->parent()) + " (" +
                           QByteArray::number(timer->interval()) + " ms)"
                     : " of " + className(watched);
    } else if (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest ||
               event->type() == QEvent::MetaCall || event->type() == QEvent::SockAct) {
        key += " to " + className(watched);
        if (!watched->objectName().isEmpty())
            key += " " + watched->objectName().toLatin1();
        if (event->type() == QEvent::Paint) {
            const QRect r = static_cast<QPaintEvent *>(event)->rect();
            paintedPixels[key] += double(r.width()) * r.height();
        }
    }
    ++counts[key];
    return false;
}

QString EventCounts::report(double seconds, int most) const
{
    std::vector<std::pair<quint64, QByteArray>> sorted;
    for (auto i = counts.cbegin(); i != counts.cend(); ++i)
        sorted.emplace_back(i.value(), i.key());
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QString out;
    for (size_t i = 0; i < sorted.size() && int(i) < most; ++i) {
        out += QStringLiteral("    %1: %2 (%3/s)")
                   .arg(QString::fromLatin1(sorted[i].second))
                   .arg(sorted[i].first)
                   .arg(double(sorted[i].first) / seconds, 0, 'f', 1);
        if (paintedPixels.contains(sorted[i].second))
            out += QStringLiteral(", %1 pixels each")
                       .arg(paintedPixels.value(sorted[i].second) / double(sorted[i].first), 0, 'f', 0);
        out += '\n';
    }
    return out;
}

} // namespace bench

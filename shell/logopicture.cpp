// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/logopicture.h"

#include <QEvent>
#include <QFileInfo>
#include <QLabel>

#include <cmath>

LogoPicture::LogoPicture(QLabel *label, const QString &path) : QObject(label), label(label), path(path) {}

void LogoPicture::show(QLabel *label, const QString &path)
{
    auto *logo = new LogoPicture(label, path);
    logo->showFor(label->devicePixelRatioF());
    label->installEventFilter(logo);
}

QPixmap LogoPicture::forRatio(const QString &path, qreal ratio)
{
    const QPixmap small(path);
    if (!(ratio > 1) || small.isNull())
        return small;
    const QFileInfo file(path);
    const QString suffix = file.suffix().isEmpty() ? QString() : QLatin1Char('.') + file.suffix();
    QPixmap twice(path.left(path.size() - suffix.size()) + QStringLiteral("@2x") + suffix);
    if (twice.isNull())
        return small;
    if (ratio != 2) {
        // Other densities: the larger drawing brought to the screen's pixels, smoothly.
        const QSize size(int(std::lround(small.width() * ratio)), int(std::lround(small.height() * ratio)));
        twice = twice.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    twice.setDevicePixelRatio(ratio);
    return twice;
}

void LogoPicture::showFor(qreal ratio)
{
    shownRatio = ratio;
    label->setPixmap(forRatio(path, ratio));
}

bool LogoPicture::eventFilter(QObject *watched, QEvent *event)
{
    // The density is known for sure only once the label is painted on its screen.
    if (watched == label && event->type() == QEvent::Paint && label->devicePixelRatioF() != shownRatio)
        showFor(label->devicePixelRatioF());
    return false;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/readoutframes.h"

#include <QApplication>
#include <QLCDNumber>
#include <QPaintDevice>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionFrame>

#include <cmath>

namespace {

// Nine readouts in a few states and pixel ratios fit many times over.
constexpr int MaxPictures = 64;

// Everything a frame's drawing depends on.
QString frameKey(const QStyleOptionFrame &frame, qreal pixelRatio)
{
    return QStringLiteral("%1x%2 %3 %4 %5 %6 %7 %8 %9 %10")
        .arg(frame.rect.width())
        .arg(frame.rect.height())
        .arg(int(frame.state))
        .arg(int(frame.frameShape))
        .arg(int(frame.features))
        .arg(frame.lineWidth)
        .arg(frame.midLineWidth)
        .arg(frame.palette.cacheKey())
        .arg(int(frame.palette.currentColorGroup()))
        .arg(pixelRatio);
}

// True when a picture drawn at the painter's device pixel ratio would cover device pixels one
// for one, with the style seeing the same ratio as when it draws on the painter itself. Not so
// when a widget is rendered into a picture of another scale (its painter still reports the
// widget's ratio) or at a fractional ratio.
bool landsOnDevicePixels(const QPainter &painter, const QPoint &at)
{
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QTransform t = painter.deviceTransform();
    const QPointF origin = t.map(QPointF(at));
    return ratio == std::floor(ratio) && t.type() <= QTransform::TxScale && t.m11() == ratio &&
           t.m22() == ratio && origin.x() == std::floor(origin.x()) && origin.y() == std::floor(origin.y());
}

} // namespace

ReadoutFrames::ReadoutFrames(QStyle *base) : QProxyStyle(base) {}

ReadoutFrames *ReadoutFrames::install(const QList<QLCDNumber *> &readouts, QObject *parent)
{
    // A style of the application's kind of its own: the proxy owns its base style.
    QStyle *base = QStyleFactory::create(QApplication::style()->objectName());
    if (!base)
        return nullptr;
    auto *frames = new ReadoutFrames(base);
    frames->setParent(parent);
    for (QLCDNumber *readout : readouts)
        readout->setStyle(frames);
    return frames;
}

void ReadoutFrames::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                const QWidget *widget) const
{
    const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
    if (element != CE_ShapedFrame || !frame || !painter || !painter->device() || frame->rect.isEmpty() ||
        !landsOnDevicePixels(*painter, frame->rect.topLeft())) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QString key = frameKey(*frame, ratio);
    auto found = pictures.constFind(key);
    if (found == pictures.constEnd()) {
        QPixmap picture(frame->rect.size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QStyleOptionFrame atOrigin = *frame;
        atOrigin.rect.moveTopLeft(QPoint(0, 0));
        QPainter onPicture(&picture);
        baseStyle()->drawControl(element, &atOrigin, &onPicture, widget);
        onPicture.end();
        // Resizing the window makes new sizes all the time: the old ones are let go now and then.
        if (pictures.size() >= MaxPictures)
            pictures.clear();
        found = pictures.insert(key, picture);
        ++made;
    }
    painter->drawPixmap(frame->rect.topLeft(), *found);
}

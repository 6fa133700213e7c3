// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/readouts/readoutpictures.h"

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

ReadoutPictures::FrameKey ReadoutPictures::frameKey(const QStyleOptionFrame &frame, qreal pixelRatio)
{
    return {{frame.rect.width(), frame.rect.height(), qint64(frame.state), qint64(frame.frameShape),
             qint64(frame.features), frame.lineWidth, frame.midLineWidth, frame.palette.cacheKey(),
             qint64(frame.palette.currentColorGroup()), qint64(pixelRatio * 1024)}};
}

ReadoutPictures::ReadoutPictures(QStyle *base) : QProxyStyle(base), digits(base) {}

ReadoutPictures *ReadoutPictures::install(const QList<QLCDNumber *> &readouts, QObject *parent)
{
    // A style of the application's kind of its own: the proxy owns its base style.
    QStyle *base = QStyleFactory::create(QApplication::style()->objectName());
    if (!base)
        return nullptr;
    auto *frames = new ReadoutPictures(base);
    frames->setParent(parent);
    for (QLCDNumber *readout : readouts) {
        readout->setStyle(frames);
        readout->installEventFilter(frames);
    }
    return frames;
}

void ReadoutPictures::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const
{
    const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
    if (element != CE_ShapedFrame || !frame || !painter || !painter->device() || frame->rect.isEmpty() ||
        !landsOnDevicePixels(*painter, frame->rect.topLeft())) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    const FrameKey key = frameKey(*frame, ratio);
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

bool ReadoutPictures::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint) {
        auto *readout = qobject_cast<QLCDNumber *>(watched);
        if (readout && readout->style() == this && paintReadout(readout))
            return true; // drawn: the readout's own drawing is skipped
    }
    return QProxyStyle::eventFilter(watched, event);
}

bool ReadoutPictures::paintReadout(QLCDNumber *readout)
{
    // Digits come from pictures of a readout whose frame fills it, drawn at whole device pixels;
    // a readout that draws itself is left before anything is set up for it.
    const qreal ratio = readout->devicePixelRatioF();
    if (readout->frameRect() != readout->rect() || !ReadoutDigits::canDraw(*readout, int(ratio)))
        return false;
    QPainter painter(readout);
    if (!landsOnDevicePixels(painter, QPoint()))
        return false;

    // The frame as QFrame describes it to the style.
    QStyleOptionFrame frame;
    frame.initFrom(readout);
    const int shape = readout->frameShape(), shadow = readout->frameShadow();
    frame.frameShape = QFrame::Shape(shape);
    frame.rect = readout->frameRect();
    switch (shape) {
    case QFrame::Box:
    case QFrame::HLine:
    case QFrame::VLine:
    case QFrame::StyledPanel:
    case QFrame::Panel:
        frame.lineWidth = readout->lineWidth();
        frame.midLineWidth = readout->midLineWidth();
        break;
    default:
        frame.lineWidth = readout->frameWidth();
        break;
    }
    if (shadow == QFrame::Sunken)
        frame.state |= QStyle::State_Sunken;
    else if (shadow == QFrame::Raised)
        frame.state |= QStyle::State_Raised;

    drawControl(CE_ShapedFrame, &frame, &painter, readout);
    digits.draw(*readout, painter, int(ratio)); // as canDraw() said it would
    ++digitsServed;
    return true;
}

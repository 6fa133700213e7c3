// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/layerpatch.h"

#include "charts/envelopegraph.h"

#include <qcustomplot.h>

#include <memory>

namespace {

// QCustomPlot keeps what a layer's redraw needs protected. A class derived from the owner may
// form pointers to those members, and calls through them dispatch like any call (virtual ones
// virtually); these classes are never made, they only name the members.
struct PlotInternals : QCustomPlot
{
    static bool buffersInvalidated(QCustomPlot *plot)
    {
        return (plot->*(&PlotInternals::hasInvalidatedPaintBuffers))();
    }
};

struct LayerInternals : QCPLayer
{
    static QSharedPointer<QCPAbstractPaintBuffer> bufferOf(const QCPLayer *layer)
    {
        return (layer->*(&LayerInternals::mPaintBuffer)).toStrongRef();
    }
};

struct LayerableInternals : QCPLayerable
{
    static QRect clipOf(const QCPLayerable *l) { return (l->*(&LayerableInternals::clipRect))(); }
    static void hintOn(const QCPLayerable *l, QCPPainter *painter)
    {
        (l->*(&LayerableInternals::applyDefaultAntialiasingHint))(painter);
    }
    static void drawOn(QCPLayerable *l, QCPPainter *painter) { (l->*(&LayerableInternals::draw))(painter); }
};

} // namespace

bool LayerPatch::redrawChanged(QCPLayer *layer)
{
    QCustomPlot *plot = layer ? layer->parentPlot() : nullptr;
    if (!plot || layer->mode() != QCPLayer::lmBuffered || PlotInternals::buffersInvalidated(plot))
        return false;
    const QSharedPointer<QCPAbstractPaintBuffer> buffer = LayerInternals::bufferOf(layer);
    if (!buffer || buffer->invalidated())
        return false;
    std::unique_ptr<QCPPainter> painter(buffer->startPainting());
    if (!painter || !painter->isActive())
        return false;

    // The curves' canvases first: which device pixels of the buffer change.
    QRect changed;
    for (QCPLayerable *child : layer->children()) {
        if (auto *curve = qobject_cast<EnvelopeGraph *>(child))
            changed |= curve->updateCanvas(painter.get());
    }
    if (!changed.isEmpty()) {
        // Whole pixels of the widget around them: cleared and drawn again as the layer draws
        // itself (QCPLayer::draw), within that rectangle only.
        const QRect part = painter->deviceTransform().inverted().mapRect(QRectF(changed)).toAlignedRect() &
                           QRect(QPoint(0, 0), buffer->size());
        painter->save();
        painter->setCompositionMode(QPainter::CompositionMode_Source);
        painter->fillRect(part, Qt::transparent);
        painter->restore();
        for (QCPLayerable *child : layer->children()) {
            if (!child->realVisibility())
                continue;
            painter->save();
            painter->setClipRect(LayerableInternals::clipOf(child).translated(0, -1));
            painter->setClipRect(part, Qt::IntersectClip);
            LayerableInternals::hintOn(child, painter.get());
            LayerableInternals::drawOn(child, painter.get());
            painter->restore();
        }
        painter.reset();
        buffer->donePainting();
        plot->update(part);
        return true;
    }
    painter.reset();
    buffer->donePainting();
    return true;
}

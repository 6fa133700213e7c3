// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCPLayer;

// Redraws only the part of a chart's curves that new records changed. QCustomPlot redraws a
// buffered layer whole (it clears its buffer and draws every layerable on it) and then repaints
// the whole widget, which the window system copies to the screen: at 21 redraws a second of two
// charts that was most of what the program did after a record. Here the curves (EnvelopeGraph)
// first bring their canvases up to date and say which pixels changed; then only that rectangle
// of the layer's buffer is cleared and drawn again by all the layer's layerables, clipped to it,
// and only that rectangle of the widget is repainted. What the chart shows is what a whole redraw
// shows (tests/charts compare them).
// Returns false, having drawn nothing, if the layer can't be patched (not buffered, or the chart's
// buffers are new since its last replot): then the caller replots.
namespace LayerPatch {
bool redrawChanged(QCPLayer *layer);
} // namespace LayerPatch

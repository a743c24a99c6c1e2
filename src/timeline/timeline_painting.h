// Drawing for the timeline bar and its scrollbar. Positions come from the
// geometry functions; nothing here decides where anything goes.
#pragma once

#include "timeline/timeline_geometry.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>

class QPainter;

namespace kavlo {

// sRGB (1.0, 0.72, 0.0): the handles and the selection border.
QColor timelineAccentColor();

// A rounded rectangle whose radius is half its shorter side.
QPainterPath capsulePath(const QRectF& rect);

// A shadow of `color` under the rounded rectangle, blurred over
// `blurRadius` either side of its edge and moved by `offset`.
void fillSoftShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color,
                    double blurRadius, QPointF offset);

// The strip without its playhead: background, tiles, dims and selection,
// clipped to its rounded corners, as an image of the strip's size at
// `devicePixelRatio` (that of the target, so nothing is scaled when drawn).
// The bar keeps it and draws the playhead over it, so that the playhead can
// move without the strip being drawn again.
QImage renderTimelineStrip(const TimelineGeometry& geometry, const TimelineBarInputs& inputs,
                           double devicePixelRatio);

// The playhead of `selection`, drawn over the strip. It stays within the
// selection, clear of the strip's rounded corners.
void paintPlayhead(QPainter& painter, const SelectionGeometry& selection);
// Everything paintPlayhead() may touch, shadow and antialiasing included.
QRectF playheadBounds(const SelectionGeometry& selection);

} // namespace kavlo

// Drawing for the timeline bar and its scrollbar. Positions come from the
// geometry functions; nothing here decides where anything goes.
#pragma once

#include "timeline/timeline_geometry.h"

#include <QColor>
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

// The whole strip: background, tiles, dims, selection, playhead, clipped to
// its rounded corners. `devicePixelRatio` is that of the target, so that the
// strip is rendered at full resolution before it is clipped.
void paintTimelineStrip(QPainter& painter, const TimelineGeometry& geometry,
                        const TimelineBarInputs& inputs, double devicePixelRatio);

} // namespace kavlo

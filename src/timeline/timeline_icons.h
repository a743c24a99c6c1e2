// Vector glyphs of the timeline: the chevrons on the trim handles and the
// left-right arrow beside the seek hint. Each returns its outline for the
// rectangle it is given; the caller fills it with the foreground colour.
#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <vector>

namespace kavlo {

// A filled polygon designed in a 24 x 24 grid, y downwards.
struct ChevronIcon {
    std::vector<QPointF> points;

    // The polygon stretched to `rect` (x and y independently) and closed;
    // empty when there are no points.
    QPainterPath path(const QRectF& rect) const;

    static ChevronIcon left();  // on the start handle
    static ChevronIcon right(); // on the end handle: left() mirrored about x = 12
};

// A double-headed horizontal arrow designed in a 512 x 512 grid, symmetric
// about both centre lines.
struct TimelineSeekIcon {
    static QPainterPath path(const QRectF& rect);
};

} // namespace kavlo

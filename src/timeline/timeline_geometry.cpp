#include "timeline/timeline_geometry.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

double TimelineGeometry::trackX(double t) const {
    return std::min(std::max(x(t), kHandleWidth), trackEnd);
}

double TimelineGeometry::handleX(double t) const {
    return std::min(std::max(x(t), kHandleWidth), std::max(width - kHandleWidth, kHandleWidth));
}

QRectF TimelineGeometry::scrollbarRect() const {
    const double w = std::max(width - 2 * kHandleWidth, 1.0);
    return {(width - w) / 2, stripHeight + kStackSpacing, w, kScrollbarHeight};
}

double visibleDurationFor(double duration, double maxLoopDuration) {
    return std::max(std::min(maxLoopDuration, duration), kMinimumVisibleSpan);
}

TimelineGeometry timelineGeometry(double barWidth, double barHeight, double duration,
                                  double maxLoopDuration, double viewportStart) {
    TimelineGeometry g;
    g.width = std::max(barWidth, 1.0);
    g.stripHeight = std::max(std::max(barHeight, 1.0) - kScrollbarHeight - kStackSpacing, 1.0);
    g.trackEnd = std::max(g.width - kHandleWidth, kHandleWidth + 1);
    g.trackWidth = std::max(g.trackEnd - kHandleWidth, 1.0);
    g.visibleDuration = visibleDurationFor(duration, maxLoopDuration);
    g.maximumViewportStart = std::max(duration - g.visibleDuration, 0.0);
    g.visibleStart = std::min(g.maximumViewportStart, std::max(viewportStart, 0.0));
    g.pixelsPerSecond = g.trackWidth / g.visibleDuration;
    return g;
}

double resetViewportStart(double duration, double maxLoopDuration, double start) {
    const double visible = visibleDurationFor(duration, maxLoopDuration);
    return std::min(std::max(duration - visible, 0.0), std::max(start, 0.0));
}

SelectionGeometry selectionGeometry(const TimelineGeometry& g, double start, double end,
                                    double playhead) {
    SelectionGeometry s;
    const double cs = g.trackX(start);
    const double ce = g.trackX(end);
    s.lo = std::min(cs, ce);
    s.hi = std::max(cs, ce);
    s.left = g.handleX(start);
    s.right = g.handleX(end);
    s.playheadX = std::min(std::max(g.x(playhead), s.lo), s.hi);
    s.stripHeight = g.stripHeight;
    return s;
}

double secondsPerTile(double pixelsPerSecond) {
    return pixelsPerSecond >= 1 ? kTileWidth / pixelsPerSecond : kTileWidth;
}

int tileSlotCount(double width) {
    return static_cast<int>(std::ceil(std::max(width, 1.0) / kTileWidth)) + 6;
}

std::vector<TileSlot> tileSlots(const TimelineGeometry& g, double duration,
                                std::span<const TimelineThumbnail> thumbnails) {
    std::vector<TileSlot> tiles;
    if (thumbnails.empty())
        return tiles;
    const double step = secondsPerTile(g.pixelsPerSecond);
    // A NaN or absurd duration must not reach the integer conversion below.
    const double first = std::floor(g.visibleStart / std::max(step, 0.001)) - 2;
    if (!std::isfinite(first) || std::abs(first) > 1e15)
        return tiles;
    const int count = tileSlotCount(g.width);
    tiles.reserve(count);
    for (int k = 0; k < count; ++k) {
        const double t = (static_cast<long long>(first) + k) * step;
        if (t < -step || t > duration + step)
            continue;
        const int nearest = nearestThumbnail(thumbnails, t, duration);
        if (nearest >= 0)
            tiles.push_back({t, g.x(t), nearest});
    }
    return tiles;
}

QSize tilePixelSize(double stripHeight, double dpr) {
    return {std::max(1, int(std::lround(kTileWidth * dpr))),
            std::max(1, int(std::lround(stripHeight * dpr)))};
}

int nearestThumbnail(std::span<const TimelineThumbnail> thumbnails, double t, double duration) {
    const double target = std::min(duration, std::max(t, 0.0));
    int best = -1;
    double bestDistance = 0;
    for (int i = 0; i < static_cast<int>(thumbnails.size()); ++i) {
        const double distance = std::abs(thumbnails[i].time - target);
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace kavlo

// The viewport scrollbar's geometry: how wide its thumb is, how far the thumb
// can travel, and how a pointer position maps back to a viewport start.
#pragma once

#include <optional>

namespace kavlo {

struct ScrollMetrics {
    double width = 1; // W: the bar's width, at least 1
    double maximumViewportStart = 0;
    double thumbWidth = 1;
    double travel = 0; // how far the thumb's left edge can move
    double thumbLeft = 0;

    bool canScroll() const { return maximumViewportStart > 0 && travel > 0; }
    bool thumbContains(double x) const { return thumbLeft <= x && x <= thumbLeft + thumbWidth; }
    // The viewport start that puts the thumb's left edge at x - grabOffset,
    // held within the bar. Without travel no position maps to a viewport
    // start, and the caller must decide (there is nothing to divide by).
    std::optional<double> viewportStartAt(double x, double grabOffset) const;
};

ScrollMetrics scrollMetrics(double barWidth, double duration, double visibleDuration,
                            double viewportStart, double minimumThumbWidth);

} // namespace kavlo

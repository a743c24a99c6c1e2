#include "timeline/scroll_metrics.h"

#include <algorithm>

namespace kavlo {

std::optional<double> ScrollMetrics::viewportStartAt(double x, double grabOffset) const {
    if (!(travel > 0))
        return std::nullopt;
    const double left = std::clamp(x - grabOffset, 0.0, travel);
    return maximumViewportStart * left / travel;
}

ScrollMetrics scrollMetrics(double barWidth, double duration, double visibleDuration,
                            double viewportStart, double minimumThumbWidth) {
    ScrollMetrics m;
    m.width = std::max(barWidth, 1.0);
    m.maximumViewportStart = std::max(duration - visibleDuration, 0.0);
    double w = std::max(m.width, minimumThumbWidth);
    if (duration > 0) {
        const double ratio = std::clamp(visibleDuration / duration, 0.001, 1.0);
        w = std::max(ratio * m.width, minimumThumbWidth);
    }
    m.thumbWidth = std::min(w, m.width);
    m.travel = std::max(m.width - m.thumbWidth, 0.0);
    const double v = viewportStart < 0 ? 0 : std::min(m.maximumViewportStart, viewportStart);
    if (m.maximumViewportStart > 0 && m.travel > 0)
        m.thumbLeft = m.travel * v / m.maximumViewportStart;
    return m;
}

} // namespace kavlo

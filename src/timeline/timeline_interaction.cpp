#include "timeline/timeline_interaction.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {
bool onHandle(double x, double center, double halfWidth) {
    return std::abs(x - center) <= halfWidth;
}
} // namespace

TimelineInteractionView normalizedView(TimelineInteractionView view) {
    view.visibleDuration = std::max(view.visibleDuration, 0.001);
    view.pixelsPerSecond = std::max(view.pixelsPerSecond, 1.0);
    return view;
}

TimelineDragMode hitTest(const TimelineInteractionView& view, double x) {
    const double half = view.handleWidth / 2;
    if (onHandle(x, view.startHandleCenter, half))
        return HandleDrag{TrimHandle::start, view.start};
    if (onHandle(x, view.endHandleCenter, half))
        return HandleDrag{TrimHandle::end, view.end};
    return StripDrag{view.start, view.viewportStart};
}

TimelineEdit applyDrag(const TimelineInteractionView& view, const TimelineDragMode& mode,
                       double delta) {
    const double dt = delta / view.pixelsPerSecond;
    if (const auto* handle = std::get_if<HandleDrag>(&mode)) {
        // A handle moves only within the visible window; the window does not
        // scroll under a handle drag.
        const double t = std::min(std::max(handle->base + dt, view.visibleStart),
                                  view.visibleStart + view.visibleDuration);
        return TrimEdit{handle->handle, t};
    }
    const auto& strip = std::get<StripDrag>(mode);
    // Dragging to the right shows earlier times. The selection moves by
    // exactly as much as the window, so it stays still on the screen.
    const double v = std::min(std::max(strip.baseViewportStart - dt, 0.0),
                              std::max(view.duration - view.visibleDuration, 0.0));
    return PanEdit{v, strip.baseStart + v - strip.baseViewportStart};
}

std::optional<Qt::CursorShape> chooseCursor(const TimelineInteractionView& view,
                                            const std::optional<TimelineDragMode>& mode,
                                            bool pressed, double x) {
    if (!view.isLoaded)
        return std::nullopt;
    if (mode)
        return std::holds_alternative<HandleDrag>(*mode) ? Qt::SizeHorCursor : Qt::ClosedHandCursor;
    const double half = view.handleWidth / 2;
    if (onHandle(x, view.startHandleCenter, half) || onHandle(x, view.endHandleCenter, half))
        return Qt::SizeHorCursor;
    return pressed ? Qt::ClosedHandCursor : Qt::OpenHandCursor;
}

} // namespace kavlo

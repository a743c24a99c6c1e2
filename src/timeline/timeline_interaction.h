// What a press, a drag and a release on the timeline strip mean: which part
// is grabbed, what each drag step reports, and which cursor to show. Plain
// functions of the values the bar hands the pointer layer; the layer widget
// only feeds them pointer positions.
#pragma once

#include "timeline/timeline_types.h"

#include <Qt>

#include <optional>
#include <variant>

namespace kavlo {

// The values the bar hands its pointer layer on every change. Handle centres
// are x positions in the layer's (and the strip's) coordinates.
struct TimelineInteractionView {
    bool isLoaded = false;
    double duration = 1;
    double start = 0;
    double end = 1;
    double viewportStart = 0; // the raw, unclamped viewport start
    double visibleStart = 0;
    double visibleDuration = 1;
    double pixelsPerSecond = 1;
    double startHandleCenter = 0;
    double endHandleCenter = 0;
    double handleWidth = 0;
};

// The view as the layer keeps it: a span and a scale it can divide by.
TimelineInteractionView normalizedView(TimelineInteractionView view);

// A drag in progress, with the values at the press that every step is
// measured from.
struct HandleDrag {
    TrimHandle handle = TrimHandle::start;
    double base = 0; // start or end at the press
};
struct StripDrag {
    double baseStart = 0;
    double baseViewportStart = 0;
};
using TimelineDragMode = std::variant<HandleDrag, StripDrag>;

// The start handle wins where the two handle zones overlap; everything else
// on the strip pans it.
TimelineDragMode hitTest(const TimelineInteractionView& view, double x);

struct TrimEdit {
    TrimHandle handle = TrimHandle::start;
    double time = 0;
};
struct PanEdit {
    double viewportStart = 0;
    double start = 0; // the selection start, moved by as much as the window scrolled
};
using TimelineEdit = std::variant<TrimEdit, PanEdit>;

// The edit for a pointer `delta` points away from the press.
TimelineEdit applyDrag(const TimelineInteractionView& view, const TimelineDragMode& mode,
                       double delta);

// The cursor for the pointer at x; none when no video is loaded, in which
// case the cursor is left alone.
std::optional<Qt::CursorShape> chooseCursor(const TimelineInteractionView& view,
                                            const std::optional<TimelineDragMode>& mode,
                                            bool pressed, double x);

} // namespace kavlo

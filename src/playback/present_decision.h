// What the presenter does with the frame at the front of its queue, decided
// from the frames and the clock alone, so the rule can be read and tested
// without threads: show it, wait for it, or drop it for the next one.
#pragma once

#include "media/frame_timing.h"

#include <cstdint>
#include <optional>

namespace kavlo {

struct QueuedTime {
    uint64_t serial;
    int64_t presentUs; // on the looped timeline
};

struct PresentDecision {
    enum class Action { show, wait, drop };
    Action action;
    int64_t waitUs = 0; // for wait: until the front frame is due
};

// `front` belongs to the current serial; `next` is the frame behind it, if
// any. A frame is due once it is the one on screen at the clock's time
// `nowUs`. A late frame is dropped only when `dropLate` and the next frame
// of the same serial is due as well, so the picture never goes stale
// waiting for a frame that has not been decoded yet.
inline PresentDecision decidePresentation(const FrameTiming& timing, QueuedTime front,
                                          std::optional<QueuedTime> next, int64_t nowUs,
                                          bool dropLate) {
    using Action = PresentDecision::Action;
    if (!timing.startedBy(front.presentUs, nowUs))
        return {Action::wait, front.presentUs - timing.latestStartUs(nowUs)};
    if (dropLate && next && next->serial == front.serial &&
        timing.startedBy(next->presentUs, nowUs))
        return {Action::drop};
    return {Action::show};
}

} // namespace kavlo

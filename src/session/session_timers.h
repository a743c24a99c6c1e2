// The session's delays on the UI thread (the pause before a shown frame
// gives way to the preview, the polls that reveal a new preview), behind an
// interface so that tests can move time by hand instead of sleeping.
//
// UI thread only. A callback runs once, on the UI thread, from the event
// loop (never inside start()), unless its timer is cancelled first or the
// timers object is destroyed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace kavlo {

class SessionTimers {
  public:
    using Id = std::uint64_t;

    virtual ~SessionTimers() = default;
    virtual Id start(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
    // Ids that have fired or are unknown are ignored.
    virtual void cancel(Id id) = 0;
};

// Timers on the Qt event loop of the calling thread.
std::unique_ptr<SessionTimers> makeQtTimers();

} // namespace kavlo

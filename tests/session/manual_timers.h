// SessionTimers whose time moves only when the test says so.
#pragma once

#include "session/session_timers.h"

#include <map>

namespace kavlo::test {

class ManualTimers : public SessionTimers {
  public:
    using ms = std::chrono::milliseconds;

    Id start(ms delay, std::function<void()> fire) override {
        const Id id = nextId_++;
        timers_.emplace(id, Timer{now_ + delay, std::move(fire)});
        return id;
    }
    void cancel(Id id) override { timers_.erase(id); }

    // Moves time on by `by`, firing every timer that falls due on the way in
    // the order of their due times (ties in the order they were started),
    // including those the callbacks start.
    void advance(ms by) {
        const ms target = now_ + by;
        for (;;) {
            auto next = timers_.end();
            for (auto it = timers_.begin(); it != timers_.end(); ++it)
                if (it->second.due <= target &&
                    (next == timers_.end() || it->second.due < next->second.due))
                    next = it;
            if (next == timers_.end())
                break;
            now_ = next->second.due;
            auto fire = std::move(next->second.fire);
            timers_.erase(next);
            fire();
        }
        now_ = target;
    }

  private:
    struct Timer {
        ms due;
        std::function<void()> fire;
    };
    ms now_{0};
    Id nextId_ = 1;
    std::map<Id, Timer> timers_;
};

} // namespace kavlo::test

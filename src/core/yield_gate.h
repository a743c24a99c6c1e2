// Lets work nobody waits on step aside while work the user waits on runs.
// The waited-on side holds the gate for as long as it works; the other side
// passes it between its steps, and waits there while any hold is left.
// Priorities alone do not do this: a thread of the lowest priority still
// takes a core whenever the other threads pause, and its decoding thrashes
// the caches they share.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace kavlo {

class YieldGate {
  public:
    // Holds the gate for its lifetime; holds from several threads add up.
    class Hold {
      public:
        explicit Hold(YieldGate& gate) : gate_(gate) { gate_.change(+1); }
        ~Hold() { gate_.change(-1); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        YieldGate& gate_;
    };

    // Returns once no hold is left, or as soon as `stop` is requested.
    void pass(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        released_.wait(lock, stop, [this] { return holds_ == 0; });
    }

  private:
    void change(int by) {
        {
            const std::lock_guard lock(mutex_);
            holds_ += by;
        }
        released_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable_any released_;
    int holds_ = 0;
};

} // namespace kavlo

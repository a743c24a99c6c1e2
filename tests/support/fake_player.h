// A Player for session tests: no media, no threads, no event loop. It keeps
// the calls it received and holds back every callback until the test calls
// deliver(), so a test decides exactly when seeks land and time moves, and
// callbacks never run inside the call that caused them, as with the engine.
#pragma once

#include "player/player.h"

#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace kavlo {

class FakePlayer : public Player {
  public:
    struct SeekCall {
        double timeSeconds = 0;
        double toleranceSeconds = 0;
    };

    void setItem(const std::string& path, Looping looping = Looping::off) override;
    void clearItem() override;
    bool hasItem() const override { return item_.has_value(); }
    void play() override;
    void pause() override;
    bool isPlaying() const override { return playing_; }
    double currentTimeSeconds() const override { return timeSeconds_; }
    void seek(double timeSeconds, double toleranceSeconds, SeekCompletion done = {}) override;
    ObserverId addPeriodicTimeObserver(double intervalSeconds, TimeCallback callback) override;
    void removeTimeObserver(ObserverId id) override;

    // --- Test controls ---

    // The item's path ("" when none) and whether it loops.
    std::string itemPath() const { return item_.value_or(""); }
    Looping looping() const { return looping_; }
    // Every seek requested since construction, in order.
    const std::vector<SeekCall>& seeks() const { return seeks_; }
    // The pending seek lands: the current time becomes its target (never
    // below 0) and its completion (true) is queued. Returns false when no seek was pending.
    bool landSeek();
    // While playing, moves the time on by `seconds` and queues one call of
    // every periodic observer.
    void advance(double seconds);
    // Runs the queued callbacks in order, including any they queue.
    void deliver();

  private:
    struct PendingSeek {
        double timeSeconds;
        SeekCompletion done;
    };

    void replaceItem(std::optional<std::string> path, Looping looping);
    void supersedePending();
    void queueCompletion(SeekCompletion done, bool finished);
    void queueTimeJump();

    std::optional<std::string> item_;
    Looping looping_ = Looping::off;
    bool playing_ = false;
    double timeSeconds_ = 0;
    std::optional<PendingSeek> pending_;
    std::vector<SeekCall> seeks_;
    std::map<ObserverId, TimeCallback> observers_;
    ObserverId nextObserverId_ = 1;
    std::deque<std::function<void()>> queued_;
};

} // namespace kavlo

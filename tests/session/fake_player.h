// A Player for session tests: no media, no threads, no event loop. It keeps
// the calls it received and holds back every callback until the test calls
// deliver(), so a test decides exactly when seeks land and time moves, and
// callbacks never run inside the call that caused them, as with the engine.
#pragma once

#include "player/player.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace kavlo {

class FakePlayer : public Player {
  public:
    struct SeekCall {
        double timeSeconds = 0, toleranceSeconds = 0;
    };

    void setItem(const std::string& path, Looping looping = Looping::off) override {
        replaceItem(path, looping);
    }
    void clearItem() override { replaceItem(std::nullopt, Looping::off); }
    bool hasItem() const override { return item_.has_value(); }
    void play() override { setPlaying(item_.has_value()); }
    void pause() override { setPlaying(false); }
    bool isPlaying() const override { return playing_; }
    double currentTimeSeconds() const override { return timeSeconds_; }
    void seek(double timeSeconds, double toleranceSeconds, SeekCompletion done = {}) override {
        seeks_.push_back({timeSeconds, toleranceSeconds});
        supersedePending();
        if (item_)
            pending_ = PendingSeek{timeSeconds, std::move(done)};
        else
            queueCompletion(std::move(done), false);
    }
    void abandonSeeks() override { supersedePending(); }
    ObserverId addPeriodicTimeObserver(double, TimeCallback callback) override {
        observers_.emplace(nextObserverId_, std::move(callback));
        return nextObserverId_++;
    }
    void removeTimeObserver(ObserverId id) override { observers_.erase(id); }

    // Test controls. The item's path ("" when none) and whether it loops.
    std::string itemPath() const { return item_.value_or(""); }
    Looping looping() const { return looping_; }
    // Every seek requested since construction, in order.
    const std::vector<SeekCall>& seeks() const { return seeks_; }
    // The pending seek lands: the current time becomes its target (never
    // below 0) and its completion (true) is queued. False when none was pending.
    bool landSeek() {
        if (!pending_)
            return false;
        timeSeconds_ = std::max(pending_->timeSeconds, 0.0);
        queueCompletion(std::move(pending_->done), true);
        pending_.reset();
        queueTimeJump();
        return true;
    }
    // While playing, moves the time on by `seconds` and queues one call of
    // every periodic observer.
    void advance(double seconds) {
        if (playing_ && item_) {
            timeSeconds_ += seconds;
            queueTimeJump();
        }
    }
    // Runs the queued callbacks in order, including any they queue.
    void deliver() {
        while (!queued_.empty()) {
            auto call = std::move(queued_.front());
            queued_.pop_front();
            call();
        }
    }

  private:
    struct PendingSeek {
        double timeSeconds;
        SeekCompletion done;
    };

    void replaceItem(std::optional<std::string> path, Looping looping) {
        supersedePending();
        item_ = std::move(path);
        looping_ = looping;
        playing_ = false;
        timeSeconds_ = 0;
        queueTimeJump();
    }
    void setPlaying(bool playing) {
        if (playing != playing_) {
            playing_ = playing;
            queueTimeJump();
        }
    }
    void supersedePending() {
        if (pending_)
            queueCompletion(std::move(pending_->done), false);
        pending_.reset();
    }
    void queueCompletion(SeekCompletion done, bool finished) {
        if (done)
            queued_.push_back([done = std::move(done), finished] { done(finished); });
    }
    // Each call reports the time of the moment it was queued for. Observers
    // are looked up when the call runs, so one removed in between is not called.
    void queueTimeJump() {
        for (const auto& [id, callback] : observers_)
            queued_.push_back([this, id = id, time = timeSeconds_] {
                if (auto it = observers_.find(id); it != observers_.end())
                    it->second(time);
            });
    }

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

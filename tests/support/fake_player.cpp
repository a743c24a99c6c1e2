#include "support/fake_player.h"

#include <algorithm>

namespace kavlo {

void FakePlayer::setItem(const std::string& path, Looping looping) {
    replaceItem(path, looping);
}

void FakePlayer::clearItem() {
    replaceItem(std::nullopt, Looping::off);
}

void FakePlayer::replaceItem(std::optional<std::string> path, Looping looping) {
    supersedePending();
    item_ = std::move(path);
    looping_ = looping;
    playing_ = false;
    timeSeconds_ = 0;
    queueTimeJump();
}

void FakePlayer::play() {
    if (!playing_ && item_) {
        playing_ = true;
        queueTimeJump();
    }
}

void FakePlayer::pause() {
    if (playing_) {
        playing_ = false;
        queueTimeJump();
    }
}

void FakePlayer::seek(double timeSeconds, double toleranceSeconds, SeekCompletion done) {
    seeks_.push_back({timeSeconds, toleranceSeconds});
    supersedePending();
    if (!item_) {
        queueCompletion(std::move(done), false);
        return;
    }
    pending_ = PendingSeek{timeSeconds, std::move(done)};
}

bool FakePlayer::landSeek() {
    if (!pending_)
        return false;
    timeSeconds_ = std::max(pending_->timeSeconds, 0.0);
    queueCompletion(std::move(pending_->done), true);
    pending_.reset();
    queueTimeJump();
    return true;
}

Player::ObserverId FakePlayer::addPeriodicTimeObserver(double, TimeCallback callback) {
    const ObserverId id = nextObserverId_++;
    observers_.emplace(id, std::move(callback));
    return id;
}

void FakePlayer::removeTimeObserver(ObserverId id) {
    observers_.erase(id);
}

void FakePlayer::advance(double seconds) {
    if (!playing_ || !item_)
        return;
    timeSeconds_ += seconds;
    queueTimeJump();
}

void FakePlayer::deliver() {
    while (!queued_.empty()) {
        auto call = std::move(queued_.front());
        queued_.pop_front();
        call();
    }
}

void FakePlayer::supersedePending() {
    if (pending_) {
        queueCompletion(std::move(pending_->done), false);
        pending_.reset();
    }
}

void FakePlayer::queueCompletion(SeekCompletion done, bool finished) {
    if (done)
        queued_.push_back([done = std::move(done), finished] { done(finished); });
}

// Each call reports the time of the moment it was queued for. Observers are
// looked up when the call runs, so one removed in between is not called.
void FakePlayer::queueTimeJump() {
    for (const auto& [id, callback] : observers_) {
        queued_.push_back([this, id = id, time = timeSeconds_] {
            if (auto it = observers_.find(id); it != observers_.end())
                it->second(time);
        });
    }
}

} // namespace kavlo

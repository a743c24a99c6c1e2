#include "playback/player_base.h"

#include <QMetaObject>

#include <cmath>
#include <vector>

namespace kavlo {

PlayerBase::PlayerBase(QObject* parent) : FrameSource(parent) {}

// Completions still filed are dropped, not called: their owner is usually
// being torn down too.
PlayerBase::~PlayerBase() = default;

Player::ObserverId PlayerBase::addPeriodicTimeObserver(double intervalSeconds,
                                                       TimeCallback callback) {
    const ObserverId id = nextObserverId_++;
    Observer& o = observers_[id];
    o.callback = std::move(callback);
    o.timer = new QTimer(this);
    o.timer->setTimerType(Qt::PreciseTimer);
    o.timer->setInterval(std::max(1, int(std::lround(intervalSeconds * 1000))));
    QObject::connect(o.timer, &QTimer::timeout, this, [this, id] {
        if (auto it = observers_.find(id); it != observers_.end()) {
            // A copy: the callback may remove its own observer.
            const TimeCallback callback = it->second.callback;
            callback(currentTimeSeconds());
        }
    });
    if (playing_)
        o.timer->start();
    return id;
}

// The timer may be the one whose timeout is running right now, so it goes
// later.
void PlayerBase::removeTimeObserver(ObserverId id) {
    auto it = observers_.find(id);
    if (it == observers_.end())
        return;
    it->second.timer->stop();
    it->second.timer->deleteLater();
    observers_.erase(it);
}

void PlayerBase::showFrame(VideoImage image, int64_t ptsUs) {
    image_ = std::move(image);
    const bool jumped = ptsUs != currentTimeUs_ && !playing_;
    currentTimeUs_ = ptsUs;
    emit frameChanged();
    if (jumped)
        notifyTimeJump();
}

void PlayerBase::replaceImage(VideoImage image) {
    image_ = std::move(image);
    emit frameChanged();
}

void PlayerBase::clearFrame() {
    const bool jumped = currentTimeUs_ != 0;
    image_ = {};
    currentTimeUs_ = 0;
    emit frameChanged();
    if (jumped)
        notifyTimeJump();
}

uint64_t PlayerBase::fileSeek(SeekCompletion done) {
    const uint64_t ticket = nextTicket_++;
    completions_.emplace(ticket, std::move(done));
    return ticket;
}

void PlayerBase::completeSeek(uint64_t ticket, bool finished) {
    auto it = completions_.find(ticket);
    if (it == completions_.end())
        return;
    SeekCompletion done = std::move(it->second);
    completions_.erase(it);
    if (done)
        done(finished);
}

void PlayerBase::completeSeekLater(uint64_t ticket, bool finished) {
    QMetaObject::invokeMethod(
        this, [this, ticket, finished] { completeSeek(ticket, finished); }, Qt::QueuedConnection);
}

void PlayerBase::setPlayingState(bool playing) {
    if (playing == playing_)
        return;
    playing_ = playing;
    for (auto& [id, o] : observers_) {
        if (playing)
            o.timer->start();
        else
            o.timer->stop();
    }
    notifyTimeJump();
}

// An observer may add or remove observers from its callback; walk a copy of
// the ids and look each up again.
void PlayerBase::notifyTimeJump() {
    std::vector<ObserverId> ids;
    for (const auto& entry : observers_)
        ids.push_back(entry.first);
    const double now = currentTimeSeconds();
    for (ObserverId id : ids) {
        if (auto it = observers_.find(id); it != observers_.end()) {
            const TimeCallback callback = it->second.callback;
            callback(now);
        }
    }
}

} // namespace kavlo

#include "playback/media_clock.h"

#include <chrono>
#include <cstdlib>

namespace kavlo {

namespace {
// A report this far from the clock is a real jump (the device stalled or
// skipped) and is followed at once.
constexpr int64_t kSnapUs = 10'000;
// Smaller differences are closed by this fraction per report: the device
// reports every few milliseconds, so the clock settles within a few tens.
constexpr int64_t kSmoothing = 8;
} // namespace

int64_t steadyNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

MediaClock::MediaClock(NowFn nowUs) : now_(std::move(nowUs)) {
    baseTimeUs_ = now_();
}

int64_t MediaClock::positionLocked(int64_t now) const {
    if (paused_)
        return basePtsUs_;
    if (holding_)
        return now < holdDeadlineUs_ ? basePtsUs_ : basePtsUs_ + (now - holdDeadlineUs_);
    return basePtsUs_ + (now - baseTimeUs_);
}

void MediaClock::reset(uint64_t serial, int64_t ptsUs) {
    std::lock_guard lock(mutex_);
    serial_ = serial;
    basePtsUs_ = ptsUs;
    baseTimeUs_ = now_();
    holding_ = false;
    lastAudioPtsUs_.reset();
}

void MediaClock::setPaused(bool paused) {
    std::lock_guard lock(mutex_);
    if (paused == paused_)
        return;
    const int64_t now = now_();
    basePtsUs_ = positionLocked(now);
    baseTimeUs_ = now;
    holding_ = false;
    paused_ = paused;
}

void MediaClock::holdForAudio(int64_t maxWaitUs) {
    std::lock_guard lock(mutex_);
    const int64_t now = now_();
    basePtsUs_ = positionLocked(now);
    baseTimeUs_ = now;
    holding_ = true;
    holdDeadlineUs_ = now + maxWaitUs;
    lastAudioPtsUs_.reset();
}

void MediaClock::syncToAudio(uint64_t serial, int64_t ptsUs) {
    std::lock_guard lock(mutex_);
    if (serial != serial_ || paused_)
        return;
    const int64_t now = now_();
    if (holding_ && now < holdDeadlineUs_) {
        // The first report only says where the device stands; it is heard
        // once a later report has moved on.
        const bool moving = lastAudioPtsUs_ && ptsUs > *lastAudioPtsUs_;
        lastAudioPtsUs_ = ptsUs;
        if (!moving)
            return;
    }
    // The device reports its position in steps a few milliseconds off
    // either way; following each step would move every frame with it. The
    // first report of a generation (or the first heard after a hold) and
    // any report far off set the clock; the others move it part of the way,
    // so it follows the device smoothly and drifts never add up.
    const int64_t position = positionLocked(now);
    const int64_t errorUs = ptsUs - position;
    const bool set = holding_ || !lastAudioPtsUs_ || std::llabs(errorUs) > kSnapUs;
    holding_ = false;
    lastAudioPtsUs_ = ptsUs;
    basePtsUs_ = set ? ptsUs : position + errorUs / kSmoothing;
    baseTimeUs_ = now;
}

int64_t MediaClock::positionUs() const {
    std::lock_guard lock(mutex_);
    return positionLocked(now_());
}

uint64_t MediaClock::serial() const {
    std::lock_guard lock(mutex_);
    return serial_;
}

bool MediaClock::waitingForAudio() const {
    std::lock_guard lock(mutex_);
    return holding_ && !paused_ && now_() < holdDeadlineUs_;
}

bool MediaClock::paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

} // namespace kavlo

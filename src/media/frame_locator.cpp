#include "media/frame_locator.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace kavlo {

const DecodedFrame* FrameLocator::ahead() const {
    return ahead_ && ahead_->generation == stream_.generation() ? &*ahead_ : nullptr;
}

std::optional<DecodedFrame> FrameLocator::next() {
    std::optional<DecodedFrame> f;
    if (ahead())
        f = std::move(ahead_);
    else
        f = stream_.next();
    ahead_.reset();
    if (f) {
        lastStart_ = f->start;
        lastLength_ = f->length;
        lastGeneration_ = f->generation;
        handedOut_ = true;
    }
    return f;
}

std::optional<SourceTime> FrameLocator::nextStart() const {
    if (const DecodedFrame* f = ahead())
        return f->start;
    if (handedOut_ && lastGeneration_ == stream_.generation() && lastLength_.count() > 0)
        return lastStart_ + lastLength_;
    return std::nullopt;
}

bool FrameLocator::walkTo(SourceTime t, std::optional<DecodedFrame>& onScreen, const Visit& visit,
                          bool settleByLength) {
    const FrameTiming& timing = stream_.timing();
    for (;;) {
        std::optional<DecodedFrame> f = next();
        if (!f)
            return !onScreen;
        if (visit)
            visit(*f);
        if (!timing.startedBy(f->start.us(), t.us())) {
            ahead_ = std::move(f);
            return !onScreen;
        }
        onScreen = std::move(f);
        if (settleByLength &&
            timing.surelyOnScreen(onScreen->start.us(), onScreen->length.count(), t.us()))
            return false;
    }
}

std::optional<DecodedFrame> FrameLocator::locate(SourceTime t, const Visit& visit,
                                                 bool settleByLength) {
    // `visit` may throw; skipping ends with the locate either way.
    struct EndSkipping {
        DecodedStream& stream;
        ~EndSkipping() { stream.skipUnreferencedBefore(std::nullopt); }
    } endSkipping{stream_};
    std::optional<DecodedFrame> onScreen;
    SourceTime target = t;
    for (Microseconds backoff = std::chrono::seconds(1);; backoff *= 2) {
        stream_.seek(target);
        // Frames that end before t and that no other frame refers to cannot
        // be on screen: not decoding them roughly halves a long run from a
        // key frame.
        stream_.skipUnreferencedBefore(t);
        onScreen.reset();
        const bool landedLate = walkTo(t, onScreen, visit, settleByLength);
        if (!landedLate || target.us() <= 0)
            break;
        target = std::max(t - backoff, SourceTime());
    }
    // t lies before the first frame: that one is on screen.
    if (!onScreen)
        onScreen = next();
    return onScreen;
}

} // namespace kavlo

#include "playback/video_stream.h"

#include "media/error.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

// How far ahead of the current position a requested time may lie for
// decoding on to beat seeking back to a key frame.
constexpr int64_t kNearUs = 1'000'000;

} // namespace

VideoStream::VideoStream(const std::string& path, int decoderThreads)
    : stream_(path, MediaKind::video, decoderThreads) {}

std::optional<TimedFrame> VideoStream::next() {
    std::optional<TimedFrame> f;
    if (upcoming_) {
        f = std::move(upcoming_);
        upcoming_.reset();
    } else {
        if (std::optional<DecodedFrame> d = stream_.next())
            f = TimedFrame{std::move(d->frame), d->start.us(), d->length.count(), d->contiguous};
    }
    if (f) {
        positionUs_ = f->ptsUs;
        lastDurationUs_ = f->durationUs;
    }
    return f;
}

std::optional<int64_t> VideoStream::nextStartUs() const {
    if (upcoming_)
        return upcoming_->ptsUs;
    if (positionUs_ && lastDurationUs_ > 0)
        return *positionUs_ + lastDurationUs_;
    return std::nullopt;
}

void VideoStream::seekTo(int64_t tUs) {
    stream_.seek(SourceTime::fromUs(tUs));
    upcoming_.reset();
    positionUs_.reset();
    lastDurationUs_ = 0;
}

std::optional<TimedFrame>
VideoStream::locateFromHere(int64_t tUs, const std::function<void(const TimedFrame&)>& visit,
                            bool& landedLate) {
    std::optional<TimedFrame> current;
    landedLate = false;
    for (bool first = true;; first = false) {
        std::optional<TimedFrame> f = next();
        if (!f) {
            // Nothing at all: the seek may have landed after the last key
            // frame, from where nothing decodes.
            landedLate = first;
            return current;
        }
        if (visit)
            visit(*f);
        if (!timing().startedBy(f->ptsUs, tUs)) {
            if (!current) {
                // The first frame comes after t: either t lies before the
                // track's first frame, or the seek landed too late.
                landedLate = first;
                return f;
            }
            upcoming_ = std::move(f);
            positionUs_ = current->ptsUs;
            lastDurationUs_ = current->durationUs;
            return current;
        }
        // The container's frame length can settle it without decoding on.
        if (timing().surelyOnScreen(f->ptsUs, f->durationUs, tUs))
            return f;
        current = std::move(f);
    }
}

bool VideoStream::canContinueTo(int64_t tUs) const {
    const std::optional<int64_t> from = nextStartUs();
    if (!from || !timing().startedBy(*from, tUs) || tUs - *from > kNearUs)
        return false;
    // A locate that ended early (its caller gave up on it) may have left
    // frames ahead of here undecoded.
    if (const std::optional<SourceTime> skipped = stream_.skippedBefore();
        skipped && tUs < skipped->us())
        return false;
    // When the key frame before t lies after here, decoding from it is
    // cheaper. (Index times are decoding times, at most a few frames early,
    // so a position just before a key frame may still decode on.)
    const std::optional<int64_t> key = keyFrameUs(tUs);
    return !key || *key <= *from;
}

std::optional<int64_t> VideoStream::keyFrameUs(int64_t tUs) const {
    if (const std::optional<SourceTime> key = stream_.keyFrameAtOrBefore(SourceTime::fromUs(tUs)))
        return key->us();
    return std::nullopt;
}

std::optional<TimedFrame> VideoStream::locate(int64_t tUs, bool continueIfNear,
                                              const std::function<void(const TimedFrame&)>& visit) {
    std::optional<TimedFrame> found;
    bool landedLate = false;
    // `visit` may throw to give up; skipping ends with the locate anyway.
    struct EndSkipping {
        DecodedStream& stream;
        ~EndSkipping() { stream.skipUnreferencedBefore(std::nullopt); }
    } endSkipping{stream_};
    if (continueIfNear && canContinueTo(tUs)) {
        found = locateFromHere(tUs, visit, landedLate);
    } else {
        // An inexact index can put the key frame after t; go back further
        // until it does not.
        int64_t target = tUs;
        for (int64_t backoff = 1'000'000;; backoff *= 2) {
            seekTo(target);
            // Frames that end before t and that no other frame refers to
            // cannot be on screen: not decoding them roughly halves a long
            // run from a key frame.
            stream_.skipUnreferencedBefore(SourceTime::fromUs(tUs));
            found = locateFromHere(tUs, visit, landedLate);
            if (!landedLate || target <= 0)
                break;
            target = std::max<int64_t>(tUs - backoff, 0);
        }
    }
    return found;
}

int64_t VideoStream::scanEndUs() {
    const int64_t endUs = stream_.scanEnd().us();
    seekTo(0);
    return endUs;
}

} // namespace kavlo

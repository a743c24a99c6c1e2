#include "playback/video_stream.h"

namespace kavlo {

namespace {

// How far ahead of the current position a requested time may lie for
// decoding on to beat seeking back to a key frame.
constexpr int64_t kNearUs = 1'000'000;

} // namespace

VideoStream::VideoStream(const std::string& path, int decoderThreads)
    : stream_(path, MediaKind::video, decoderThreads) {}

std::optional<int64_t> VideoStream::nextStartUs() const {
    if (const std::optional<SourceTime> start = locator_.nextStart())
        return start->us();
    return std::nullopt;
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

std::optional<DecodedFrame> VideoStream::locate(int64_t tUs, bool continueIfNear,
                                                const FrameLocator::Visit& visit) {
    const SourceTime t = SourceTime::fromUs(tUs);
    if (!continueIfNear || !canContinueTo(tUs))
        return locator_.locate(t, visit, true);
    std::optional<DecodedFrame> onScreen;
    locator_.walkTo(t, onScreen, visit, true);
    // t lies before the first frame from here: that one is on screen.
    if (!onScreen)
        onScreen = locator_.next();
    return onScreen;
}

} // namespace kavlo

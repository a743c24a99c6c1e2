#include "playback/scrub_decoder.h"

#include "media/error.h"

#include <algorithm>
#include <thread>

namespace kavlo {

namespace {

// Frames decoded ahead of the one shown while no seek waits, so that a drag
// forward finds them ready.
constexpr int kPrefetchFrames = 12;
// After a frame from the cache, prefetching goes on from where decoding
// stands only if that is this close after the frame: a drag moving back over
// cached frames leaves the decoder idle rather than busy far ahead.
constexpr int64_t kPrefetchReachUs = 250'000;
// Idle steps make pictures of cached frames this close to the one on
// screen, so that a drag over them shows each without converting it first.
constexpr int64_t kConvertReachUs = 500'000;

// Frame threads for the scrub decoder. A seek decodes a chain of frames that
// each depend on the one before, and the target comes out only after as
// many further frames as there are threads minus one: more threads than
// cores only add frames to decode past the target (on two cores, three
// threads took a fifth longer per seek than two).
int decoderThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 0 : int(std::min(cores, 4u));
}

} // namespace

ScrubDecoder::ScrubDecoder(const std::string& path, FrameCache& cache)
    : stream_(path, decoderThreads()), converter_(stream_.track()),
      interimConverter_(stream_.track()), cache_(cache) {}

ScrubDecoder::Picture ScrubDecoder::show(int64_t tUs, PixelSize box, const SeekProgress& progress) {
    tUs = std::max<int64_t>(tUs, 0);
    if (auto hit = cache_.find(tUs)) {
        planAfterHit(hit->ptsUs);
        if (!hit->image.isNull() && hit->box == box) {
            shownFrame_.reset();
            shownPtsUs_ = hit->ptsUs;
            return {hit->ptsUs, hit->image};
        }
        if (hit->frame)
            return keep(std::move(hit->frame), hit->ptsUs, box);
    }
    DecodedFrame found = decode(tUs, box, progress);
    return keep(std::move(found.frame), found.start.us(), box);
}

void ScrubDecoder::follow(int64_t tUs) {
    if (auto hit = cache_.find(std::max<int64_t>(tUs, 0))) {
        planAfterHit(hit->ptsUs);
        shownFrame_ = std::move(hit->frame);
        shownPtsUs_ = hit->ptsUs;
    }
}

void ScrubDecoder::resize(PixelSize box) {
    cache_.keepImagesFor(box);
    convertLeft_ = true;
}

std::optional<ScrubDecoder::Picture> ScrubDecoder::redraw(PixelSize box) {
    if (!shownPtsUs_)
        return std::nullopt;
    if (shownFrame_)
        return keep(shownFrame_.share(), *shownPtsUs_, box);
    return show(*shownPtsUs_, box);
}

void ScrubDecoder::planAfterHit(int64_t ptsUs) {
    const auto next = stream_.nextStartUs();
    prefetchLeft_ = next && *next > ptsUs && *next - ptsUs < kPrefetchReachUs ? kPrefetchFrames : 0;
    convertLeft_ = true;
}

DecodedFrame ScrubDecoder::decode(int64_t tUs, PixelSize box, const SeekProgress& progress) {
    std::optional<DecodedFrame> found;
    backfill_.reset();
    if (stream_.canContinueTo(tUs)) {
        // A few frames on: worth keeping on the way.
        found = stream_.locate(tUs, true, [&](const DecodedFrame& f) {
            remember(f);
            onTheWay(f, true, tUs, box, progress);
        });
    } else {
        // From a key frame: only the frame asked for is kept (and those
        // shown on the way). Holding the others would make the decoder take
        // fresh memory for every frame (zeroed, page by page) instead of
        // reusing a few buffers, which costs a third of the time; idle work
        // fills them in.
        int64_t firstUs = INT64_MAX;
        found = stream_.locate(tUs, false, [&](const DecodedFrame& f) {
            firstUs = std::min(firstUs, f.start.us());
            onTheWay(f, false, tUs, box, progress);
        });
        if (found) {
            remember(*found);
            if (firstUs < found->start.us() || stream_.skippedSinceSeek())
                backfill_ = Backfill{tUs, found->start.us(), false};
        }
    }
    if (!found)
        throw kavloError(kNoVideoFrames, "No video frames found.");
    prefetchLeft_ = kPrefetchFrames;
    if (!stream_.timing().startedBy(found->start.us(), tUs))
        cache_.markFirst(found->start.us());
    if (stream_.atEnd())
        cache_.markLast(found->start.us());
    return std::move(*found);
}

void ScrubDecoder::onTheWay(const DecodedFrame& f, bool remembered, int64_t tUs, PixelSize box,
                            const SeekProgress& progress) {
    if (progress.abandoned && progress.abandoned())
        throw GaveWay{};
    if (progress.newer) {
        if (const std::optional<int64_t> newer = progress.newer(); newer && givesWayTo(tUs, *newer))
            throw GaveWay{};
    }
    const auto now = std::chrono::steady_clock::now();
    if (!progress.interim || now - lastPictureAt_ < kInterimSpacing ||
        !stream_.timing().surelyOverBy(f.start.us(), f.length.count(), tUs))
        return;
    // Kept, for idle work to make its picture properly later.
    if (!remembered)
        remember(f);
    // At half the size: a quarter of the work of a full picture, and on
    // screen only until the exact frame replaces it.
    const VideoTrackInfo& track = stream_.track();
    const PixelSize full = fitPictureSize(track.uprightWidth(), track.uprightHeight(), box);
    const PixelSize half{std::max(full.width / 2, 1), std::max(full.height / 2, 1)};
    lastPictureAt_ = now;
    progress.interim({f.start.us(), interimConverter_.convert(f.frame, half)});
}

bool ScrubDecoder::givesWayTo(int64_t tUs, int64_t newerUs) const {
    return newerUs != tUs && (stream_.canContinueTo(newerUs) ||
                              stream_.keyFrameUs(newerUs) != stream_.keyFrameUs(tUs));
}

ScrubDecoder::Picture ScrubDecoder::keep(Frame frame, int64_t ptsUs, PixelSize box) {
    lastPictureAt_ = std::chrono::steady_clock::now();
    VideoImage image = converter_.convert(frame, box);
    cache_.setImage(ptsUs, image, box);
    shownFrame_ = std::move(frame);
    shownPtsUs_ = ptsUs;
    return {ptsUs, std::move(image)};
}

// Most useful first: the frames after the one shown (a drag forward finds
// them ready), pictures of cached frames near it (a drag over them shows
// each at once), then the frames a seek left undecoded on its way.
void ScrubDecoder::idleStep(PixelSize box) {
    if (prefetchLeft_ > 0) {
        --prefetchLeft_;
        if (prefetchOne())
            return;
        prefetchLeft_ = 0;
    }
    if (convertLeft_) {
        if (convertOne(box))
            return;
        convertLeft_ = false;
    }
    if (backfill_) {
        if (!backfill_->started) {
            stream_.seekTo(backfill_->seekUs);
            backfill_->started = true;
        }
        auto f = stream_.next();
        if (f)
            remember(*f); // the frame shown too: it closes its predecessor's interval
        if (f && f->start.us() < backfill_->untilUs)
            return;
        backfill_.reset();
    }
}

void ScrubDecoder::dropIdleWork() {
    prefetchLeft_ = 0;
    convertLeft_ = false;
    backfill_.reset();
}

// Decodes one frame past the last one decoded; false at the end.
bool ScrubDecoder::prefetchOne() {
    if (stream_.atEnd())
        return false;
    auto f = stream_.next();
    if (!f) {
        if (lastPtsUs_)
            cache_.markLast(*lastPtsUs_);
        return false;
    }
    remember(*f);
    return true;
}

// Makes the picture of the cached frame nearest the one on screen; false
// when none within reach lacks one.
bool ScrubDecoder::convertOne(PixelSize box) {
    const auto next = cache_.nearestWithoutImage(kConvertReachUs);
    if (!next)
        return false;
    cache_.setImage(next->ptsUs, converter_.convert(next->frame, box), box);
    return true;
}

void ScrubDecoder::remember(const DecodedFrame& f) {
    cache_.insert(f.frame, f.start.us(), f.length.count(), f.contiguous);
    lastPtsUs_ = f.start.us();
    convertLeft_ = true;
}

} // namespace kavlo

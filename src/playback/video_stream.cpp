#include "playback/video_stream.h"

#include "media/error.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

const VideoTrackInfo& requireVideo(const InputFile& file) {
    if (!file.info().video)
        throw kavloError(kNoVideoTrackFound, "No video track found.");
    return *file.info().video;
}

// How far ahead of the current position a requested time may lie for
// decoding on to beat seeking back to a key frame.
constexpr int64_t kNearUs = 1'000'000;

} // namespace

VideoStream::VideoStream(const std::string& path, int decoderThreads)
    : file_(path), track_(requireVideo(file_)), timing_(file_),
      decoder_(file_.stream(track_.streamIndex), decoderThreads), packet_(av::allocPacket()) {
    AVFormatContext* ctx = file_.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == track_.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

std::optional<TimedFrame> VideoStream::decodeOne() {
    av::FramePtr frame = av::allocFrame();
    for (;;) {
        if (decoder_.receive(frame.get())) {
            const int64_t ts = frameTimestamp(frame.get());
            TimedFrame out;
            out.ptsUs =
                ts == AV_NOPTS_VALUE ? (positionUs_ ? *positionUs_ + 1 : 0) : timing_.toUs(ts);
            out.durationUs = timing_.lengthUs(frame->pkt_duration);
            out.frame = std::move(frame);
            out.contiguous = positionUs_.has_value() && !skippedSinceSeek_;
            return out;
        }
        if (decoder_.drained() || inputDone_)
            return std::nullopt;
        if (file_.readPacket(packet_.get(), track_.streamIndex)) {
            const AVPacket* p = packet_.get();
            const bool skippable =
                skipBeforeUs_ != INT64_MIN && p->pts != AV_NOPTS_VALUE &&
                timing_.surelyOverBy(timing_.toUs(p->pts), timing_.lengthUs(p->duration),
                                     skipBeforeUs_);
            decoder_.context()->skip_frame = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            skippedSinceSeek_ = skippedSinceSeek_ || skippable;
            // receive() just asked for input, so the decoder takes it.
            if (!decoder_.send(p))
                throwMediaError(AVERROR(EAGAIN), "decode");
        } else {
            decoder_.send(nullptr);
            inputDone_ = true;
        }
    }
}

std::optional<TimedFrame> VideoStream::next() {
    std::optional<TimedFrame> f;
    if (upcoming_) {
        f = std::move(upcoming_);
        upcoming_.reset();
    } else {
        f = decodeOne();
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
    file_.seek(track_.streamIndex, std::max<int64_t>(tUs, 0) / 1e6);
    decoder_.flush();
    inputDone_ = false;
    upcoming_.reset();
    positionUs_.reset();
    lastDurationUs_ = 0;
    skippedSinceSeek_ = false;
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
        if (!timing_.startedBy(f->ptsUs, tUs)) {
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
        if (timing_.surelyOnScreen(f->ptsUs, f->durationUs, tUs))
            return f;
        current = std::move(f);
    }
}

bool VideoStream::canContinueTo(int64_t tUs) const {
    const std::optional<int64_t> from = nextStartUs();
    if (!from || !timing_.startedBy(*from, tUs) || tUs - *from > kNearUs)
        return false;
    // The container's index (complete in MP4) says where the key frame
    // before t lies: when it lies after here, decoding from it is cheaper.
    // (Index times are decoding times, at most a few frames early, so a
    // position just before a key frame may still decode on.)
    AVStream* st = file_.stream(track_.streamIndex);
    const int i = av_index_search_timestamp(st, timing_.toStreamTime(tUs), AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* key = i >= 0 ? avformat_index_get_entry(st, i) : nullptr;
    return !key || timing_.toUs(key->timestamp) <= *from;
}

std::optional<TimedFrame> VideoStream::locate(int64_t tUs, bool continueIfNear,
                                              const std::function<void(const TimedFrame&)>& visit) {
    std::optional<TimedFrame> found;
    bool landedLate = false;
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
            skipBeforeUs_ = tUs;
            found = locateFromHere(tUs, visit, landedLate);
            if (!landedLate || target <= 0)
                break;
            target = std::max<int64_t>(tUs - backoff, 0);
        }
    }
    skipBeforeUs_ = INT64_MIN;
    return found;
}

int64_t VideoStream::scanEndUs() {
    const int64_t endUs = scanVideoEndUs(file_);
    seekTo(0);
    return endUs;
}

int64_t scanVideoEndUs(InputFile& file) {
    if (!file.info().video)
        return 0;
    const VideoTrackInfo& track = *file.info().video;
    const FrameTiming timing(file);
    AVStream* st = file.stream(track.streamIndex);
    const AVDiscard discard = st->discard;
    st->discard = AVDISCARD_DEFAULT;
    file.seek(track.streamIndex, 0);
    av::PacketPtr packet = av::allocPacket();
    int64_t endUs = 0;
    while (file.readPacket(packet.get(), track.streamIndex)) {
        if (packet->pts == AV_NOPTS_VALUE)
            continue;
        const int64_t lengthUs = timing.lengthUs(packet->duration);
        endUs = std::max(endUs, timing.toUs(packet->pts) +
                                    (lengthUs > 0 ? lengthUs : timing.nominalFrameUs()));
    }
    st->discard = discard;
    file.seek(track.streamIndex, 0);
    return endUs;
}

} // namespace kavlo

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
    : file_(path), track_(requireVideo(file_)),
      decoder_(file_.stream(track_.streamIndex), decoderThreads), packet_(av::allocPacket()) {
    AVFormatContext* ctx = file_.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == track_.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const double tick = av_q2d(file_.stream(track_.streamIndex)->time_base);
    double slack = std::max(1e-4, tick);
    if (const double rate = track_.nominalFrameRate(); rate > 0)
        slack = std::min(slack, 0.25 / rate);
    slackUs_ = std::max<int64_t>(1, std::llround(slack * 1e6));
}

int64_t VideoStream::toUs(int64_t streamTs) const {
    return std::llround(file_.toSeconds(track_.streamIndex, streamTs) * 1e6);
}

std::optional<TimedFrame> VideoStream::decodeOne() {
    av::FramePtr frame = av::allocFrame();
    const AVRational tb = file_.stream(track_.streamIndex)->time_base;
    for (;;) {
        if (decoder_.receive(frame.get())) {
            int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE)
                ts = frame->pts;
            TimedFrame out;
            out.ptsUs = ts == AV_NOPTS_VALUE ? (positionUs_ ? *positionUs_ + 1 : 0) : toUs(ts);
            out.durationUs =
                frame->pkt_duration > 0 ? av_rescale_q(frame->pkt_duration, tb, {1, 1000000}) : 0;
            out.frame = std::move(frame);
            out.contiguous = positionUs_.has_value() && !skippedSinceSeek_;
            return out;
        }
        if (decoder_.drained() || inputDone_)
            return std::nullopt;
        if (file_.readPacket(packet_.get(), track_.streamIndex)) {
            const AVPacket* p = packet_.get();
            const bool skippable =
                skipBeforeUs_ != INT64_MIN && p->pts != AV_NOPTS_VALUE && p->duration > 0 &&
                toUs(p->pts) + av_rescale_q(p->duration, tb, {1, 1000000}) <= skipBeforeUs_;
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
        if (!f)
            return current;
        if (visit)
            visit(*f);
        if (f->ptsUs > tUs + slackUs_) {
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
        if (f->durationUs > 0 && tUs + slackUs_ < f->ptsUs + f->durationUs)
            return f;
        current = std::move(f);
    }
}

bool VideoStream::canContinueTo(int64_t tUs) const {
    const std::optional<int64_t> from = nextStartUs();
    if (!from || *from > tUs + slackUs_ || tUs - *from > kNearUs)
        return false;
    // The container's index (complete in MP4) says where the key frame
    // before t lies: when it lies after here, decoding from it is cheaper.
    // (Index times are decoding times, at most a few frames early, so a
    // position just before a key frame may still decode on.)
    AVStream* st = file_.stream(track_.streamIndex);
    const int64_t ts = file_.toStreamTime(track_.streamIndex, tUs / 1e6);
    const int i = av_index_search_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* key = i >= 0 ? avformat_index_get_entry(st, i) : nullptr;
    return !key || toUs(key->timestamp) <= *from;
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
    AVStream* st = file.stream(track.streamIndex);
    const double rate = track.nominalFrameRate();
    const int64_t fallbackUs = std::llround(1e6 / (rate > 0 ? rate : 30.0));
    const AVDiscard discard = st->discard;
    st->discard = AVDISCARD_DEFAULT;
    file.seek(track.streamIndex, 0);
    av::PacketPtr packet = av::allocPacket();
    int64_t endUs = 0;
    while (file.readPacket(packet.get(), track.streamIndex)) {
        if (packet->pts == AV_NOPTS_VALUE)
            continue;
        const int64_t lengthUs = packet->duration > 0
                                     ? av_rescale_q(packet->duration, st->time_base, {1, 1000000})
                                     : fallbackUs;
        const int64_t startUs = std::llround(file.toSeconds(track.streamIndex, packet->pts) * 1e6);
        endUs = std::max(endUs, startUs + lengthUs);
    }
    st->discard = discard;
    file.seek(track.streamIndex, 0);
    return endUs;
}

} // namespace kavlo

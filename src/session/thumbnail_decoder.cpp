#include "session/thumbnail_decoder.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "media/error.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kavlo {

namespace {

// Without an index to say where key frames lie, decoding on is assumed to
// beat a seek back to a key frame for times up to this far ahead.
constexpr double kNearSeconds = 1.0;

const VideoTrackInfo& requireVideo(const InputFile& file) {
    if (!file.info().video)
        throw kavloError(kNoVideoTrackFound, "No video track found.");
    return *file.info().video;
}

} // namespace

ThumbnailDecoder::ThumbnailDecoder(const std::filesystem::path& file)
    : file_(file.native()), track_(requireVideo(file_)), stream_(file_.stream(track_.streamIndex)),
      decoder_(stream_, 1), packet_(av::allocPacket()) {
    AVFormatContext* ctx = file_.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == track_.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    // The rounding of container timestamps (a millisecond in Matroska), but
    // never as much as a quarter of a frame.
    slack_ = std::max(1e-4, av_q2d(stream_->time_base));
    if (const double rate = track_.nominalFrameRate(); rate > 0)
        slack_ = std::min(slack_, 0.25 / rate);
}

double ThumbnailDecoder::timeOf(const AVFrame* frame) const {
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    return ts == AV_NOPTS_VALUE ? 0.0 : file_.toSeconds(track_.streamIndex, ts);
}

double ThumbnailDecoder::packetTime(const AVPacket* packet) const {
    return packet->pts == AV_NOPTS_VALUE ? std::numeric_limits<double>::quiet_NaN()
                                         : file_.toSeconds(track_.streamIndex, packet->pts);
}

void ThumbnailDecoder::seek(double seconds) {
    positioned_ = false;
    current_.reset();
    upcoming_.reset();
    file_.seek(track_.streamIndex, std::max(seconds, 0.0));
    decoder_.flush();
    inputDone_ = false;
    packetPending_ = file_.readPacket(packet_.get(), track_.streamIndex);
    inputDone_ = !packetPending_;
    if (inputDone_)
        decoder_.send(nullptr);
}

bool ThumbnailDecoder::worthContinuing(double t, double tolerance) const {
    if (!positioned_ || (!current_ && !upcoming_))
        return false;
    const double from = timeOf(current_ ? current_.get() : upcoming_.get());
    if (t + slack_ < from)
        return false;
    // The index (complete in MP4) says where the last key frame before
    // t + tolerance lies; when that is ahead of here, a seek gets there
    // sooner, or finds a key frame that serves as it is. (Index times are
    // decoding times, a few frames early at most.)
    const int i = av_index_search_timestamp(
        stream_, file_.toStreamTime(track_.streamIndex, t + tolerance), AVSEEK_FLAG_BACKWARD);
    if (const AVIndexEntry* key = i >= 0 ? avformat_index_get_entry(stream_, i) : nullptr)
        return file_.toSeconds(track_.streamIndex, key->timestamp) <= from;
    return t - from <= kNearSeconds;
}

av::FramePtr ThumbnailDecoder::frameFor(double t, double tolerance) {
    try {
        if (worthContinuing(t, tolerance))
            return decodeForwardTo(t);

        // The last key frame at or before t + tolerance.
        seek(t + tolerance);
        double key = packetPending_ ? packetTime(packet_.get()) : std::nan("");
        if (packetPending_ && (packet_->flags & AV_PKT_FLAG_KEY) && std::abs(key - t) <= tolerance)
            return decodeKeyFrame();
        // An inexact index can land after t; go back further until it does
        // not. (A NaN time, unknown, is taken as landed well.)
        for (double back = 1.0; key > t + slack_; back *= 2) {
            const double target = std::max(t - back, 0.0);
            seek(target);
            key = packetPending_ ? packetTime(packet_.get()) : std::nan("");
            if (target <= 0)
                break;
        }
        return decodeForwardTo(t);
    } catch (...) {
        positioned_ = false;
        throw;
    }
}

av::FramePtr ThumbnailDecoder::decodeKeyFrame() {
    packetPending_ = false;
    if (lastKey_ && lastKey_->pts == packet_->pts)
        return av::refFrame(lastKey_.get());
    decoder_.context()->skip_frame = AVDISCARD_DEFAULT;
    decoder_.send(packet_.get());
    // Draining hands out the key frame at once instead of after the
    // reordering delay.
    decoder_.send(nullptr);
    av::FramePtr frame = av::allocFrame();
    const bool got = decoder_.receive(frame.get());
    decoder_.flush();
    if (!got)
        return nullptr;
    lastKey_ = av::refFrame(frame.get());
    return frame;
}

av::FramePtr ThumbnailDecoder::decodeForwardTo(double t) {
    positioned_ = true;
    for (;;) {
        if (!upcoming_)
            upcoming_ = decodeNext(t);
        if (!upcoming_) // the track ends before t: its last frame stays on screen
            return current_ ? av::refFrame(current_.get()) : nullptr;
        if (timeOf(upcoming_.get()) > t + slack_)
            // Before the first frame, the first one shows.
            return av::refFrame(current_ ? current_.get() : upcoming_.get());
        current_ = std::move(upcoming_);
        // The container's frame length can settle it without decoding on.
        const int64_t length = current_->pkt_duration;
        if (length > 0 && timeOf(current_.get()) + length * av_q2d(stream_->time_base) > t + slack_)
            return av::refFrame(current_.get());
    }
}

av::FramePtr ThumbnailDecoder::decodeNext(double t) {
    av::FramePtr frame = av::allocFrame();
    for (;;) {
        if (decoder_.receive(frame.get()))
            return frame;
        if (decoder_.drained())
            return nullptr;
        if (inputDone_)
            continue;
        if (!packetPending_ && !file_.readPacket(packet_.get(), track_.streamIndex)) {
            decoder_.send(nullptr);
            inputDone_ = true;
            continue;
        }
        packetPending_ = false;
        // A frame that ends by t and that no other frame refers to cannot be
        // the one on screen: not decoding it saves a good part of the run.
        const AVPacket* p = packet_.get();
        const bool skippable =
            p->duration > 0 && packetTime(p) + p->duration * av_q2d(stream_->time_base) <= t;
        decoder_.context()->skip_frame = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        // receive() just asked for input, so the decoder takes it.
        if (!decoder_.send(p))
            throwMediaError(AVERROR(EAGAIN), "decode");
    }
}

} // namespace kavlo

#include "session/thumbnail_decoder.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "media/error.h"

#include <algorithm>
#include <cstdlib>

namespace kavlo {

namespace {

// Without an index to say where key frames lie, decoding on is assumed to
// beat a seek back to a key frame for times up to this far ahead.
constexpr int64_t kNearUs = 1'000'000;

const InputFile& requireVideo(const InputFile& file) {
    if (!file.info().video)
        throw kavloError(kNoVideoTrackFound, "No video track found.");
    return file;
}

} // namespace

ThumbnailDecoder::ThumbnailDecoder(const std::filesystem::path& file)
    : file_(file.native()), track_(*requireVideo(file_).info().video),
      stream_(file_.stream(track_.streamIndex)), timing_(file_), decoder_(stream_, 1),
      packet_(av::allocPacket()) {
    AVFormatContext* ctx = file_.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == track_.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

int64_t ThumbnailDecoder::startUs(const AVFrame* frame) const {
    const int64_t ts = frameTimestamp(frame);
    return ts == AV_NOPTS_VALUE ? 0 : timing_.toUs(ts);
}

void ThumbnailDecoder::seekTo(int64_t tUs) {
    positioned_ = false;
    current_.reset();
    upcoming_.reset();
    file_.seek(track_.streamIndex, std::max<int64_t>(tUs, 0) / 1e6);
    decoder_.flush();
    // A seek by timestamps (MPEG-TS) can land between key frames, where
    // decoding cannot start; it starts at the next one.
    do
        packetPending_ = file_.readPacket(packet_.get(), track_.streamIndex);
    while (packetPending_ && !(packet_->flags & AV_PKT_FLAG_KEY));
    inputDone_ = !packetPending_;
    if (inputDone_)
        decoder_.send(nullptr);
}

bool ThumbnailDecoder::worthContinuing(int64_t tUs, int64_t toleranceUs) const {
    if (!positioned_ || (!current_ && !upcoming_))
        return false;
    const int64_t fromUs = startUs(current_ ? current_.get() : upcoming_.get());
    if (!timing_.startedBy(fromUs, tUs - toleranceUs))
        return false;
    // The index (complete in MP4) says where the last key frame before
    // t + tolerance lies; when that is ahead of here, a seek gets there
    // sooner, or finds a key frame that serves as it is. (Index times are
    // decoding times, a few frames early at most.)
    const int i = av_index_search_timestamp(stream_, timing_.toStreamTime(tUs + toleranceUs),
                                            AVSEEK_FLAG_BACKWARD);
    if (const AVIndexEntry* key = i >= 0 ? avformat_index_get_entry(stream_, i) : nullptr)
        return timing_.toUs(key->timestamp) <= fromUs;
    return tUs - fromUs <= kNearUs;
}

av::FramePtr ThumbnailDecoder::frameFor(int64_t tUs, int64_t toleranceUs) {
    try {
        // Without a key frame in reach, the earliest frame still on screen
        // at t - tolerance is the closest to the key frame, so the fewest
        // frames are decoded to get it.
        const int64_t reachUs = tUs - toleranceUs;
        if (worthContinuing(tUs, toleranceUs))
            return decodeForwardTo(reachUs);

        // The last key frame at or before t + tolerance.
        seekTo(tUs + toleranceUs);
        if (packetPending_ && (packet_->flags & AV_PKT_FLAG_KEY) &&
            packet_->pts != AV_NOPTS_VALUE &&
            std::abs(timing_.toUs(packet_->pts) - tUs) <= toleranceUs)
            return decodeKeyFrame();
        // An inexact index can land after t, and past the last key frame a
        // seek finds nothing; go back further until neither happens.
        const auto landedWrong = [&] {
            return !packetPending_ || (packet_->pts != AV_NOPTS_VALUE &&
                                       !timing_.startedBy(timing_.toUs(packet_->pts), tUs));
        };
        for (int64_t backUs = 1'000'000, targetUs = tUs; landedWrong() && targetUs > 0;
             backUs *= 2) {
            targetUs = std::max<int64_t>(tUs - backUs, 0);
            seekTo(targetUs);
        }
        return decodeForwardTo(reachUs);
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

av::FramePtr ThumbnailDecoder::decodeForwardTo(int64_t tUs) {
    positioned_ = true;
    for (;;) {
        if (!upcoming_)
            upcoming_ = decodeNext(tUs);
        if (!upcoming_) // the track ends before t: its last frame stays on screen
            return current_ ? av::refFrame(current_.get()) : nullptr;
        if (!timing_.startedBy(startUs(upcoming_.get()), tUs))
            // Before the first frame, the first one shows.
            return av::refFrame(current_ ? current_.get() : upcoming_.get());
        current_ = std::move(upcoming_);
        // The container's frame length can settle it without decoding on.
        if (timing_.surelyOnScreen(startUs(current_.get()),
                                   timing_.lengthUs(current_->pkt_duration), tUs))
            return av::refFrame(current_.get());
    }
}

av::FramePtr ThumbnailDecoder::decodeNext(int64_t tUs) {
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
        // A frame that is over by t and that no other frame refers to cannot
        // be the one on screen: not decoding it saves a good part of the run.
        const AVPacket* p = packet_.get();
        const bool skippable =
            p->pts != AV_NOPTS_VALUE &&
            timing_.surelyOverBy(timing_.toUs(p->pts), timing_.lengthUs(p->duration), tUs);
        decoder_.context()->skip_frame = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        // receive() just asked for input, so the decoder takes it.
        if (!decoder_.send(p))
            throwMediaError(AVERROR(EAGAIN), "decode");
    }
}

} // namespace kavlo

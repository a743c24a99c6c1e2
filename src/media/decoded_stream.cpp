#include "media/decoded_stream.h"

#include "media/error.h"
#include "media/ffmpeg.h"

#include <algorithm>

namespace kavlo {

namespace {

int trackOf(const InputFile& file, MediaKind kind) {
    if (kind == MediaKind::video) {
        if (!file.info().video)
            throw kavloError(kNoVideoTrackFound, "No video track found.");
        return file.info().video->streamIndex;
    }
    if (!file.info().audio)
        throw kavloError(kNoAudioTrack, "No audio track found.");
    return file.info().audio->streamIndex;
}

FrameTiming timingOf(const InputFile& file, MediaKind kind, int streamIndex) {
    if (kind == MediaKind::video)
        return FrameTiming(file);
    const int64_t start = file.context()->start_time;
    return FrameTiming(av::rational(file.stream(streamIndex)->time_base),
                       start == AV_NOPTS_VALUE ? 0 : start, {0, 1});
}

InputFile& switchOthersOff(InputFile& file, int streamIndex) {
    AVFormatContext* ctx = file.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return file;
}

// A missing reference alone is what an open GOP gives after a seek.
constexpr int kDamage = FF_DECODE_ERROR_INVALID_BITSTREAM | FF_DECODE_ERROR_CONCEALMENT_ACTIVE |
                        FF_DECODE_ERROR_DECODE_SLICES;

} // namespace

void checkVideoDecodable(const InputFile& file) {
    const Decoder decoder(file.stream(file.info().video.value().streamIndex), 1);
}

DecodedStream::DecodedStream(const std::string& path, MediaKind kind, int decoderThreads)
    : owned_(std::in_place, path), file_(&*owned_), kind_(kind),
      streamIndex_(trackOf(*file_, kind)), timing_(timingOf(*file_, kind, streamIndex_)),
      decoder_(switchOthersOff(*file_, streamIndex_).stream(streamIndex_), decoderThreads),
      packet_(av::allocPacket()) {}

DecodedStream::DecodedStream(InputFile& file, MediaKind kind, int decoderThreads)
    : file_(&file), kind_(kind), streamIndex_(trackOf(file, kind)),
      timing_(timingOf(file, kind, streamIndex_)),
      decoder_(switchOthersOff(file, streamIndex_).stream(streamIndex_), decoderThreads),
      packet_(av::allocPacket()) {}

uint64_t DecodedStream::seek(SourceTime t) {
    file_->seek(streamIndex_, std::max<int64_t>(t.us(), 0) / 1e6);
    decoder_.flush();
    packetHeld_ = inputDone_ = false;
    skippedSinceSeek_ = false;
    skippedBefore_.reset();
    nextStart_ = std::max(t, SourceTime());
    handedOut_ = false;
    return ++generation_;
}

uint64_t DecodedStream::seekToKeyPacket(SourceTime t) {
    seek(t);
    do
        packetHeld_ = file_->readPacket(packet_.get(), streamIndex_);
    while (packetHeld_ && !(packet_->flags & AV_PKT_FLAG_KEY));
    if (!packetHeld_) {
        inputDone_ = true;
        decoder_.send(nullptr);
    }
    return generation_;
}

std::optional<SourceTime> DecodedStream::heldPacketStart() const {
    if (!packetHeld_ || packet_->pts == AV_NOPTS_VALUE)
        return std::nullopt;
    return toSource({packet_->pts});
}

std::optional<DecodedFrame> DecodedStream::decodeHeldPacket() {
    if (!packetHeld_)
        return std::nullopt;
    packetHeld_ = false;
    decoder_.skipUnreferenced(false);
    decoder_.send(packet_.get());
    decoder_.send(nullptr);
    av::FramePtr frame = av::allocFrame();
    const bool got = decoder_.receive(frame.get());
    decoder_.flush();
    inputDone_ = false;
    if (!got)
        return std::nullopt;
    return stamp(std::move(frame));
}

bool DecodedStream::skippable(const AVPacket* p) const {
    if (kind_ != MediaKind::video)
        return false;
    if (skipBefore_ && timing_.surelyOverBy(p, skipBefore_->us()))
        return true;
    if (shownAt_.empty() || p->pts == AV_NOPTS_VALUE || p->duration <= 0)
        return false;
    const int64_t start = timing_.toUs(p->pts);
    const int64_t length = timing_.lengthUs(p->duration);
    // Not yet started at a time, or surely over by it: not on screen then.
    return std::none_of(shownAt_.begin(), shownAt_.end(), [&](SourceTime t) {
        return timing_.startedBy(start, t.us()) && !timing_.surelyOverBy(start, length, t.us());
    });
}

bool DecodedStream::readPacket() {
    if (packetHeld_) {
        packetHeld_ = false;
        return true;
    }
    return file_->readPacket(packet_.get(), streamIndex_);
}

DecodedFrame DecodedStream::stamp(av::FramePtr frame) {
    DecodedFrame out;
    const int64_t ts = frameTimestamp(frame.get());
    out.start = ts == AV_NOPTS_VALUE ? nextStart_ : toSource({ts});
    if (kind_ == MediaKind::video) {
        out.length = Microseconds(timing_.lengthUs(frame->pkt_duration));
        out.damaged = frame->decode_error_flags & kDamage;
        damagedFrames_ += out.damaged;
    } else if (frame->sample_rate > 0) {
        out.length = Microseconds(av_rescale(frame->nb_samples, AV_TIME_BASE, frame->sample_rate));
    }
    out.generation = generation_;
    out.contiguous = handedOut_ && !skippedSinceSeek_;
    out.frame = Frame(std::move(frame));
    nextStart_ = out.start + (out.length.count() > 0 ? out.length : Microseconds(1));
    handedOut_ = true;
    return out;
}

std::optional<DecodedFrame> DecodedStream::next() {
    av::FramePtr frame = av::allocFrame();
    for (;;) {
        if (decoder_.receive(frame.get()))
            return stamp(std::move(frame));
        if (decoder_.drained() || inputDone_)
            return std::nullopt;
        if (readPacket()) {
            const AVPacket* p = packet_.get();
            const bool skip = skippable(p);
            if (kind_ == MediaKind::video)
                decoder_.skipUnreferenced(skip);
            if (skip) {
                skippedSinceSeek_ = true;
                if (skipBefore_)
                    skippedBefore_ = std::max(skippedBefore_.value_or(*skipBefore_), *skipBefore_);
            }
            // receive() just asked for input, so the decoder takes it.
            if (!decoder_.send(p))
                throwMediaError(AVERROR(EAGAIN), "decode");
        } else {
            decoder_.send(nullptr);
            inputDone_ = true;
        }
    }
}

int64_t DecodedStream::sampleFramesPerTick(int rate) const {
    const AVRational tb = stream()->time_base;
    return av_rescale_rnd(rate, tb.num, tb.den, AV_ROUND_UP);
}

std::optional<SourceTime> DecodedStream::keyFrameAtOrBefore(SourceTime t) const {
    AVStream* st = file_->stream(streamIndex_);
    const int i = av_index_search_timestamp(st, toTicks(t).count, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* key = i >= 0 ? avformat_index_get_entry(st, i) : nullptr;
    if (!key)
        return std::nullopt;
    return toSource({key->timestamp});
}

SourceTime DecodedStream::scanEnd() {
    file_->seek(streamIndex_, 0);
    packetHeld_ = false;
    int64_t endUs = 0;
    while (file_->readPacket(packet_.get(), streamIndex_)) {
        if (packet_->pts == AV_NOPTS_VALUE)
            continue;
        const int64_t lengthUs = timing_.lengthUs(packet_->duration);
        endUs = std::max(endUs, timing_.toUs(packet_->pts) +
                                    (lengthUs > 0 ? lengthUs : timing_.nominalFrameUs()));
    }
    seek(SourceTime());
    return SourceTime::fromUs(endUs);
}

} // namespace kavlo

#include "media/decoder.h"

#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/input_file.h"

namespace kavlo {

namespace {

// What a decoder says about a damaged packet: invalid data, or, from the
// decoders that still return a bare -1 for it, "Operation not permitted".
bool isDamage(int ret) {
    return ret == AVERROR_INVALIDDATA || ret == AVERROR(EPERM);
}

} // namespace

Decoder::Decoder(const AVStream* stream, int threads) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throwMediaError(AVERROR_DECODER_NOT_FOUND, "find decoder");
    ctx_.reset(avcodec_alloc_context3(codec));
    if (!ctx_)
        throw std::bad_alloc();
    checkAv(avcodec_parameters_to_context(ctx_.get(), stream->codecpar), "configure decoder");
    ctx_->pkt_timebase = stream->time_base;
    ctx_->thread_count = threads;
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        ctx_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        // A stream may change its picture size midway, past what its header
        // said; the decoder then refuses the frame instead of allocating it.
        ctx_->max_pixels = kMaxPicturePixels;
    }
    checkAv(avcodec_open2(ctx_.get(), codec, nullptr), "open decoder");
}

bool Decoder::send(const AVPacket* packet) {
    const int ret = avcodec_send_packet(ctx_.get(), packet);
    if (ret == AVERROR(EAGAIN))
        return false;
    if (ret == AVERROR_EOF)
        return true; // already draining
    // A damaged packet should not end playback or a render: the decoder
    // conceals it and the next key frame recovers.
    if (isDamage(ret)) {
        ++corruptPackets_;
        return true;
    }
    checkAv(ret, "decode");
    return true;
}

bool Decoder::receive(AVFrame* frame) {
    for (;;) {
        const int ret = avcodec_receive_frame(ctx_.get(), frame);
        if (ret == AVERROR(EAGAIN))
            return false;
        if (ret == AVERROR_EOF) {
            drained_ = true;
            return false;
        }
        // With frame threads a damaged packet is reported here, in place of
        // its frame; the frames after it follow.
        if (isDamage(ret)) {
            ++corruptPackets_;
            continue;
        }
        checkAv(ret, "decode");
        return true;
    }
}

void Decoder::skipUnreferenced(bool skip) {
    ctx_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

void Decoder::skipLoopFilter(bool skip) {
    ctx_->skip_loop_filter = skip ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
}

void Decoder::flush() {
    avcodec_flush_buffers(ctx_.get());
    drained_ = false;
}

} // namespace kavlo

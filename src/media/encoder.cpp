#include "media/encoder.h"

#include "media/error.h"

#include <algorithm>

extern "C" {
#include <libavutil/opt.h>
}

namespace kavlo {

void Encoder::send(const AVFrame* frame) {
    checkAv(avcodec_send_frame(ctx_.get(), frame), "encode");
}

bool Encoder::receive(AVPacket* packet) {
    const int ret = avcodec_receive_packet(ctx_.get(), packet);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
        return false;
    checkAv(ret, "encode");
    return true;
}

H264Encoder::H264Encoder(int width, int height, AVRational frameRate, const H264Settings& settings,
                         bool globalHeader, const AVFrame* colourTemplate) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        throwMediaError(AVERROR_ENCODER_NOT_FOUND, "find H.264 encoder");
    ctx_.reset(avcodec_alloc_context3(codec));
    if (!ctx_)
        throw std::bad_alloc();
    ctx_->width = width;
    ctx_->height = height;
    ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx_->framerate = frameRate;
    ctx_->time_base = av_inv_q(frameRate);
    ctx_->sample_aspect_ratio = {1, 1};
    ctx_->thread_count = 0;
    if (colourTemplate) {
        ctx_->color_primaries = colourTemplate->color_primaries;
        ctx_->color_trc = colourTemplate->color_trc;
        ctx_->colorspace = colourTemplate->colorspace;
        ctx_->color_range = colourTemplate->color_range;
    }
    if (globalHeader)
        ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(ctx_->priv_data, "preset", settings.preset.c_str(), 0);
    av_opt_set_double(ctx_->priv_data, "crf", settings.crf, 0);
    // x264 keeps its own copy of every frame in its lookahead, next to the
    // segment the renderer already holds. At 4K that copy is the difference
    // between 2.3 and 3.7 GB, so big frames get a lookahead of about 64 MB
    // (5 frames at 2160p) and no separate lookahead buffer. It only changes
    // how well frame types and bits are chosen, not which frames are written.
    const double frameBytes = 1.5 * width * height;
    if (frameBytes > 6e6) {
        const int lookahead = std::max(5, static_cast<int>(64e6 / frameBytes));
        av_opt_set_int(ctx_->priv_data, "rc-lookahead", lookahead, 0);
        av_opt_set(ctx_->priv_data, "x264-params", "sync-lookahead=0", 0);
    }
    checkAv(avcodec_open2(ctx_.get(), codec, nullptr), "open H.264 encoder");
}

AacEncoder::AacEncoder(int sampleRate, int channelCount, int64_t bitRate, bool globalHeader,
                       uint64_t channelMask) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        throwMediaError(AVERROR_ENCODER_NOT_FOUND, "find AAC encoder");
    ctx_.reset(avcodec_alloc_context3(codec));
    if (!ctx_)
        throw std::bad_alloc();
    ctx_->sample_rate = sampleRate;
    if (channelMask && av_popcount64(channelMask) == channelCount)
        av_channel_layout_from_mask(&ctx_->ch_layout, channelMask);
    else
        av_channel_layout_default(&ctx_->ch_layout, channelCount);
    ctx_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx_->bit_rate = bitRate;
    ctx_->time_base = {1, sampleRate};
    if (globalHeader)
        ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    checkAv(avcodec_open2(ctx_.get(), codec, nullptr), "open AAC encoder");
}

} // namespace kavlo

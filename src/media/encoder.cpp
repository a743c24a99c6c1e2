#include "media/encoder.h"

#include "media/av_ptr.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/picture.h"

#include <algorithm>
#include <cassert>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace kavlo {

namespace {

// The settings' options as FFmpeg takes them; owns the dictionary.
class Options {
  public:
    explicit Options(const std::map<std::string, std::string>& options) {
        for (const auto& [key, value] : options)
            av_dict_set(&dict_, key.c_str(), value.c_str(), 0);
    }
    ~Options() { av_dict_free(&dict_); }
    AVDictionary** get() { return &dict_; }
    // An option the encoder took none of is a mistake of the caller's.
    void checkAllTaken(const std::string& codec) const {
        if (const AVDictionaryEntry* left = av_dict_get(dict_, "", nullptr, AV_DICT_IGNORE_SUFFIX))
            throwMediaError(AVERROR_OPTION_NOT_FOUND,
                            "set " + codec + " option \"" + left->key + "\"");
    }

  private:
    AVDictionary* dict_ = nullptr;
};

} // namespace

EncoderSettings h264EncoderSettings(int width, int height, Rational frameRate,
                                    const H264Settings& settings) {
    EncoderSettings s;
    s.codec = "libx264";
    s.width = width;
    s.height = height;
    s.pixelFormat = "yuv420p";
    s.frameRate = frameRate;
    s.options = {{"preset", settings.preset}, {"crf", std::to_string(settings.crf)}};
    // x264 keeps its own copy of every frame in its lookahead, next to the
    // segment the renderer already holds. At 4K that copy is the difference
    // between 2.3 and 3.7 GB, so big frames get a lookahead of about 64 MB
    // (5 frames at 2160p) and no separate lookahead buffer. It only changes
    // how well frame types and bits are chosen, not which frames are written.
    const double frameBytes = 1.5 * width * height;
    if (frameBytes > 6e6) {
        const int lookahead = std::max(5, static_cast<int>(64e6 / frameBytes));
        s.options["rc-lookahead"] = std::to_string(lookahead);
        s.options["x264-params"] = "sync-lookahead=0";
    }
    return s;
}

EncoderSettings aacEncoderSettings(int sampleRate, int channelCount, int64_t bitRate,
                                   uint64_t channelMask) {
    EncoderSettings s;
    s.codec = "aac";
    s.sampleRate = sampleRate;
    s.channelCount = channelCount;
    s.channelMask = channelMask;
    s.sampleFormat = "fltp";
    s.bitRate = bitRate;
    return s;
}

void Encoder::Free::operator()(AVCodecContext* ctx) const noexcept {
    avcodec_free_context(&ctx);
}

Encoder::Encoder(const EncoderSettings& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name(settings.codec.c_str());
    if (!codec)
        throwMediaError(AVERROR_ENCODER_NOT_FOUND, "find " + settings.codec + " encoder");
    ctx_.reset(avcodec_alloc_context3(codec));
    if (!ctx_)
        throw std::bad_alloc();
    if (settings.sampleRate > 0) {
        ctx_->sample_rate = settings.sampleRate;
        const uint64_t mask = settings.channelMask;
        if (mask && av_popcount64(mask) == settings.channelCount)
            av_channel_layout_from_mask(&ctx_->ch_layout, mask);
        else
            av_channel_layout_default(&ctx_->ch_layout, settings.channelCount);
        ctx_->sample_fmt = av_get_sample_fmt(settings.sampleFormat.c_str());
        if (ctx_->sample_fmt == AV_SAMPLE_FMT_NONE)
            throwMediaError(AVERROR(EINVAL), "sample format " + settings.sampleFormat);
        ctx_->time_base = {1, settings.sampleRate};
    } else {
        ctx_->width = settings.width;
        ctx_->height = settings.height;
        ctx_->pix_fmt = av_get_pix_fmt(settings.pixelFormat.c_str());
        if (ctx_->pix_fmt == AV_PIX_FMT_NONE)
            throwMediaError(AVERROR(EINVAL), "pixel format " + settings.pixelFormat);
        ctx_->framerate = {settings.frameRate.num, settings.frameRate.den};
        ctx_->time_base = av_inv_q(ctx_->framerate);
        ctx_->sample_aspect_ratio = {1, 1};
        ctx_->thread_count = 0;
        if (const std::optional<ColourTags>& colour = settings.colour) {
            ctx_->color_primaries = AVColorPrimaries(colour->primaries);
            ctx_->color_trc = AVColorTransferCharacteristic(colour->transfer);
            ctx_->colorspace = AVColorSpace(colour->matrix);
            ctx_->color_range = AVColorRange(colour->range);
        }
    }
    if (settings.bitRate > 0)
        ctx_->bit_rate = settings.bitRate;
    if (settings.globalHeader)
        ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Options options(settings.options);
    checkAv(avcodec_open2(ctx_.get(), codec, options.get()), "open " + settings.codec + " encoder");
    options.checkAllTaken(settings.codec);
}

Encoder::~Encoder() = default;

void Encoder::sendFrame(const AVFrame* frame) {
    checkAv(avcodec_send_frame(ctx_.get(), frame), "encode");
}

void Encoder::send(const Picture& picture, int64_t pts) {
    av::FramePtr frame = av::refFrame(picture.frame());
    frame->pts = pts;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    sendFrame(frame.get());
}

void Encoder::send(const SoundFrame& frame) {
    sendFrame(frame.frame_.get());
}

void Encoder::sendEnd() {
    sendFrame(nullptr);
}

bool Encoder::receive(Packet& packet) {
    const int ret = avcodec_receive_packet(ctx_.get(), packet.packet_.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
        return false;
    checkAv(ret, "encode");
    return true;
}

Rational Encoder::timeBase() const {
    return {ctx_->time_base.num, ctx_->time_base.den};
}

int Encoder::frameSize() const {
    return ctx_->frame_size;
}

int Encoder::priming() const {
    return ctx_->initial_padding;
}

void SoundFrame::Free::operator()(AVFrame* frame) const noexcept {
    av_frame_free(&frame);
}

SoundFrame::SoundFrame(const Encoder& encoder)
    : frame_(av_frame_alloc()), capacity_(encoder.frameSize()) {
    if (!frame_)
        throw std::bad_alloc();
    const AVCodecContext* ctx = encoder.ctx_.get();
    frame_->format = ctx->sample_fmt;
    frame_->sample_rate = ctx->sample_rate;
    frame_->nb_samples = capacity_;
    checkAv(av_channel_layout_copy(&frame_->ch_layout, &ctx->ch_layout), "set audio channels");
    checkAv(av_frame_get_buffer(frame_.get(), 0), "allocate audio buffer");
}

SoundFrame::~SoundFrame() = default;

float* SoundFrame::channel(int index) {
    assert(frame_->format == AV_SAMPLE_FMT_FLTP);
    return reinterpret_cast<float*>(frame_->extended_data[index]);
}

float* SoundFrame::interleaved() {
    assert(frame_->format == AV_SAMPLE_FMT_FLT);
    return reinterpret_cast<float*>(frame_->data[0]);
}

void SoundFrame::makeWritable() {
    checkAv(av_frame_make_writable(frame_.get()), "fill audio buffer");
}

void SoundFrame::setSamples(int count, int64_t pts) {
    frame_->nb_samples = count;
    frame_->pts = pts;
}

} // namespace kavlo

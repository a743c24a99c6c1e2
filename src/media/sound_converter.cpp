#include "media/sound_converter.h"

#include "media/converters.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/frame.h"
#include "media/input_file.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

constexpr int kMaxAacChannels = 8;
constexpr int kFallbackRate = 48000;

[[noreturn]] void throwUnconvertible() {
    throw kavloError(kAudioSamplesUndecodable, "Could not decode audio samples.");
}

bool aacTakesRate(const AVCodec* aac, int sampleRate) {
    for (const int* rate = aac->supported_samplerates; rate && *rate; ++rate)
        if (*rate == sampleRate)
            return true;
    return false;
}

// The encoder's list of layouts is empty in this FFmpeg; it decides when it
// is opened, so ask it.
bool aacTakesLayout(const AVCodec* aac, const AVChannelLayout& layout) {
    av::CodecContextPtr ctx(avcodec_alloc_context3(aac));
    if (!ctx || av_channel_layout_copy(&ctx->ch_layout, &layout) < 0)
        return false;
    ctx->sample_rate = kFallbackRate;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->bit_rate = 128000;
    ctx->time_base = {1, kFallbackRate};
    return avcodec_open2(ctx.get(), aac, nullptr) >= 0;
}

// A layout swr can remix from: frames of unknown channel order are read as
// the usual layout of their count, where there is one.
void interpret(const AVChannelLayout& in, AVChannelLayout& out) {
    if (in.order == AV_CHANNEL_ORDER_NATIVE || in.order == AV_CHANNEL_ORDER_CUSTOM) {
        if (av_channel_layout_copy(&out, &in) < 0)
            throw std::bad_alloc();
        return;
    }
    av_channel_layout_default(&out, in.nb_channels);
}

} // namespace

AacSoundFormat aacSoundFormatOf(const InputFile& file) {
    const AVStream* stream = file.stream(file.info().audio.value().streamIndex);
    return aacSoundFormatFor(stream->codecpar->sample_rate, stream->codecpar->ch_layout);
}

AacSoundFormat aacSoundFormatFor(int sampleRate, const AVChannelLayout& layout) {
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    AacSoundFormat format;
    format.sampleRate = aac && aacTakesRate(aac, sampleRate) ? sampleRate : kFallbackRate;
    if (layout.nb_channels > kMaxAacChannels)
        return format; // stereo
    format.channelCount = std::max(layout.nb_channels, 1);
    AVChannelLayout usual{};
    av_channel_layout_default(&usual, format.channelCount);
    if (aac && layout.order == AV_CHANNEL_ORDER_NATIVE &&
        av_channel_layout_compare(&layout, &usual) != 0 && aacTakesLayout(aac, layout))
        format.channelMask = layout.u.mask;
    av_channel_layout_uninit(&usual);
    return format;
}

SoundConverter::SoundConverter(const AacSoundFormat& target)
    : target_(target), targetLayout_(std::make_unique<AVChannelLayout>()),
      layout_(std::make_unique<AVChannelLayout>()) {
    if (target.channelMask)
        av_channel_layout_from_mask(targetLayout_.get(), target.channelMask);
    else
        av_channel_layout_default(targetLayout_.get(), target.channelCount);
}

SoundConverter::~SoundConverter() {
    av_channel_layout_uninit(targetLayout_.get());
    av_channel_layout_uninit(layout_.get());
}

void SoundConverter::configure(const AVFrame* frame, std::vector<float>& out) {
    if (swr_)
        flush(out);
    swr_.reset();
    av_channel_layout_uninit(layout_.get());
    if (av_channel_layout_copy(layout_.get(), &frame->ch_layout) < 0)
        throw std::bad_alloc();
    format_ = frame->format;
    rate_ = frame->sample_rate;
    if (rate_ <= 0 || layout_->nb_channels <= 0)
        throwUnconvertible();

    AVChannelLayout in{};
    interpret(*layout_, in);
    ResamplerKey key{&in,
                     AVSampleFormat(format_),
                     rate_,
                     targetLayout_.get(),
                     AV_SAMPLE_FMT_FLT,
                     target_.sampleRate};
    // Without a rule for where channels of unknown place go, every one of
    // them goes to every output channel, equally, so nothing is lost and
    // nothing can clip.
    try {
        if (in.order == AV_CHANNEL_ORDER_UNSPEC)
            throw Error(kMediaDomain, AVERROR(EINVAL), "unplaced channels");
        swr_ = makeResampler(key);
    } catch (const Error&) {
        AVChannelLayout unknown{};
        unknown.order = AV_CHANNEL_ORDER_UNSPEC;
        unknown.nb_channels = layout_->nb_channels;
        const int inputs = layout_->nb_channels, outputs = targetLayout_->nb_channels;
        std::vector<double> matrix(std::size_t(inputs) * outputs, 1.0 / inputs);
        key.inLayout = &unknown;
        key.mix = matrix.data();
        try {
            swr_ = makeResampler(key);
        } catch (const Error&) {
            av_channel_layout_uninit(&in);
            throwUnconvertible();
        }
    }
    av_channel_layout_uninit(&in);
}

int SoundConverter::run(const uint8_t* const* input, int inputFrames, std::vector<float>& out) {
    const int channels = target_.channelCount;
    const int room = swr_get_out_samples(swr_.get(), inputFrames);
    if (room < 0)
        throwUnconvertible();
    const std::size_t at = out.size();
    out.resize(at + std::size_t(room) * channels);
    uint8_t* dst[] = {reinterpret_cast<uint8_t*>(out.data() + at)};
    const int got =
        swr_convert(swr_.get(), dst, room, const_cast<const uint8_t**>(input), inputFrames);
    if (got < 0)
        throwUnconvertible();
    out.resize(at + std::size_t(got) * channels);
    return got;
}

int64_t SoundConverter::convert(const Frame& decoded, std::vector<float>& out) {
    const AVFrame* frame = decoded.get();
    const std::size_t before = out.size();
    if (!swr_ || frame->format != format_ || frame->sample_rate != rate_ ||
        av_channel_layout_compare(&frame->ch_layout, layout_.get()) != 0)
        configure(frame, out);
    const auto flushed = int64_t(out.size() - before) / target_.channelCount;
    const int got = run(frame->extended_data, frame->nb_samples, out);
    // The next input sample comes out `held` frames after the last one
    // written; everything before it covers the frame's sound up to there.
    const int64_t held = swr_get_delay(swr_.get(), target_.sampleRate);
    const double frameLength = double(frame->nb_samples) * target_.sampleRate / rate_;
    return flushed + got + held - std::llround(frameLength);
}

void SoundConverter::flush(std::vector<float>& out) {
    if (swr_)
        run(nullptr, 0, out);
}

SpeakerSoundConverter::SpeakerSoundConverter(int sampleRate)
    : rate_(sampleRate), layout_(std::make_unique<AVChannelLayout>()) {}

SpeakerSoundConverter::~SpeakerSoundConverter() {
    av_channel_layout_uninit(layout_.get());
}

void SpeakerSoundConverter::reset() {
    swr_.reset();
}

int64_t SpeakerSoundConverter::convert(const Frame* decoded, std::vector<int16_t>& out) {
    const AVFrame* frame = decoded ? decoded->get() : nullptr;
    if (frame && (!swr_ || frame->format != inFormat_ || frame->sample_rate != inRate_ ||
                  av_channel_layout_compare(&frame->ch_layout, layout_.get()) != 0)) {
        av_channel_layout_uninit(layout_.get());
        if (frame->ch_layout.nb_channels > 0)
            checkAv(av_channel_layout_copy(layout_.get(), &frame->ch_layout),
                    "copy channel layout");
        else
            av_channel_layout_default(layout_.get(), 1);
        inFormat_ = frame->format;
        inRate_ = frame->sample_rate;
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        swr_ = makeResampler(
            {layout_.get(), AVSampleFormat(inFormat_), inRate_, &stereo, AV_SAMPLE_FMT_S16, rate_});
    }
    if (!swr_)
        return 0;
    // What the resampler still holds from earlier input comes out first.
    const int64_t heldUs = swr_get_delay(swr_.get(), 1'000'000);
    const int inSamples = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(swr_.get(), inSamples);
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(std::max(capacity, 0)) * kChannels);
    uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data() + at)};
    const int produced =
        swr_convert(swr_.get(), outPlanes, capacity,
                    frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inSamples);
    checkAv(produced, "resample");
    out.resize(at + static_cast<std::size_t>(produced) * kChannels);
    return heldUs;
}

} // namespace kavlo

#include "media/webm_writer.h"

#include "media/encoder.h"
#include "media/error.h"
#include "media/ffmpeg.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavutil/opt.h>
}

namespace kavlo {

namespace {

// Picture times are kept on a 1/60000 s clock until the muxer rounds them
// to the container's milliseconds.
constexpr AVRational kPictureTimescale{1, 60000};
constexpr AVRational kSoundTimescale{1, kOpusSampleRate};

class Vp9Encoder : public Encoder {
  public:
    Vp9Encoder(int width, int height, double frameRate, const Vp9Settings& settings,
               bool globalHeader, const AVFrame* colourTemplate) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libvpx-vp9");
        if (!codec)
            throwMediaError(AVERROR_ENCODER_NOT_FOUND, "find VP9 encoder");
        ctx_.reset(avcodec_alloc_context3(codec));
        if (!ctx_)
            throw std::bad_alloc();
        const AVRational rate = av_d2q(frameRate, 1 << 24);
        ctx_->width = width;
        ctx_->height = height;
        ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx_->framerate = rate;
        ctx_->time_base = av_inv_q(rate);
        ctx_->sample_aspect_ratio = {1, 1};
        ctx_->thread_count = 0;
        // Constant quality: the bit rate follows the picture.
        ctx_->bit_rate = 0;
        if (colourTemplate) {
            ctx_->color_primaries = colourTemplate->color_primaries;
            ctx_->color_trc = colourTemplate->color_trc;
            ctx_->colorspace = colourTemplate->colorspace;
            ctx_->color_range = colourTemplate->color_range;
            if (colourTemplate->format == AV_PIX_FMT_YUVJ420P)
                ctx_->color_range = AVCOL_RANGE_JPEG;
        }
        if (globalHeader)
            ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        av_opt_set_int(ctx_->priv_data, "crf", std::clamp(settings.crf, 0, 63), 0);
        av_opt_set_int(ctx_->priv_data, "cpu-used", std::clamp(settings.speed, 0, 5), 0);
        av_opt_set(ctx_->priv_data, "deadline", "good", 0);
        av_opt_set_int(ctx_->priv_data, "row-mt", 1, 0);
        checkAv(avcodec_open2(ctx_.get(), codec, nullptr), "open VP9 encoder");
    }
    // A picture, or nullptr to end the input.
    void sendPicture(const AVFrame* frame) {
        checkAv(avcodec_send_frame(ctx_.get(), frame), "send picture to VP9 encoder");
    }
    // False when the encoder needs more input or has given everything.
    bool receivePacket(AVPacket* packet) {
        const int ret = avcodec_receive_packet(ctx_.get(), packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return false;
        checkAv(ret, "receive VP9 packet");
        return true;
    }
};

} // namespace

EncoderSettings vp9EncoderSettings(int width, int height, Rational frameRate,
                                   const Vp9Settings& settings) {
    EncoderSettings s;
    s.codec = "libvpx-vp9";
    s.width = width;
    s.height = height;
    s.pixelFormat = "yuv420p";
    s.frameRate = frameRate;
    s.options = {{"crf", std::to_string(std::clamp(settings.crf, 0, 63))},
                 {"cpu-used", std::to_string(std::clamp(settings.speed, 0, 5))},
                 {"deadline", "good"},
                 {"row-mt", "1"}};
    return s;
}

namespace {

// The layouts Opus maps one to eight channels to (Vorbis's order): all
// libopus takes without an explicit mapping family. Sides and backs take
// each other's places.
uint64_t opusMask(int channels) {
    static constexpr uint64_t kMasks[] = {AV_CH_LAYOUT_MONO,         AV_CH_LAYOUT_STEREO,
                                          AV_CH_LAYOUT_SURROUND,     AV_CH_LAYOUT_QUAD,
                                          AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK,
                                          AV_CH_LAYOUT_6POINT1,      AV_CH_LAYOUT_7POINT1};
    return kMasks[std::clamp(channels, 1, 8) - 1];
}

// The layout libopus is given: the source's when Opus has a mapping for it,
// else the one Opus has for that many channels.
AVChannelLayout opusLayout(const AVCodec* codec, const OpusSound& sound) {
    AVChannelLayout wanted{};
    if (sound.channelMask && av_popcount64(sound.channelMask) == sound.channelCount)
        av_channel_layout_from_mask(&wanted, sound.channelMask);
    else
        av_channel_layout_default(&wanted, sound.channelCount);
    if (!codec->ch_layouts) {
        // This libavcodec does not list them: 5.1 with side channels (AC-3's)
        // failed to open.
        if (sound.channelCount <= 2 || sound.channelCount > 8 ||
            (wanted.order == AV_CHANNEL_ORDER_NATIVE &&
             wanted.u.mask == opusMask(sound.channelCount)))
            return wanted;
        av_channel_layout_uninit(&wanted);
        av_channel_layout_from_mask(&wanted, opusMask(sound.channelCount));
        return wanted;
    }
    const AVChannelLayout* sameCount = nullptr;
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l) {
        if (!av_channel_layout_compare(l, &wanted))
            return wanted;
        if (!sameCount && l->nb_channels == sound.channelCount)
            sameCount = l;
    }
    av_channel_layout_uninit(&wanted);
    AVChannelLayout chosen{};
    if (sameCount)
        av_channel_layout_copy(&chosen, sameCount);
    else
        av_channel_layout_default(&chosen, sound.channelCount);
    return chosen;
}

class OpusEncoder : public Encoder {
  public:
    OpusEncoder(const OpusSound& sound, bool globalHeader) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libopus");
        if (!codec)
            throwMediaError(AVERROR_ENCODER_NOT_FOUND, "find Opus encoder");
        ctx_.reset(avcodec_alloc_context3(codec));
        if (!ctx_)
            throw std::bad_alloc();
        ctx_->sample_rate = kOpusSampleRate;
        ctx_->ch_layout = opusLayout(codec, sound);
        ctx_->sample_fmt = AV_SAMPLE_FMT_FLT;
        ctx_->bit_rate = sound.bitRate > 0 ? sound.bitRate : int64_t(48000) * sound.channelCount;
        ctx_->time_base = kSoundTimescale;
        if (globalHeader)
            ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        checkAv(avcodec_open2(ctx_.get(), codec, nullptr), "open Opus encoder");
    }
    int frameSize() const { return ctx_->frame_size; }
    int channels() const { return ctx_->ch_layout.nb_channels; }
};

} // namespace

std::vector<float> resampleForOpus(std::span<const float> interleaved, int channelCount,
                                   int sampleRate) {
    if (sampleRate == kOpusSampleRate || channelCount < 1 || sampleRate < 1)
        return {interleaved.begin(), interleaved.end()};
    const int64_t inFrames = int64_t(interleaved.size()) / channelCount;
    const int64_t outFrames = av_rescale(inFrames, kOpusSampleRate, sampleRate);
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channelCount);
    SwrContext* raw = nullptr;
    const int ret = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLT, kOpusSampleRate, &layout,
                                        AV_SAMPLE_FMT_FLT, sampleRate, 0, nullptr);
    av::SwrPtr swr(raw);
    av_channel_layout_uninit(&layout);
    checkAv(ret, "set up resampling");
    checkAv(swr_init(swr.get()), "set up resampling");

    // Room for everything the resampler may give, with its flush.
    std::vector<float> out(std::size_t(outFrames + 4096) * channelCount);
    int64_t made = 0;
    auto run = [&](const float* input, int64_t frames) {
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(input)};
        uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out.data() + made * channelCount)};
        const int room = int(int64_t(out.size()) / channelCount - made);
        made += checkAv(swr_convert(swr.get(), dst, room, input ? in : nullptr, int(frames)),
                        "resample sound");
    };
    run(interleaved.data(), inFrames);
    run(nullptr, 0);
    out.resize(std::size_t(outFrames) * channelCount, 0.0f);
    return out;
}

class WebmWriter::Encoders {
  public:
    Encoders(int width, int height, double frameRate, const Vp9Settings& settings,
             bool globalHeader, const AVFrame* colourTemplate,
             const std::optional<OpusSound>& sound)
        : video(width, height, frameRate, settings, globalHeader, colourTemplate) {
        if (sound)
            this->sound.emplace(*sound, globalHeader);
    }
    Vp9Encoder video;
    std::optional<OpusEncoder> sound;
    av::PacketPtr packet = av::allocPacket();
};

WebmWriter::WebmWriter(const std::filesystem::path& path, int width, int height, double frameRate,
                       const Vp9Settings& settings, const Picture& colourTemplate,
                       std::optional<OpusSound> sound)
    : muxer_(path.string(), "webm", /*fastStart=*/false),
      encoders_(std::make_unique<Encoders>(width, height, frameRate, settings,
                                           muxer_.needsGlobalHeader(), colourTemplate.frame(),
                                           sound)),
      width_(width), height_(height), ticksPerFrame_(kPictureTimescale.den / frameRate) {
    videoStream_ =
        muxer_.addStream(encoders_->video, Rational{kPictureTimescale.num, kPictureTimescale.den});
    if (encoders_->sound)
        soundStream_ =
            muxer_.addStream(*encoders_->sound, Rational{kSoundTimescale.num, kSoundTimescale.den});
    else
        soundEnded_ = true;
    muxer_.begin();
}

WebmWriter::~WebmWriter() = default;

void WebmWriter::addSound(std::span<const float> interleaved) {
    if (soundEnded_)
        return;
    const OpusEncoder& encoder = *encoders_->sound;
    const std::size_t frameValues = std::size_t(encoder.frameSize()) * encoder.channels();
    pending_.insert(pending_.end(), interleaved.begin(), interleaved.end());
    std::size_t used = 0;
    for (; pending_.size() - used >= frameValues; used += frameValues)
        sendSound(pending_.data() + used, encoder.frameSize());
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(used));
}

void WebmWriter::sendSound(const float* interleaved, int frames) {
    AVCodecContext* ctx = encoders_->sound->context();
    av::FramePtr frame = av::allocFrame();
    frame->format = AV_SAMPLE_FMT_FLT;
    frame->sample_rate = kOpusSampleRate;
    frame->nb_samples = frames;
    checkAv(av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout), "copy channel layout");
    checkAv(av_frame_get_buffer(frame.get(), 0), "allocate sound frame");
    std::copy_n(interleaved, std::size_t(frames) * ctx->ch_layout.nb_channels,
                reinterpret_cast<float*>(frame->data[0]));
    frame->pts = soundSent_;
    soundSent_ += frames;
    checkAv(avcodec_send_frame(ctx, frame.get()), "send sound to opus encoder");
    receiveSound();
}

void WebmWriter::receiveSound() {
    AVCodecContext* ctx = encoders_->sound->context();
    for (;;) {
        av::PacketPtr packet = av::allocPacket();
        const int ret = avcodec_receive_packet(ctx, packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        checkAv(ret, "receive opus packet");
        // The encoder counts its priming before the first sample it was
        // given; WebM counts it inside the first block and has players drop
        // it (the track's codec delay), so the first sample given plays
        // with the first picture.
        packet->pts += ctx->initial_padding;
        packet->dts += ctx->initial_padding;
        sound_.push_back(std::move(packet));
    }
}

void WebmWriter::endSound() {
    if (soundEnded_)
        return;
    soundEnded_ = true;
    // The last frame may be short: the encoder pads it and the container
    // marks the padding to be dropped.
    const int channels = encoders_->sound->channels();
    if (!pending_.empty())
        sendSound(pending_.data(), int(pending_.size() / channels));
    pending_.clear();
    checkAv(avcodec_send_frame(encoders_->sound->context(), nullptr), "end opus encoder");
    receiveSound();
}

void WebmWriter::writeSoundUntil(int64_t ticks) {
    while (nextSound_ < sound_.size() &&
           (ticks == INT64_MAX ||
            av_compare_ts(sound_[nextSound_]->dts, kSoundTimescale, ticks, kPictureTimescale) <= 0))
        muxer_.write(sound_[nextSound_++].get(), soundStream_);
}

void WebmWriter::writePicture(const AVPacket* source, int64_t shiftFrames) {
    av::PacketPtr packet = av::refPacket(source);
    const int64_t pts = source->pts + shiftFrames;
    packet->pts = ticks(pts);
    packet->dts = ticks(source->dts + shiftFrames);
    packet->duration = ticks(pts + 1) - packet->pts;
    writeSoundUntil(packet->dts);
    muxer_.write(packet.get(), videoStream_);
}

int64_t WebmWriter::ticks(int64_t frames) const {
    return std::llround(double(frames) * ticksPerFrame_);
}

void WebmWriter::drainPictures() {
    for (;;) {
        av::PacketPtr packet = av::allocPacket();
        if (!encoders_->video.receivePacket(packet.get()))
            return;
        writePicture(packet.get(), 0);
        cycle_.push_back(std::move(packet));
    }
}

void WebmWriter::addPicture(const Picture& shown) {
    const AVFrame* picture = shown.frame();
    endSound();
    if (!picture || picture->width != width_ || picture->height != height_ ||
        (picture->format != AV_PIX_FMT_YUV420P && picture->format != AV_PIX_FMT_YUVJ420P))
        throw kavloError(kVideoWriteFailed, "Could not write video frame.");
    av::FramePtr frame = av::refFrame(picture);
    // The same planes; the range is the encoder's tag.
    frame->format = AV_PIX_FMT_YUV420P;
    frame->pts = pictures_++;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    encoders_->video.sendPicture(frame.get());
    drainPictures();
}

void WebmWriter::finish(int cycles, const std::function<void(double)>& progress) {
    endSound();
    if (pictures_ == 0)
        throw kavloError(kVideoWriteFailed, "Could not write video frame.");
    encoders_->video.sendPicture(nullptr);
    drainPictures();
    const int repeats = std::max(cycles, 1) - 1;
    for (int c = 1; c <= repeats; ++c) {
        for (const av::PacketPtr& packet : cycle_)
            writePicture(packet.get(), int64_t(c) * pictures_);
        if (progress)
            progress(double(c) / repeats);
    }
    writeSoundUntil(INT64_MAX);
    muxer_.finish();
}

} // namespace kavlo

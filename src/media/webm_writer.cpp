#include "media/webm_writer.h"

#include "media/converters.h"
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
                 {"row-mt", "1"},
                 // Constant quality: the bit rate follows the picture. Any
                 // bit rate given would make libvpx cap it.
                 {"b", "0"}};
    return s;
}

namespace {

// libopus writes more than two channels with the Vorbis channel mapping,
// which has one layout for each count up to eight.
constexpr uint64_t kOpusMasks[] = {
    AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,       AV_CH_LAYOUT_SURROUND,
    AV_CH_LAYOUT_QUAD,    AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_6POINT1, AV_CH_LAYOUT_7POINT1,
};

// The layout of `channelCount` channels (1 to 8) as Opus carries them.
AVChannelLayout opusLayout(int channelCount) {
    AVChannelLayout layout{};
    av_channel_layout_from_mask(&layout, kOpusMasks[std::clamp(channelCount, 1, 8) - 1]);
    return layout;
}

EncoderSettings opusEncoderSettings(const OpusSound& sound, bool globalHeader) {
    EncoderSettings s;
    s.codec = "libopus";
    s.sampleRate = kOpusSampleRate;
    s.channelCount = std::clamp(sound.channelCount, 1, 8);
    s.channelMask = kOpusMasks[s.channelCount - 1];
    s.sampleFormat = "flt";
    s.bitRate = sound.bitRate > 0 ? sound.bitRate : int64_t(48000) * sound.channelCount;
    s.globalHeader = globalHeader;
    return s;
}

// The source's layout: its mask when that names every channel, else the
// usual one of its count.
AVChannelLayout sourceLayout(int channelCount, uint64_t channelMask) {
    AVChannelLayout layout{};
    if (channelMask && av_popcount64(channelMask) == channelCount)
        av_channel_layout_from_mask(&layout, channelMask);
    else
        av_channel_layout_default(&layout, channelCount);
    return layout;
}

} // namespace

std::vector<float> resampleForOpus(std::span<const float> interleaved, int channelCount,
                                   uint64_t channelMask, int sampleRate) {
    if (channelCount < 1 || channelCount > 8 || sampleRate < 1)
        return {interleaved.begin(), interleaved.end()};
    AVChannelLayout in = sourceLayout(channelCount, channelMask);
    AVChannelLayout out = opusLayout(channelCount);
    const bool sameLayout = !av_channel_layout_compare(&in, &out);
    if (sampleRate == kOpusSampleRate && sameLayout) {
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        return {interleaved.begin(), interleaved.end()};
    }
    const int64_t inFrames = int64_t(interleaved.size()) / channelCount;
    const int64_t outFrames = av_rescale(inFrames, kOpusSampleRate, sampleRate);
    // Side channels become the back ones Opus has (5.1 as broadcast and
    // discs carry it): one to one, as the same speakers.
    std::vector<double> mix;
    if (!sameLayout) {
        mix.assign(std::size_t(channelCount) * channelCount, 0.0);
        for (int o = 0; o < channelCount; ++o) {
            AVChannel wanted = av_channel_layout_channel_from_index(&out, unsigned(o));
            int i = av_channel_layout_index_from_channel(&in, wanted);
            if (i < 0 && wanted == AV_CHAN_BACK_LEFT)
                i = av_channel_layout_index_from_channel(&in, AV_CHAN_SIDE_LEFT);
            if (i < 0 && wanted == AV_CHAN_BACK_RIGHT)
                i = av_channel_layout_index_from_channel(&in, AV_CHAN_SIDE_RIGHT);
            if (i < 0 && wanted == AV_CHAN_SIDE_LEFT)
                i = av_channel_layout_index_from_channel(&in, AV_CHAN_BACK_LEFT);
            if (i < 0 && wanted == AV_CHAN_SIDE_RIGHT)
                i = av_channel_layout_index_from_channel(&in, AV_CHAN_BACK_RIGHT);
            // A layout with other speakers keeps its channels in their order.
            mix[std::size_t(o) * channelCount + std::size_t(i < 0 ? o : i)] = 1.0;
        }
    }
    av::SwrPtr swr = makeResampler({.inLayout = &in,
                                    .inFormat = AV_SAMPLE_FMT_FLT,
                                    .inRate = sampleRate,
                                    .outLayout = &out,
                                    .outFormat = AV_SAMPLE_FMT_FLT,
                                    .outRate = kOpusSampleRate,
                                    .mix = mix.empty() ? nullptr : mix.data()});
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);

    // Room for everything the resampler may give, with its flush.
    std::vector<float> result(std::size_t(outFrames + 4096) * channelCount);
    int64_t made = 0;
    auto run = [&](const float* input, int64_t frames) {
        const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(input)};
        uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(result.data() + made * channelCount)};
        const int room = int(int64_t(result.size()) / channelCount - made);
        made += checkAv(swr_convert(swr.get(), dst, room, input ? src : nullptr, int(frames)),
                        "resample sound");
    };
    run(interleaved.data(), inFrames);
    run(nullptr, 0);
    result.resize(std::size_t(outFrames) * channelCount, 0.0f);
    return result;
}

// The writer's picture encoder: the sample encodes' settings with the
// source's colour tags and the container's header flag.
EncoderSettings pictureEncoding(int width, int height, double frameRate,
                                const Vp9Settings& settings, bool globalHeader,
                                const Picture& colourTemplate) {
    EncoderSettings s =
        vp9EncoderSettings(width, height, nearestRational(frameRate, 1 << 24), settings);
    s.globalHeader = globalHeader;
    if (colourTemplate.frame()) {
        ColourTags colour = colourTemplate.colourTags();
        if (colourTemplate.frame()->format == AV_PIX_FMT_YUVJ420P)
            colour.range = AVCOL_RANGE_JPEG;
        s.colour = colour;
    }
    return s;
}

class WebmWriter::Encoders {
  public:
    Encoders(const EncoderSettings& video, bool globalHeader, const std::optional<OpusSound>& sound)
        : video(video) {
        if (sound) {
            this->sound.emplace(opusEncoderSettings(*sound, globalHeader));
            channels = sound->channelCount;
        }
    }
    Encoder video;
    std::optional<Encoder> sound;
    int channels = 0;
};

WebmWriter::WebmWriter(const std::filesystem::path& path, int width, int height, double frameRate,
                       const Vp9Settings& settings, const Picture& colourTemplate,
                       std::optional<OpusSound> sound)
    : muxer_(path.string(), "webm", /*fastStart=*/false),
      encoders_(
          std::make_unique<Encoders>(pictureEncoding(width, height, frameRate, settings,
                                                     muxer_.needsGlobalHeader(), colourTemplate),
                                     muxer_.needsGlobalHeader(), sound)),
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
    const Encoder& encoder = *encoders_->sound;
    const std::size_t frameValues = std::size_t(encoder.frameSize()) * encoders_->channels;
    pending_.insert(pending_.end(), interleaved.begin(), interleaved.end());
    std::size_t used = 0;
    for (; pending_.size() - used >= frameValues; used += frameValues)
        sendSound(pending_.data() + used, encoder.frameSize());
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(used));
}

void WebmWriter::sendSound(const float* interleaved, int frames) {
    Encoder& encoder = *encoders_->sound;
    SoundFrame frame(encoder);
    std::copy_n(interleaved, std::size_t(frames) * encoders_->channels, frame.interleaved());
    frame.setSamples(frames, soundSent_);
    soundSent_ += frames;
    encoder.send(frame);
    receiveSound();
}

void WebmWriter::receiveSound() {
    Encoder& encoder = *encoders_->sound;
    for (Packet packet; encoder.receive(packet); packet = Packet()) {
        // The encoder counts its priming before the first sample it was
        // given; WebM counts it inside the first block and has players drop
        // it (the track's codec delay), so the first sample given plays
        // with the first picture.
        const int64_t priming = encoder.priming();
        packet.setTimes(packet.pts() + priming, packet.dts() + priming, packet.duration());
        sound_.push_back(std::move(packet));
    }
}

void WebmWriter::endSound() {
    if (soundEnded_)
        return;
    soundEnded_ = true;
    // The last frame may be short: the encoder pads it and the container
    // marks the padding to be dropped.
    if (!pending_.empty())
        sendSound(pending_.data(), int(pending_.size() / encoders_->channels));
    pending_.clear();
    encoders_->sound->sendEnd();
    receiveSound();
}

void WebmWriter::writeSoundUntil(int64_t ticks) {
    while (nextSound_ < sound_.size() &&
           (ticks == INT64_MAX || av_compare_ts(sound_[nextSound_].dts(), kSoundTimescale, ticks,
                                                kPictureTimescale) <= 0))
        muxer_.write(sound_[nextSound_++], soundStream_);
}

void WebmWriter::writePicture(const Packet& source, int64_t shiftFrames) {
    Packet packet = source.share();
    const int64_t pts = source.pts() + shiftFrames;
    packet.setTimes(ticks(pts), ticks(source.dts() + shiftFrames), ticks(pts + 1) - ticks(pts));
    writeSoundUntil(packet.dts());
    muxer_.write(packet, videoStream_);
}

int64_t WebmWriter::ticks(int64_t frames) const {
    return std::llround(double(frames) * ticksPerFrame_);
}

void WebmWriter::drainPictures() {
    for (;;) {
        Packet packet;
        if (!encoders_->video.receive(packet))
            return;
        writePicture(packet, 0);
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
    encoders_->video.send(Picture(std::move(frame)), pictures_++);
    drainPictures();
}

void WebmWriter::finish(int cycles, const std::function<void(double)>& progress) {
    endSound();
    if (pictures_ == 0)
        throw kavloError(kVideoWriteFailed, "Could not write video frame.");
    encoders_->video.sendEnd();
    drainPictures();
    const int repeats = std::max(cycles, 1) - 1;
    for (int c = 1; c <= repeats; ++c) {
        for (const Packet& packet : cycle_)
            writePicture(packet, int64_t(c) * pictures_);
        if (progress)
            progress(double(c) / repeats);
    }
    writeSoundUntil(INT64_MAX);
    muxer_.finish();
}

} // namespace kavlo

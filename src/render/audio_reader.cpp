#include "render/audio_reader.h"

#include "media/decoder.h"
#include "media/error.h"
#include "render/render_types.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kavlo {

namespace {

// Decoding starts this long before the segment. Codecs whose frames overlap
// (AAC, MP3, Opus, Vorbis) need a packet or more of history before their
// output is right; half a second covers every one of them.
constexpr double kPreRollSeconds = 0.5;

// Converts decoded frames to interleaved float at the frame's own rate and
// layout; rebuilt when a stream changes format midway.
class FloatConverter {
  public:
    FloatConverter() = default;
    FloatConverter(const FloatConverter&) = delete;
    FloatConverter& operator=(const FloatConverter&) = delete;
    ~FloatConverter() { av_channel_layout_uninit(&layout_); }

    // Appends the frame's samples to `out` as interleaved floats.
    void convert(const AVFrame* frame, int channelCount, std::vector<float>& out) {
        if (!swr_ || frame->format != format_ || frame->sample_rate != rate_ ||
            av_channel_layout_compare(&frame->ch_layout, &layout_) != 0)
            configure(frame, channelCount);
        const std::size_t at = out.size();
        out.resize(at + std::size_t(frame->nb_samples) * channelCount);
        uint8_t* dst[] = {reinterpret_cast<uint8_t*>(out.data() + at)};
        const int converted =
            swr_convert(swr_.get(), dst, frame->nb_samples,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (converted < 0)
            throw kavloError(kAudioSamplesUndecodable, "Could not decode audio samples.");
        out.resize(at + std::size_t(converted) * channelCount);
    }

  private:
    void configure(const AVFrame* frame, int channelCount) {
        av_channel_layout_uninit(&layout_);
        if (av_channel_layout_copy(&layout_, &frame->ch_layout) < 0)
            throw kavloError(kAudioSamplesUndecodable, "Could not decode audio samples.");
        format_ = frame->format;
        rate_ = frame->sample_rate;
        // The output keeps the track's channel count; only a stream that
        // changes its layout midway gets remixed to it.
        AVChannelLayout outLayout{};
        if (frame->ch_layout.nb_channels == channelCount)
            av_channel_layout_copy(&outLayout, &frame->ch_layout);
        else
            av_channel_layout_default(&outLayout, channelCount);
        SwrContext* raw = nullptr;
        const int ret = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, rate_, &layout_,
                                            AVSampleFormat(format_), rate_, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        swr_.reset(raw);
        if (ret < 0 || swr_init(swr_.get()) < 0)
            throw kavloError(kAudioSamplesUndecodable, "Could not decode audio samples.");
    }

    av::SwrPtr swr_;
    int format_ = -1;
    int rate_ = 0;
    AVChannelLayout layout_{};
};

// Collects decoded samples at their place in the segment: frame i of the
// result is source sample frame firstFrame + i.
class SegmentCollector {
  public:
    // Memory grows with the sound actually read, not with the range asked for.
    SegmentCollector(int64_t firstFrame, int64_t frameCount, int channelCount, int tolerance)
        : first_(firstFrame), count_(frameCount), channels_(channelCount), tolerance_(tolerance) {}

    // `at`: the decoded frame's first sample frame according to its
    // timestamp, or nothing when it has none.
    void add(std::optional<int64_t> at, const std::vector<float>& interleaved) {
        // Decoded frames follow each other without gaps; timestamps are
        // trusted only where they disagree by more than their own rounding
        // (a packet was lost, or the stream jumps).
        if (at && (!next_ || std::llabs(*at - *next_) > tolerance_))
            next_ = at;
        const int64_t start = next_.value_or(first_);
        const int64_t frames = int64_t(interleaved.size()) / channels_;
        next_ = start + frames;

        const int64_t from = std::max(first_, start);
        const int64_t to = std::min(first_ + count_, start + frames);
        if (from >= to)
            return;
        const std::size_t dst = std::size_t(from - first_) * channels_;
        const std::size_t end = std::size_t(to - first_) * channels_;
        if (samples_.size() < end)
            samples_.resize(end, 0.0f); // silence where the track had a gap
        std::copy(interleaved.begin() + (from - start) * channels_,
                  interleaved.begin() + (to - start) * channels_, samples_.begin() + dst);
    }

    // True once the whole range is filled and later frames cannot matter.
    bool full() const { return next_ && *next_ >= first_ + count_; }
    std::vector<float> take() { return std::move(samples_); }

  private:
    int64_t first_, count_;
    int channels_;
    int64_t tolerance_;
    std::optional<int64_t> next_;
    std::vector<float> samples_;
};

// Seeks the track to a packet at or before `seconds`. A target at or before
// the start asks for a time before the first packet: FFmpeg's MP4 demuxer
// applies the encoder's priming skip to whichever packet a seek to time zero
// lands on, and that is the first real packet, not the priming packet before
// it, so a seek to exactly zero would silence the first 1024 samples.
void seekBefore(InputFile& file, int streamIndex, double seconds) {
    if (seconds > 0) {
        file.seek(streamIndex, seconds);
        return;
    }
    try {
        file.seek(streamIndex, -1.0);
    } catch (const Error&) {
        file.seek(streamIndex, 0.0);
    }
}

} // namespace

std::optional<SegmentAudio> readSegmentAudio(InputFile& file, double trimStart, double trimEnd,
                                             std::stop_token stop) {
    const std::optional<AudioTrackInfo>& track = file.info().audio;
    if (!track)
        return std::nullopt;
    if (track->sampleRate <= 0 || track->channelCount <= 0)
        throw kavloError(kAudioFormatUnreadable, "Could not read audio format.");
    const AVStream* stream = file.stream(track->streamIndex);
    if (!avcodec_find_decoder(stream->codecpar->codec_id))
        throw kavloError(kAudioUnreadable, "Could not read audio.");

    const int rate = track->sampleRate;
    const int channels = track->channelCount;
    const double startSeconds = std::max(trimStart, 0.0);
    const double rangeSeconds = std::max(trimEnd - trimStart, 0.001);
    const int64_t firstFrame = std::llround(startSeconds * rate);
    const int64_t frameCount = std::max<int64_t>(std::llround(rangeSeconds * rate), 1);
    // One tick of the stream's clock, in sample frames, plus a frame.
    const int tolerance = 1 + int(std::ceil(rate * av_q2d(stream->time_base)));

    // The frame reader may have switched this track off; read it alone.
    AVFormatContext* ctx = file.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == track->streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    seekBefore(file, track->streamIndex, startSeconds - kPreRollSeconds);

    Decoder decoder(stream, 1);
    FloatConverter converter;
    SegmentCollector collector(firstFrame, frameCount, channels, tolerance);
    av::PacketPtr packet = av::allocPacket();
    av::FramePtr frame = av::allocFrame();
    std::vector<float> converted;
    auto receiveAll = [&] {
        while (decoder.receive(frame.get())) {
            std::optional<int64_t> at;
            if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
                at = std::llround(file.toSeconds(track->streamIndex, frame->best_effort_timestamp) *
                                  rate);
            converted.clear();
            converter.convert(frame.get(), channels, converted);
            collector.add(at, converted);
            av_frame_unref(frame.get());
        }
    };
    while (!collector.full()) {
        throwIfCancelled(stop);
        if (!file.readPacket(packet.get(), track->streamIndex)) {
            decoder.send(nullptr);
            receiveAll();
            break;
        }
        while (!decoder.send(packet.get()))
            receiveAll();
        receiveAll();
    }

    std::vector<float> samples = collector.take();
    if (samples.empty() && decoder.corruptPackets() > 0)
        throw kavloError(kAudioReadFailed, "Audio read failed.");
    if (samples.size() < std::size_t(channels))
        return std::nullopt;
    return SegmentAudio{rate, channels, std::move(samples)};
}

} // namespace kavlo

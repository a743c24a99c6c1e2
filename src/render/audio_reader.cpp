#include "render/audio_reader.h"

#include "media/decoded_stream.h"
#include "media/error.h"
#include "media/sound_converter.h"
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

// Collects decoded samples at their place in the segment: frame i of the
// result is source sample frame firstFrame + i.
class SegmentCollector {
  public:
    // Memory grows with the sound actually read, not with the range asked for.
    SegmentCollector(int64_t firstFrame, int64_t frameCount, int channelCount, int tolerance)
        : first_(firstFrame), count_(frameCount), channels_(channelCount), tolerance_(tolerance),
          next_(firstFrame) {}

    // `at`: the decoded frame's first sample frame according to its
    // timestamp, or nothing when it has none.
    void add(std::optional<int64_t> at, const std::vector<float>& interleaved) {
        // Decoded frames follow each other without gaps; timestamps are
        // trusted only where they disagree by more than their own rounding
        // (a packet was lost, or the stream jumps).
        if (at && (!started_ || std::llabs(*at - next_) > tolerance_))
            next_ = *at;
        const int64_t start = next_;
        const int64_t frames = int64_t(interleaved.size()) / channels_;
        next_ = start + frames;
        started_ = true;

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
    bool full() const { return started_ && next_ >= first_ + count_; }
    std::vector<float> take() { return std::move(samples_); }

  private:
    int64_t first_, count_;
    int channels_;
    int64_t tolerance_;
    int64_t next_;         // where the next decoded frame goes
    bool started_ = false; // a frame has been placed
    std::vector<float> samples_;
};

} // namespace

std::optional<SegmentAudio> readSegmentAudio(InputFile& file, double trimStart, double trimEnd,
                                             std::stop_token stop) {
    const std::optional<AudioTrackInfo>& track = file.info().audio;
    if (!track)
        return std::nullopt;
    if (track->sampleRate <= 0 || track->channelCount <= 0)
        throw kavloError(kAudioFormatUnreadable, "Could not read audio format.");
    // The frame reader may have switched this track off; read it alone.
    std::optional<DecodedStream> stream;
    try {
        stream.emplace(file, MediaKind::audio, 1);
    } catch (const Error& e) {
        if (isMissingDecoder(e))
            throw kavloError(kAudioUnreadable, "Could not read audio.");
        throw;
    }

    // The sound is kept in the form the output will carry.
    const AacSoundFormat format = aacSoundFormatOf(file);
    const int rate = format.sampleRate;
    const int channels = format.channelCount;
    const double startSeconds = std::max(trimStart, 0.0);
    const double rangeSeconds = std::max(trimEnd - trimStart, 0.001);
    const int64_t firstFrame = std::llround(startSeconds * rate);
    const int64_t frameCount = std::max<int64_t>(std::llround(rangeSeconds * rate), 1);
    // One tick of the stream's clock, in sample frames, plus a frame.
    const int tolerance = 1 + int(stream->sampleFramesPerTick(rate));

    stream->seek(SourceTime::fromUs(secondsToUs(startSeconds - kPreRollSeconds)));
    SoundConverter converter(format);
    SegmentCollector collector(firstFrame, frameCount, channels, tolerance);
    std::vector<float> converted;
    while (!collector.full()) {
        throwIfCancelled(stop);
        std::optional<DecodedFrame> f = stream->next();
        converted.clear();
        if (!f) {
            converter.flush(converted);
            collector.add(std::nullopt, converted);
            break;
        }
        const int64_t lead = converter.convert(f->frame, converted);
        collector.add(toSampleFrames(f->start, rate) - lead, converted);
    }

    std::vector<float> samples = collector.take();
    if (samples.empty() && stream->corruptPackets() > 0)
        throw kavloError(kAudioReadFailed, "Audio read failed.");
    if (samples.size() < std::size_t(channels))
        return std::nullopt;
    return SegmentAudio{rate, channels, std::move(samples), format.channelMask};
}

} // namespace kavlo

// Turns decoded sound into interleaved 32-bit float at one rate and channel
// layout, whatever rate, layout and sample format each decoded frame has.
// Streams change their format midway (a broadcast switching from stereo to
// 5.1), and the decoded rate need not be the one the header stated (an
// HE-AAC header names half the rate the decoder delivers); both are
// converted rather than labelled with a format they do not have.
#pragma once

#include "media/av_ptr.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVChannelLayout;

namespace kavlo {

class Frame;
class InputFile;

// What a sound track becomes in Kavlo's AAC. FFmpeg's AAC encoder takes only
// the rates of its table and at most eight channels, in layouts it knows.
struct AacSoundFormat {
    int sampleRate = 48000;
    int channelCount = 2;
    // A native-order channel mask; 0 for the usual layout of channelCount.
    uint64_t channelMask = 0;

    bool operator==(const AacSoundFormat&) const = default;
};

// The source's rate when the encoder takes it, otherwise 48000 Hz. The
// source's channels in their layout when the encoder takes that; up to eight
// channels in a layout it does not know keep their count in the usual layout
// of that count; more than eight are mixed down to stereo.
AacSoundFormat aacSoundFormatFor(int sampleRate, const AVChannelLayout& layout);
// The same for the audio track of `file`, which must have one.
AacSoundFormat aacSoundFormatOf(const InputFile& file);

class SoundConverter {
  public:
    explicit SoundConverter(const AacSoundFormat& target);
    ~SoundConverter();
    SoundConverter(const SoundConverter&) = delete;
    SoundConverter& operator=(const SoundConverter&) = delete;

    // Appends the frame's sound to `out`, converted. Resampling holds a few
    // samples back, and a format change flushes the samples held for the
    // old one first; what is appended therefore starts `lead` sample frames
    // before the frame's own first sample, where `lead` is the return value
    // (0 when nothing is resampled). Throws Error (media domain) when the
    // frame cannot be converted.
    int64_t convert(const Frame& frame, std::vector<float>& out);
    // Appends what resampling still holds, at the end of the stream.
    void flush(std::vector<float>& out);

  private:
    void configure(const AVFrame* frame, std::vector<float>& out);
    int run(const uint8_t* const* input, int inputFrames, std::vector<float>& out);

    AacSoundFormat target_;
    std::unique_ptr<AVChannelLayout> targetLayout_;
    av::SwrPtr swr_;
    int format_ = -1;
    int rate_ = 0;
    std::unique_ptr<AVChannelLayout> layout_;
};

// Turns decoded sound into interleaved signed 16-bit stereo at one rate,
// for the speakers. Made again whenever the decoded format changes.
class SpeakerSoundConverter {
  public:
    static constexpr int kChannels = 2;

    explicit SpeakerSoundConverter(int sampleRate);
    ~SpeakerSoundConverter();
    SpeakerSoundConverter(const SpeakerSoundConverter&) = delete;
    SpeakerSoundConverter& operator=(const SpeakerSoundConverter&) = delete;

    // Forgets what resampling holds (after a seek).
    void reset();
    // Appends the frame's sound to `out`, converted; a null frame appends
    // what resampling still holds. What is appended starts the returned
    // number of microseconds before the frame's own first sample. Throws
    // Error (media domain) when the frame cannot be converted.
    int64_t convert(const Frame* frame, std::vector<int16_t>& out);

  private:
    int rate_;
    av::SwrPtr swr_;
    int inFormat_ = -1, inRate_ = 0;
    std::unique_ptr<AVChannelLayout> layout_;
};

} // namespace kavlo

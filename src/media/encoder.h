// Encoders, chosen by FFmpeg's name for them and set up by an options map:
// H.264 through libx264, VP9 through libvpx, AAC through FFmpeg's own
// encoder and Opus through libopus.
#pragma once

#include "media/colour_tags.h"
#include "media/packet.h"
#include "media/rational.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct AVCodecContext;
struct AVFrame;

namespace kavlo {

class Picture;

// What x264 spends on compression. These change the file's size and the time
// it takes to write, never which frames are written or when.
struct H264Settings {
    std::string preset;
    double crf = 18;

    // Exports are kept: CRF 18 is where x264's artefacts stop being visible
    // on typical footage, and "fast" keeps the file within a few percent of
    // "medium"'s size at about twice its speed on a laptop.
    static H264Settings forExport() { return {"fast", 18}; }
    // Previews are thrown away after one viewing session and the user waits
    // for each, so speed wins: "ultrafast" encodes 1080p about three times
    // as fast as "veryfast" and its streams are cheaper to decode while the
    // loop plays. Without its deblocking and finer analysis, CRF 18 keeps
    // the picture as clean as the export's; the file is two to three times
    // larger, which a temporary file of a few seconds can afford.
    static H264Settings forPreview() { return {"ultrafast", 18}; }
};

struct EncoderSettings {
    // FFmpeg's name for the encoder ("libx264", "aac").
    std::string codec;
    // The encoder's own options ("preset", "crf"); an option the encoder
    // does not know fails the opening.
    std::map<std::string, std::string> options;
    // Bits a second; 0 leaves it to the encoder.
    int64_t bitRate = 0;
    // The container wants the codec's headers apart (Muxer::needsGlobalHeader).
    bool globalHeader = false;

    // A video encoder's. Pictures are sent timed in frames: time base
    // 1 / frameRate.
    int width = 0;
    int height = 0;
    std::string pixelFormat; // FFmpeg's name: "yuv420p"
    Rational frameRate;
    // Copied from the pictures when given.
    std::optional<ColourTags> colour;

    // An audio encoder's. Samples are sent timed in sample frames: time
    // base 1 / sampleRate.
    int sampleRate = 0;
    int channelCount = 0;
    // The channels' native-order layout; 0 for the usual one of channelCount.
    uint64_t channelMask = 0;
    std::string sampleFormat; // FFmpeg's name: "fltp"
};

// libx264 writing 4:2:0 pictures of width x height.
EncoderSettings h264EncoderSettings(int width, int height, Rational frameRate,
                                    const H264Settings& settings);
// FFmpeg's AAC encoder, taking planar float samples.
EncoderSettings aacEncoderSettings(int sampleRate, int channelCount, int64_t bitRate,
                                   uint64_t channelMask = 0);

class SoundFrame;

class Encoder {
  public:
    // Throws a media Error when FFmpeg has no such encoder or it refuses the
    // settings.
    explicit Encoder(const EncoderSettings& settings);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Sends a picture of the encoder's size at `pts` (in frames), to be
    // coded as the encoder chooses.
    void send(const Picture& picture, int64_t pts);
    // Sends the samples of `frame`.
    void send(const SoundFrame& frame);
    // Ends the input; the encoder then gives what it holds back.
    void sendEnd();
    // Receives the next packet, timed in the encoder's time base; false when
    // more input is needed or everything was received after sendEnd(). The
    // send and receive calls throw a media Error with FFmpeg's message.
    bool receive(Packet& packet);

    Rational timeBase() const;
    // The samples a SoundFrame of an audio encoder holds (the last may hold
    // fewer).
    int frameSize() const;
    // Sample frames an audio encoder puts before the first one it is given.
    int priming() const;

  private:
    friend class Muxer;
    friend class SoundFrame;
    void sendFrame(const AVFrame* frame);

    struct Free {
        void operator()(AVCodecContext* ctx) const noexcept;
    };
    std::unique_ptr<AVCodecContext, Free> ctx_;
};

// Samples for an audio encoder, in its format, rate and channel layout,
// filled in place, one channel after another: a buffer for frameSize()
// sample frames, sent with fewer when the sound ends.
class SoundFrame {
  public:
    // Throws a media Error when the buffers cannot be made.
    explicit SoundFrame(const Encoder& encoder);
    ~SoundFrame();
    SoundFrame(const SoundFrame&) = delete;
    SoundFrame& operator=(const SoundFrame&) = delete;

    int capacity() const { return capacity_; }
    // The samples of channel `index`, for an encoder of planar floats.
    float* channel(int index);
    // The samples, interleaved, for an encoder of packed floats.
    float* interleaved();
    // Gives the frame buffers of its own again when the encoder still holds
    // the ones sent last (filling them would change what it encodes).
    void makeWritable();
    // The sample frames to send and the time of the first.
    void setSamples(int count, int64_t pts);

  private:
    friend class Encoder;
    struct Free {
        void operator()(AVFrame* frame) const noexcept;
    };
    std::unique_ptr<AVFrame, Free> frame_;
    int capacity_;
};

} // namespace kavlo

// Writes a WebM: VP9 pictures through libvpx and, when asked, Opus sound
// through libopus, in FFmpeg's Matroska muxer.
#pragma once

#include "media/av_ptr.h"
#include "media/encoder.h"
#include "media/muxer.h"
#include "media/packet.h"
#include "media/picture.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kavlo {

// What libvpx spends on compression: the file's size and the time it takes,
// never which pictures are written or when.
struct Vp9Settings {
    int crf = 32;  // constant quality, 0 (best) to 63
    int speed = 4; // libvpx's cpu-used, 0 (slowest, smallest) to 5
};

// The encoder the writer makes for its pictures, without the colour tags
// and container flags: what sample encodes measure a WebM's pictures with.
EncoderSettings vp9EncoderSettings(int width, int height, Rational frameRate,
                                   const Vp9Settings& settings);

// Opus takes sound only at this rate (or at rates below it).
inline constexpr int kOpusSampleRate = 48000;

// `interleaved` sound of `channelCount` channels (1 to 8; `channelMask` their
// native-order layout, 0 for the usual one of the count) at `sampleRate`, as
// the Opus track carries it: at kOpusSampleRate, round(frames * 48000 /
// sampleRate) frames, the first where the first was, in the layout Opus has
// for that many channels (side speakers become back ones). The same samples
// when they are that already.
std::vector<float> resampleForOpus(std::span<const float> interleaved, int channelCount,
                                   uint64_t channelMask, int sampleRate);

struct OpusSound {
    int channelCount = 2; // 1 to 8
    // Sound is given as resampleForOpus gives it: in the layout Opus has for
    // channelCount.
    int64_t bitRate = 0; // 0: 48000 bit/s a channel
};

class WebmWriter {
  public:
    // Creates the file. Pictures are shown `frameRate` a second: the k-th
    // picture of a cycle at k / frameRate seconds, on the container's
    // millisecond clock. Colour tags come from `colourTemplate`. FFmpeg's
    // errors pass through (an encoder that is missing or refuses the size
    // among them).
    WebmWriter(const std::filesystem::path& path, int width, int height, double frameRate,
               const Vp9Settings& settings, const Picture& colourTemplate,
               std::optional<OpusSound> sound = std::nullopt);
    ~WebmWriter();
    WebmWriter(const WebmWriter&) = delete;
    WebmWriter& operator=(const WebmWriter&) = delete;

    // With sound, before the first picture: the next stretch of the sound
    // track, interleaved 32-bit float at kOpusSampleRate, whole frames. The
    // track starts with the first picture. Throws a media Error with
    // FFmpeg's message when the encoder refuses it.
    void addSound(std::span<const float> interleaved);

    // Encodes the next picture of the cycle: 8-bit YUV 4:2:0 of the
    // writer's size. Ends the sound (a media Error when its encoder fails
    // to drain) at the first call.
    void addPicture(const Picture& picture);

    // Ends the pictures and writes the cycle `cycles` times in all: each
    // cycle starts with a key frame and refers to nothing outside itself,
    // so its packets are written again with later times. Then completes the
    // file (a full disk: Error code 32). `progress` gets the fraction of
    // the repeated cycles written.
    void finish(int cycles, const std::function<void(double)>& progress = {});

  private:
    class Encoders;
    void sendSound(const float* interleaved, int frames);
    void receiveSound();
    void endSound();
    void drainPictures();
    void writePicture(const Packet& packet, int64_t shiftFrames);
    void writeSoundUntil(int64_t ticks);
    int64_t ticks(int64_t frames) const;

    Muxer muxer_;
    std::unique_ptr<Encoders> encoders_;
    int videoStream_ = 0;
    int soundStream_ = -1;
    int width_, height_;
    double ticksPerFrame_;
    int64_t pictures_ = 0;
    std::vector<Packet> cycle_; // the first cycle's picture packets
    std::vector<Packet> sound_; // encoded, not yet written
    std::size_t nextSound_ = 0;
    int64_t soundSent_ = 0; // sample frames given to the encoder
    bool soundEnded_ = false;
    std::vector<float> pending_; // sound short of an encoder frame
};

} // namespace kavlo

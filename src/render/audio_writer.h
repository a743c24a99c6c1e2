// Writes interleaved float PCM as an AAC ".m4a" file with FFmpeg's own AAC
// encoder. The muxer's edit list hides the encoder's priming samples, so the
// file's first presented sample frame is the first frame written here.
#pragma once

#include "media/encoder.h"
#include "media/muxer.h"

#include <filesystem>
#include <span>

namespace kavlo {

class AacFileWriter {
  public:
    // Creates the file (FFmpeg's errors pass through; an encoder that cannot
    // be opened for this rate and channel count among them).
    // channelMask as for AacEncoder.
    AacFileWriter(const std::filesystem::path& path, int sampleRate, int channelCount,
                  int64_t bitRate, uint64_t channelMask = 0);

    // Encodes whole frames of interleaved samples. Throws Error code 18 when
    // a sample buffer cannot be created, 17 when its format cannot be set,
    // 15 when its memory cannot be allocated, 16 when it cannot be filled,
    // 14 when the encoder refuses it.
    void write(std::span<const float> interleaved);
    // Encodes what is left, drains the encoder and completes the file.
    // Throws Error code 19 when the encoder fails while draining; the
    // muxer's own errors pass through.
    void finish();

  private:
    void sendBuffered();
    void writePackets();

    Muxer muxer_;
    AacEncoder encoder_;
    int stream_ = 0;
    int channels_ = 0;
    int frameSize_ = 0;
    av::FramePtr frame_; // the encoder frame being filled
    int filled_ = 0;     // sample frames in frame_
    int64_t nextPts_ = 0;
    av::PacketPtr packet_;
};

} // namespace kavlo

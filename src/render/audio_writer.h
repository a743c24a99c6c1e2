// Writes interleaved float PCM as an AAC ".m4a" file with FFmpeg's own AAC
// encoder. The muxer's edit list hides the encoder's priming samples, so the
// file's first presented sample frame is the first frame written here.
#pragma once

#include "media/encoder.h"
#include "media/muxer.h"

#include <filesystem>
#include <optional>
#include <span>

namespace kavlo {

class AacFileWriter {
  public:
    // Creates the file. channelMask as for EncoderSettings. Every failure,
    // here and below, is FFmpeg's own (a media Error with its message): an
    // encoder that cannot be opened for this rate and channel count, one
    // that refuses samples, a file that cannot be written.
    AacFileWriter(const std::filesystem::path& path, int sampleRate, int channelCount,
                  int64_t bitRate, uint64_t channelMask = 0);

    // Encodes whole frames of interleaved samples.
    void write(std::span<const float> interleaved);
    // Encodes what is left, drains the encoder and completes the file.
    void finish();

  private:
    void sendBuffered();
    void writePackets();

    Muxer muxer_;
    Encoder encoder_;
    int stream_ = 0;
    int channels_ = 0;
    std::optional<SoundFrame> frame_; // the encoder frame being filled
    int filled_ = 0;                  // sample frames in frame_
    int64_t nextPts_ = 0;
    Packet packet_;
};

} // namespace kavlo

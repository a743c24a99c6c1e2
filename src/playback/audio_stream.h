// The first audio track of a file, decoded and converted to the output
// format of audio_queue.h, in chunks with their timeline times.
//
// Not thread-safe: one thread owns a stream.
#pragma once

#include "media/decoder.h"
#include "media/input_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavlo {

struct PcmChunk {
    int64_t ptsUs = 0; // time of the first sample frame, from the start of the file
    std::vector<int16_t> samples;
};

class AudioStream {
  public:
    // Opens the file's first audio track. Throws Error when the file cannot
    // be read or has no sound.
    explicit AudioStream(const std::string& path);

    InputFile& file() { return file_; }
    // Continues at or before `tUs` (and after the packets other readers of
    // the file, such as scanVideoEndUs, have moved it).
    void seekTo(int64_t tUs);
    // The next chunk, or nothing at the end of the track.
    std::optional<PcmChunk> next();

  private:
    void resetResampler();
    PcmChunk convert(const AVFrame* frame, int64_t ptsUs);

    InputFile file_;
    int streamIndex_;
    Decoder decoder_;
    av::SwrPtr swr_;
    av::PacketPtr packet_;
    av::FramePtr frame_;
    bool inputDone_ = false;
    bool flushed_ = false;
    int64_t nextPtsUs_ = 0;
};

} // namespace kavlo

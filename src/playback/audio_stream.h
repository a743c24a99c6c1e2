// The first audio track of a file, decoded and converted to the output
// format of audio_queue.h, in chunks with their timeline times.
//
// Not thread-safe: one thread owns a stream.
#pragma once

#include "media/decoded_stream.h"
#include "media/sound_converter.h"

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
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    InputFile& file() { return stream_.file(); }
    // Continues at or before `tUs`.
    void seekTo(int64_t tUs);
    // The next chunk, or nothing at the end of the track.
    std::optional<PcmChunk> next();

  private:
    // Converts `frame` (null: what the resampler still holds), which starts
    // at `ptsUs`.
    PcmChunk convert(const Frame* frame, int64_t ptsUs);

    DecodedStream stream_;
    SpeakerSoundConverter converter_;
    bool flushed_ = false;
    int64_t endUs_ = 0; // where the last frame ended
};

} // namespace kavlo

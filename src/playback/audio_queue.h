// Decoded sound on its way from the audio decoding thread to the device:
// a short bounded queue of chunks in the output format (48 kHz, stereo,
// signed 16-bit, interleaved). The producer waits while it is full; the
// consumer never waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

inline constexpr int kOutputRate = 48000;
inline constexpr int kOutputChannels = 2;

struct AudioChunk {
    uint64_t serial = 0; // the seek generation it was decoded for
    int64_t ptsUs = 0;   // timeline time of its first sample frame
    std::vector<int16_t> samples;
    int64_t frames() const { return static_cast<int64_t>(samples.size()) / kOutputChannels; }
};

class AudioQueue {
  public:
    explicit AudioQueue(int64_t capacityFrames) : capacityFrames_(capacityFrames) {}

    // Waits for room, then appends. Gives up and returns false when `stop`
    // is requested or `abandon` turns true (checked whenever woken).
    bool push(AudioChunk chunk, std::stop_token stop, const std::function<bool()>& abandon);
    std::optional<AudioChunk> pop();
    // Drops everything and wakes a waiting producer.
    void clear();
    // Wakes a waiting producer so that it checks `abandon` again.
    void wake();

  private:
    const int64_t capacityFrames_;
    std::mutex mutex_;
    std::condition_variable_any space_;
    std::deque<AudioChunk> chunks_;
    int64_t frames_ = 0;
};

} // namespace kavlo

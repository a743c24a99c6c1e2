// The playback clock: the point of the item's timeline that is being played
// now. It runs on the monotonic clock; while the item has sound on a working
// device, the audio output steers it to what the device has actually played,
// so the picture follows the sound.
//
// Thread-safe: the presenter reads it, the UI thread resets and pauses it,
// the audio output syncs it. Positions carry the seek generation (serial) they
// belong to; a sync for an older generation is ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace kavlo {

// Microseconds on the monotonic clock.
int64_t steadyNowUs();

class MediaClock {
  public:
    using NowFn = std::function<int64_t()>;

    explicit MediaClock(NowFn nowUs = steadyNowUs);

    // Starts generation `serial` at `ptsUs`; the paused state is kept.
    void reset(uint64_t serial, int64_t ptsUs);
    // Freezes (true) or runs (false) the clock at its current position.
    void setPaused(bool paused);
    // Holds the clock where it is until the audio device is heard to move
    // (syncToAudio reports a later position than before), so the picture
    // does not run ahead while the device fills its buffer. After
    // `maxWaitUs` the clock runs on regardless: a silent device never
    // stalls the picture.
    void holdForAudio(int64_t maxWaitUs);
    // The audio device's position on the timeline of generation `serial`.
    void syncToAudio(uint64_t serial, int64_t ptsUs);

    int64_t positionUs() const;
    uint64_t serial() const;
    bool paused() const;
    // True while holdForAudio() holds the clock.
    bool waitingForAudio() const;

  private:
    int64_t positionLocked(int64_t now) const;

    NowFn now_;
    mutable std::mutex mutex_;
    uint64_t serial_ = 0;
    int64_t basePtsUs_ = 0;
    int64_t baseTimeUs_ = 0;
    bool paused_ = true;
    bool holding_ = false;
    int64_t holdDeadlineUs_ = 0;
    std::optional<int64_t> lastAudioPtsUs_;
};

} // namespace kavlo

// Lays decoded chunks onto the device's continuous stream of sample frames.
// Frame n of the stream plays timeline time startUs + n / 48 kHz, so the
// device's played frame count is a position on the timeline. Samples that
// arrive too late for their place are dropped, gaps between chunks become
// silence, chunks of other generations are discarded. Positions within two
// frames count as contiguous, which absorbs the microsecond rounding of
// chunk times.
//
// When the device falls behind the picture (it started late or stalled), the
// stream skips ahead: from the next frame written on, stream frames stand for
// later timeline times, and the sound in between is dropped.
//
// Not thread-safe: the audio output thread owns it.
#pragma once

#include "playback/audio_queue.h"

namespace kavlo {

class PcmAligner {
  public:
    // Stream frame 0 of generation `serial` plays at `startUs`.
    void restart(uint64_t serial, int64_t startUs);

    // Writes up to `maxFrames` frames to `out` (interleaved stereo). When the
    // queue runs dry it adds at most `maxSilenceFrames` frames of silence and
    // stops. Returns the number of frames written.
    int64_t fill(AudioQueue& queue, int16_t* out, int64_t maxFrames, int64_t maxSilenceFrames);

    // Takes the generation's first chunk from the queue when one is there,
    // without writing anything. Returns primed().
    bool prime(AudioQueue& queue);
    // True once a chunk of this generation has arrived.
    bool primed() const { return primed_; }
    uint64_t serial() const { return serial_; }
    int64_t framesWritten() const { return written_; }

    // From the next frame written on, plays sound `byUs` later on the
    // timeline than it would have.
    void skip(int64_t byUs);
    // The stream frame from which the latest skip applies (0 without one).
    int64_t lastSkipFrame() const { return segmentFrom_; }
    // Timeline time of stream frame `n` as it was written.
    int64_t timeOfFrameUs(int64_t n) const;

  private:
    // Makes chunk_ the next chunk of this generation; false when the queue
    // has none.
    bool takeChunk(AudioQueue& queue);
    int64_t streamFrameOf(int64_t ptsUs) const;

    uint64_t serial_ = 0;
    // Stream frames from segmentFrom_ on play segmentStartUs_ + frames since
    // then; earlier ones (before the latest skip) follow the previous segment.
    int64_t segmentFrom_ = 0;
    int64_t segmentStartUs_ = 0;
    int64_t previousFrom_ = 0;
    int64_t previousStartUs_ = 0;
    int64_t written_ = 0;
    bool primed_ = false;
    std::optional<AudioChunk> chunk_;
    int64_t chunkOffset_ = 0; // frames of chunk_ already used or dropped
};

} // namespace kavlo

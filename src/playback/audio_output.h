// Plays the preview's sound on the default output device and steers a
// MediaClock to what the device has played: the frames written minus those
// the device still holds, as QAudioSink::processedUSecs() reports them.
//
// QAudioSink needs a thread with a Qt event loop. The output runs one of its
// own rather than borrowing the UI thread, so a busy UI cannot starve the
// device. Without a device (headless machines, CI) available() is false and
// the players run on the monotonic clock; a device that fails later stops
// steering the clock, which then runs on by itself.
//
// Methods are for the owner's thread (the UI thread) and return at once; the
// work is queued to the audio thread. Whatever fails there counts as a
// device failure.
#pragma once

#include "qtutil/object_thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace kavlo {

class AudioQueue;
class MediaClock;

class AudioOutput {
  public:
    AudioOutput();
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // A device exists and takes the output format.
    bool available() const { return available_; }
    // Available, and no device error since.
    bool healthy() const { return available_ && !failed_; }

    // Plays generation `serial` from timeline time `startUs`, taking chunks
    // from `queue` and steering `clock`. The device opens when the first
    // chunk of the generation arrives, so an item without sound never
    // touches it.
    void start(std::shared_ptr<AudioQueue> queue, std::shared_ptr<MediaClock> clock,
               uint64_t serial, int64_t startUs);
    void setPlaying(bool playing);
    // Silence; drops the queue and the clock.
    void stop();

    // The device's position as last measured, for measurements and tests.
    struct Position {
        uint64_t serial = 0;
        int64_t ptsUs = 0; // timeline time being heard
        int64_t atUs = 0;  // when, on the monotonic clock (steadyNowUs)
    };
    std::optional<Position> lastPosition() const;

  private:
    class Feeder;
    friend class Feeder;

    void publish(const Position& position);
    // The device stops steering the clock for good.
    void fail() { failed_ = true; }

    bool available_ = false;
    std::atomic<bool> failed_{false};
    mutable std::mutex positionMutex_;
    std::optional<Position> position_;
    // Last: it stops before the members the feeder uses go. Null without a
    // device.
    std::unique_ptr<ObjectThread<Feeder>> feeder_;
};

} // namespace kavlo

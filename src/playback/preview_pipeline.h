// One item's playback machinery: a video decoding thread, an audio decoding
// thread when the item has sound and a device plays it, and a presenter
// thread that turns each frame into a picture ahead of time and hands it to
// the owner when the clock reaches it.
//
// Generations: every seek starts a new serial. Frames and sound chunks carry
// the serial they were decoded for; whoever finds one of an older serial
// drops it. The queues are tiny (a few frames, a fifth of a second of sound),
// so memory stays small whatever the item's length.
//
// A looping item is laid end to end on one timeline (loop_cursor.h), one
// repetition as long as the video: up to the end of its last frame. The
// video thread measures that once; the sound thread waits for it and cuts
// or pads the sound to it.
//
// The threads, what they touch and the locks: OVERVIEW.md in this
// directory. The presenter's loop is in preview_presenter.cpp.
#pragma once

#include "media/frame_timing.h"
#include "media/input_file.h"
#include "playback/frame_converter.h"
#include "player/video_image.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace kavlo {

class AudioOutput;
class AudioQueue;
class MediaClock;

class PreviewPipeline {
  public:
    struct Options {
        bool looping = false;
        // Skips a frame whose successor is already due (the machine cannot
        // keep up), so the picture stays with the clock.
        bool dropLateFrames = true;
        // The time the playback clock runs on; empty: the monotonic clock.
        std::function<int64_t()> now;
    };
    struct Callbacks {
        // From the presenter thread: show `image` now; it is the frame at
        // file time `ptsUs` of generation `serial`.
        std::function<void(uint64_t serial, int64_t ptsUs, VideoImage image)> frame;
        std::function<void(const std::string& message)> failed;
    };

    // Starts generation 1 at time 0, paused. `audio` may be null; it must
    // outlive the pipeline.
    PreviewPipeline(std::string path, Options options, AudioOutput* audio, Callbacks callbacks);
    // Joins the threads (after shutDown() when that was not called).
    ~PreviewPipeline();

    // Owner's thread: asks the threads to stop and silences the sound, without
    // waiting. The pipeline can then be destroyed on any thread.
    void shutDown();

    // Owner's thread only.
    // Starts generation `serial` (greater than any before) at `tUs`; its first
    // frame is shown even while paused.
    void seek(uint64_t serial, int64_t tUs);
    void setPlaying(bool playing);
    void setViewSize(PixelSize size);

    // Any thread.
    uint64_t droppedFrames() const { return dropped_; }
    const MediaClock& clock() const { return *clock_; }

  private:
    struct QueuedFrame {
        uint64_t number; // counts the frames the pipeline decoded
        uint64_t serial;
        int64_t presentUs; // on the looped timeline
        int64_t ptsUs;     // in the file
        Frame frame;
        // Made by the decoding thread for a view of size `box`, so that the
        // presenter only hands it over when the clock reaches it.
        VideoImage image;
        PixelSize box;
    };
    // How long the clock waits for the device to start playing before it
    // runs on by itself.
    static constexpr int64_t kAudioStartWaitUs = 300'000;

    // Thread entries: each reports what ends it through callbacks_.failed.
    void decodeVideo(std::stop_token stop);
    void decodeAudio(std::stop_token stop);
    void present(std::stop_token stop);

    void decodeVideoLoop(std::stop_token stop);
    void decodeAudioLoop(std::stop_token stop);
    void presentLoop(std::stop_token stop);
    void reportFailure(const std::exception& failure) const;
    // The video thread tells the length of one repetition once (0 when the
    // item does not loop or the video failed); the sound thread waits for
    // it. Nothing when stopped first.
    void publishLoopLength(int64_t lengthUs);
    std::optional<int64_t> waitForLoopLength(std::stop_token stop);
    // True when a device plays this item's sound and steers the clock.
    bool soundLeads() const;
    int64_t loopTargetUs(int64_t tUs) const;
    void startSound(uint64_t serial, int64_t tUs);

    const std::string path_;
    const Options options_;
    AudioOutput* const audio_;
    const Callbacks callbacks_;
    std::shared_ptr<MediaClock> clock_;
    std::shared_ptr<AudioQueue> audioQueue_;

    std::mutex mutex_;
    std::condition_variable_any wakePresenter_;
    std::condition_variable_any wakeDecoder_;
    // Guarded by mutex_:
    std::atomic<uint64_t> serial_{1}; // also read without the lock to drop stale work
    int64_t targetUs_ = 0;
    bool playing_ = false;
    bool firstFramePending_ = true;
    bool refresh_ = false;
    uint64_t changes_ = 0;
    PixelSize viewSize_;
    std::deque<QueuedFrame> frames_;
    std::optional<VideoTrackInfo> track_;
    std::optional<FrameTiming> timing_;

    bool shutDown_ = false;
    std::atomic<bool> hasSound_{false}; // the audio thread decodes sound
    // Written once, under mutex_ (read without it by seek()): -1 until known.
    std::atomic<int64_t> loopLengthUs_{-1};
    std::atomic<uint64_t> dropped_{0};

    // Last: they stop before the members they use go.
    std::jthread videoThread_;
    std::jthread audioThread_;
    std::jthread presenterThread_;
};

} // namespace kavlo

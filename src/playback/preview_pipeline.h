// One item's playback machinery: a video decoding thread, an audio decoding
// thread when the item has sound and a device plays it, and a presenter
// thread that turns each frame into a picture ahead of time and hands it
// over when the clock reaches it.
//
// Nothing is pushed to the owner: the threads only wake it (no payload),
// and the owner takes what is due with takePicture() and failure() on its
// own thread.
//
// Generations: every seek starts a new serial. Frames and sound chunks carry
// the serial they were decoded for; whoever finds one of an older serial
// drops it, and takePicture() gives nothing decoded for a serial other than
// the one asked for. The queues are tiny (a few frames, a fifth of a second
// of sound), so memory stays small whatever the item's length.
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
#include <chrono>
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
    // Called from the pipeline's threads when a picture is due or the item
    // failed. It must only post a wake-up to the owner's thread, which may
    // then find nothing new to take.
    using Wake = std::function<void()>;

    // Starts generation 1 at time 0, paused. `audio` may be null; it must
    // outlive the pipeline.
    PreviewPipeline(std::string path, Options options, AudioOutput* audio, Wake wake);
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

    struct Picture {
        int64_t ptsUs; // the frame's time in the file
        VideoImage image;
    };
    // The oldest picture due for generation `serial`, to show now; nothing
    // when none is (pictures of other generations are thrown away).
    std::optional<Picture> takePicture(uint64_t serial);
    // What ended the item's playback, once a thread failed.
    std::optional<std::string> failure();

    // Any thread.
    uint64_t droppedFrames() const { return dropped_; }
    const MediaClock& clock() const { return *clock_; }

  private:
    friend class PreviewPresenter;

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
    // While playing, the video thread refills a slot this long after the
    // presenter handed a frame over, not at once: its burst of work (several
    // threads for a few milliseconds) would otherwise land on the moment the
    // UI thread takes and paints the frame, and the scheduler may let it
    // finish first. Four queued frames leave ample room for the delay.
    static constexpr auto kRefillDelay = std::chrono::milliseconds(6);

    struct DuePicture {
        uint64_t serial;
        Picture picture;
    };

    // Thread entries: each reports what ends it through reportFailure().
    void decodeVideo(std::stop_token stop);
    void decodeAudio(std::stop_token stop);
    void present(std::stop_token stop);

    void decodeVideoLoop(std::stop_token stop);
    void decodeAudioLoop(std::stop_token stop);
    // The video thread, holding `lock`: waits until the frame queue has room
    // for a frame of `serial` (a full queue: until refillAt_ too). False
    // when stopped or when a seek made `serial` stale.
    bool waitForRoom(std::unique_lock<std::mutex>& lock, std::stop_token stop, uint64_t serial);
    // Keeps the first failure for failure() and wakes the owner.
    void reportFailure(const std::exception& failure);
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
    const Wake wakeOwner_;
    std::shared_ptr<MediaClock> clock_;
    std::shared_ptr<AudioQueue> audioQueue_;

    std::mutex mutex_;
    std::condition_variable_any wakePresenter_;
    std::condition_variable_any wakeDecoder_;
    // Guarded by mutex_:
    std::atomic<uint64_t> serial_{1}; // also read without the lock to drop stale work
    int64_t targetUs_ = 0;
    bool playing_ = false;
    // The next frame starts the clock and is shown at once (a new serial).
    bool firstFramePending_ = true;
    // The view changed size: the paused picture is drawn again.
    bool redrawPending_ = false;
    // Counts seeks, play and pause, and size changes, so that a wait can
    // tell that one came.
    uint64_t changes_ = 0;
    PixelSize viewSize_;
    // Frames of the current serial only: seek() empties it, and the video
    // thread appends under the lock, for the serial it has just checked.
    std::deque<QueuedFrame> frames_;
    // The last hand-over plus kRefillDelay (the past after a drop).
    std::chrono::steady_clock::time_point refillAt_;
    // Handed over by the presenter, for takePicture().
    std::deque<DuePicture> due_;
    std::optional<std::string> failure_;
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

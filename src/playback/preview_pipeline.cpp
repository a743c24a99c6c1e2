#include "playback/preview_pipeline.h"

#include "media/error.h"
#include "playback/audio_output.h"
#include "playback/audio_queue.h"
#include "playback/audio_stream.h"
#include "playback/loop_cursor.h"
#include "playback/media_clock.h"
#include "playback/thread_priority.h"
#include "playback/video_stream.h"

#include <algorithm>

namespace kavlo {

namespace {

// Decoded frames waiting for their time. Four frames cover the restart of
// decoding at the loop point with time to spare.
constexpr size_t kFrameQueueLength = 4;
// A fifth of a second of sound between the decoder and the device.
constexpr int64_t kAudioQueueFrames = kOutputRate / 5;

} // namespace

PreviewPipeline::PreviewPipeline(std::string path, Options options, AudioOutput* audio, Wake wake)
    : path_(std::move(path)), options_(options),
      audio_(audio && audio->available() ? audio : nullptr), wakeOwner_(std::move(wake)),
      clock_(options.now ? std::make_shared<MediaClock>(options.now)
                         : std::make_shared<MediaClock>()),
      audioQueue_(std::make_shared<AudioQueue>(kAudioQueueFrames)),
      loopLengthUs_(options.looping ? -1 : 0) {
    clock_->reset(1, 0);
    videoThread_ = std::jthread([this](std::stop_token st) { decodeVideo(st); });
    if (audio_) {
        startSound(1, 0);
        audioThread_ = std::jthread([this](std::stop_token st) { decodeAudio(st); });
    }
    presenterThread_ = std::jthread([this](std::stop_token st) { present(st); });
}

void PreviewPipeline::shutDown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    videoThread_.request_stop();
    audioThread_.request_stop();
    presenterThread_.request_stop();
    if (audio_)
        audio_->stop();
}

PreviewPipeline::~PreviewPipeline() {
    // Normally the owner has shut it down on its own thread already; the
    // threads are joined as the members go.
    shutDown();
}

bool PreviewPipeline::soundLeads() const {
    return audio_ && hasSound_ && audio_->healthy();
}

int64_t PreviewPipeline::loopTargetUs(int64_t tUs) const {
    // Before the video thread knows the length it wraps the target itself.
    const int64_t length = loopLengthUs_;
    tUs = std::max<int64_t>(tUs, 0);
    return length > 0 ? tUs % length : tUs;
}

void PreviewPipeline::startSound(uint64_t serial, int64_t tUs) {
    audioQueue_->clear();
    audio_->start(audioQueue_, clock_, serial, tUs);
}

void PreviewPipeline::seek(uint64_t serial, int64_t tUs) {
    tUs = loopTargetUs(tUs);
    {
        std::lock_guard lock(mutex_);
        serial_ = serial;
        targetUs_ = tUs;
        firstFramePending_ = true;
        frames_.clear();
        due_.clear();
        ++changes_;
    }
    wakeDecoder_.notify_all();
    wakePresenter_.notify_all();
    if (audio_) {
        startSound(serial, tUs);
        audioQueue_->wake();
    }
}

void PreviewPipeline::setPlaying(bool playing) {
    bool holdForSound = false;
    {
        std::lock_guard lock(mutex_);
        if (playing == playing_)
            return;
        playing_ = playing;
        ++changes_;
        // Before the first frame the presenter decides, when it starts the
        // clock.
        holdForSound = playing && !firstFramePending_ && soundLeads();
    }
    clock_->setPaused(!playing);
    if (holdForSound)
        clock_->holdForAudio(kAudioStartWaitUs);
    if (audio_)
        audio_->setPlaying(playing);
    wakePresenter_.notify_all();
    wakeDecoder_.notify_all(); // paused, it refills at once
}

void PreviewPipeline::setViewSize(PixelSize size) {
    {
        std::lock_guard lock(mutex_);
        if (size == viewSize_)
            return;
        viewSize_ = size;
        redrawPending_ = true;
        ++changes_;
    }
    wakePresenter_.notify_all();
}

std::optional<PreviewPipeline::Picture> PreviewPipeline::takePicture(uint64_t serial) {
    std::lock_guard lock(mutex_);
    while (!due_.empty()) {
        DuePicture due = std::move(due_.front());
        due_.pop_front();
        if (due.serial == serial)
            return std::move(due.picture);
    }
    return std::nullopt;
}

std::optional<std::string> PreviewPipeline::failure() {
    std::lock_guard lock(mutex_);
    return failure_;
}

void PreviewPipeline::reportFailure(const std::exception& failure) {
    {
        std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = describeFailure(failure);
    }
    wakeOwner_();
}

void PreviewPipeline::publishLoopLength(int64_t lengthUs) {
    {
        std::lock_guard lock(mutex_);
        if (loopLengthUs_ >= 0)
            return;
        loopLengthUs_ = lengthUs;
    }
    wakeDecoder_.notify_all();
}

std::optional<int64_t> PreviewPipeline::waitForLoopLength(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!wakeDecoder_.wait(lock, stop, [&] { return loopLengthUs_ >= 0; }))
        return std::nullopt;
    return loopLengthUs_.load();
}

void PreviewPipeline::decodeVideo(std::stop_token stop) {
    nameThisThread("kavlo-video");
    lowerThisThreadPriority();
    runGuarded([&] { decodeVideoLoop(stop); },
               [this](const std::exception& failure) {
                   // The sound must not wait for a length that never comes.
                   publishLoopLength(0);
                   reportFailure(failure);
               });
}

void PreviewPipeline::decodeVideoLoop(std::stop_token stop) {
    VideoStream stream(path_);
    LoopCursor cursor(options_.looping ? stream.scanEndUs() : 0);
    publishLoopLength(cursor.lengthUs());
    {
        std::lock_guard lock(mutex_);
        track_ = stream.track();
        timing_ = stream.timing();
    }
    FrameConverter converter(stream.track());
    uint64_t decoded = 0;
    while (!stop.stop_requested()) {
        std::optional<DecodedFrame> f;
        if (const uint64_t latest = serial_; latest != cursor.serial()) {
            int64_t target;
            {
                std::lock_guard lock(mutex_);
                target = targetUs_;
            }
            const int64_t fileTarget = cursor.restart(latest, target);
            if (fileTarget != target) {
                // The seek came before the length was known; the clock
                // must start from the wrapped time too.
                std::lock_guard lock(mutex_);
                if (serial_ == latest)
                    targetUs_ = fileTarget;
            }
            f = stream.locate(fileTarget);
            if (!f)
                throw kavloError(kNoVideoFrames, "No video frames found.");
        } else {
            f = stream.next();
        }
        if (!f) {
            if (cursor.wrapAtEnd()) {
                stream.seekTo(0);
                continue;
            }
            // The end: nothing to do until the next seek.
            std::unique_lock lock(mutex_);
            wakeDecoder_.wait(lock, stop, [&] { return serial_ != cursor.serial(); });
            continue;
        }
        const int64_t presentUs = cursor.place(f->start.us());
        std::unique_lock lock(mutex_);
        const PixelSize box = viewSize_;
        lock.unlock();
        VideoImage image = converter.convert(f->frame, box);
        lock.lock();
        if (!waitForRoom(lock, stop, cursor.serial()))
            continue;
        frames_.push_back({++decoded, cursor.serial(), presentUs, f->start.us(),
                           std::move(f->frame), std::move(image), box});
        lock.unlock();
        wakePresenter_.notify_all();
    }
}

bool PreviewPipeline::waitForRoom(std::unique_lock<std::mutex>& lock, std::stop_token stop,
                                  uint64_t serial) {
    const auto stale = [&] { return serial_ != serial; };
    if (frames_.size() >= kFrameQueueLength) {
        wakeDecoder_.wait(lock, stop,
                          [&] { return frames_.size() < kFrameQueueLength || stale(); });
        // Paused, or with the queue run dry, there is no painting to keep
        // clear of. (A copy: the wait reads it without the lock.)
        const auto refillAt = refillAt_;
        wakeDecoder_.wait_until(lock, stop, refillAt,
                                [&] { return !playing_ || frames_.empty() || stale(); });
    }
    return !stop.stop_requested() && !stale();
}

void PreviewPipeline::decodeAudio(std::stop_token stop) {
    nameThisThread("kavlo-sound");
    runGuarded([&] { decodeAudioLoop(stop); },
               [this](const std::exception& failure) {
                   // No sound, or sound this build cannot read: the picture
                   // plays on the monotonic clock. Anything else (memory)
                   // is the player's failure.
                   hasSound_ = false;
                   if (!dynamic_cast<const Error*>(&failure))
                       reportFailure(failure);
               });
}

void PreviewPipeline::decodeAudioLoop(std::stop_token stop) {
    AudioStream stream(path_);
    hasSound_ = true;
    const std::optional<int64_t> length = waitForLoopLength(stop);
    if (!length)
        return;
    LoopCursor cursor(*length);
    const auto stale = [&] { return serial_ != cursor.serial(); };
    while (!stop.stop_requested()) {
        if (const uint64_t latest = serial_; latest != cursor.serial()) {
            int64_t target;
            {
                std::lock_guard lock(mutex_);
                target = targetUs_;
            }
            stream.seekTo(cursor.restart(latest, target));
        }
        std::optional<PcmChunk> chunk = stream.next();
        if (!chunk) {
            if (cursor.wrapAtEnd()) {
                stream.seekTo(0);
                continue;
            }
            std::unique_lock lock(mutex_);
            wakeDecoder_.wait(lock, stop, stale);
            continue;
        }
        const int64_t presentUs = cursor.place(chunk->ptsUs);
        if (cursor.lengthUs() > 0) {
            // Sound past the end of the picture would push every later
            // repetition out of step.
            const int64_t room = (cursor.lengthUs() - chunk->ptsUs) * kOutputRate / 1'000'000;
            if (room <= 0)
                continue;
            const auto keep = static_cast<size_t>(room) * kOutputChannels;
            if (chunk->samples.size() > keep)
                chunk->samples.resize(keep);
        }
        AudioChunk out{cursor.serial(), presentUs, std::move(chunk->samples)};
        audioQueue_->push(std::move(out), stop, stale);
    }
}

} // namespace kavlo

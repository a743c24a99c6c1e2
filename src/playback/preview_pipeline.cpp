#include "playback/preview_pipeline.h"

#include "media/error.h"
#include "playback/audio_output.h"
#include "playback/audio_queue.h"
#include "playback/audio_stream.h"
#include "playback/media_clock.h"
#include "playback/thread_priority.h"
#include "playback/video_stream.h"

#include <algorithm>
#include <chrono>

namespace kavlo {

namespace {

// Decoded frames waiting for their time. Four frames cover the restart of
// decoding at the loop point with time to spare.
constexpr size_t kFrameQueueLength = 4;
// A fifth of a second of sound between the decoder and the device.
constexpr int64_t kAudioQueueFrames = kOutputRate / 5;
// How long the clock waits for the device to start playing before it runs
// on by itself.
constexpr int64_t kAudioStartWaitUs = 300'000;
// The presenter re-reads the clock at least this often while it waits: the
// audio output may move it.
constexpr auto kPresenterPoll = std::chrono::milliseconds(20);
// The decoder refills the queue this long after a frame was handed over,
// not at once: its burst of work (several threads for a few milliseconds)
// would otherwise land on the moment the UI thread takes and paints the
// frame, and the scheduler may let it finish first. Four queued frames
// leave ample room for the delay.
constexpr auto kRefillDelay = std::chrono::milliseconds(6);

} // namespace

struct PreviewPipeline::QueuedFrame {
    uint64_t number; // counts the frames the pipeline decoded
    uint64_t serial;
    int64_t presentUs; // on the looped timeline
    int64_t ptsUs;     // in the file
    av::FramePtr frame;
    // Made by the decoding thread for a view of size `box`, so that the
    // presenter only hands it over when the clock reaches it.
    VideoImage image;
    PixelSize box;
};

PreviewPipeline::PreviewPipeline(std::string path, Options options, AudioOutput* audio,
                                 Callbacks callbacks)
    : path_(std::move(path)), options_(options),
      audio_(audio && audio->available() ? audio : nullptr), callbacks_(std::move(callbacks)),
      clock_(std::make_shared<MediaClock>()),
      audioQueue_(std::make_shared<AudioQueue>(kAudioQueueFrames)) {
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
    const int64_t length = loopLengthUs_;
    tUs = std::max<int64_t>(tUs, 0);
    return options_.looping && length > 0 ? tUs % length : tUs;
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
}

void PreviewPipeline::setViewSize(PixelSize size) {
    {
        std::lock_guard lock(mutex_);
        if (size == viewSize_)
            return;
        viewSize_ = size;
        refresh_ = true;
        ++changes_;
    }
    wakePresenter_.notify_all();
}

void PreviewPipeline::decodeVideo(std::stop_token stop) {
    nameThisThread("kavlo-video");
    lowerThisThreadPriority();
    try {
        VideoStream stream(path_);
        const int64_t length = options_.looping ? stream.scanEndUs() : 0;
        loopLengthUs_ = length;
        {
            std::lock_guard lock(mutex_);
            track_ = stream.track();
            timing_ = stream.timing();
        }
        FrameConverter converter(stream.track());
        uint64_t serial = 0;
        uint64_t decoded = 0;
        int64_t repetition = 0;
        bool frameThisRepetition = false;
        while (!stop.stop_requested()) {
            std::optional<TimedFrame> f;
            if (const uint64_t latest = serial_; latest != serial) {
                int64_t target;
                {
                    std::lock_guard lock(mutex_);
                    target = targetUs_;
                }
                serial = latest;
                repetition = 0;
                if (length > 0 && target >= length) {
                    // A time past the end of a looping item wraps; the clock
                    // must start from the wrapped time too.
                    target %= length;
                    std::lock_guard lock(mutex_);
                    if (serial_ == serial)
                        targetUs_ = target;
                }
                f = stream.locate(target);
                if (!f)
                    throw kavloError(kNoVideoFrames, "No video frames found.");
            } else {
                f = stream.next();
            }
            if (!f) {
                if (length > 0 && frameThisRepetition) {
                    stream.seekTo(0);
                    ++repetition;
                    frameThisRepetition = false;
                    continue;
                }
                // The end: nothing to do until the next seek.
                std::unique_lock lock(mutex_);
                wakeDecoder_.wait(lock, stop, [&] { return serial_ != serial; });
                continue;
            }
            frameThisRepetition = true;
            std::unique_lock lock(mutex_);
            const PixelSize box = viewSize_;
            lock.unlock();
            VideoImage image = converter.convert(f->frame.get(), box);
            lock.lock();
            wakeDecoder_.wait(lock, stop, [&] {
                return frames_.size() < kFrameQueueLength || serial_ != serial;
            });
            if (stop.stop_requested() || serial_ != serial)
                continue;
            frames_.push_back({++decoded, serial, repetition * length + f->ptsUs, f->ptsUs,
                               std::move(f->frame), std::move(image), box});
            lock.unlock();
            wakePresenter_.notify_all();
        }
    } catch (const Error& e) {
        if (callbacks_.failed)
            callbacks_.failed(e.message());
    }
}

void PreviewPipeline::decodeAudio(std::stop_token stop) {
    nameThisThread("kavlo-sound");
    try {
        AudioStream stream(path_);
        hasSound_ = true;
        const int64_t length = options_.looping ? scanVideoEndUs(stream.file()) : 0;
        uint64_t serial = 0;
        int64_t repetition = 0;
        bool soundThisRepetition = false;
        const auto stale = [&] { return serial_ != serial; };
        while (!stop.stop_requested()) {
            if (const uint64_t latest = serial_; latest != serial) {
                int64_t target;
                {
                    std::lock_guard lock(mutex_);
                    target = targetUs_;
                }
                serial = latest;
                repetition = 0;
                stream.seekTo(length > 0 ? target % length : target);
            }
            std::optional<PcmChunk> chunk = stream.next();
            if (!chunk) {
                if (length > 0 && soundThisRepetition) {
                    stream.seekTo(0);
                    ++repetition;
                    soundThisRepetition = false;
                    continue;
                }
                std::unique_lock lock(mutex_);
                wakeDecoder_.wait(lock, stop, stale);
                continue;
            }
            soundThisRepetition = true;
            if (length > 0) {
                // Sound past the end of the picture would push every later
                // repetition out of step.
                const int64_t room = (length - chunk->ptsUs) * kOutputRate / 1'000'000;
                if (room <= 0)
                    continue;
                const auto keep = static_cast<size_t>(room) * kOutputChannels;
                if (chunk->samples.size() > keep)
                    chunk->samples.resize(keep);
            }
            AudioChunk out{serial, repetition * length + chunk->ptsUs, std::move(chunk->samples)};
            audioQueue_->push(std::move(out), stop, stale);
        }
    } catch (const Error&) {
        // No sound (or unreadable sound): the picture plays on the monotonic
        // clock.
        hasSound_ = false;
    }
}

void PreviewPipeline::present(std::stop_token stop) {
    nameThisThread("kavlo-present");
    std::optional<FrameConverter> converter;
    std::optional<FrameTiming> timing;
    // The frame on screen, kept to draw it again at a new size.
    av::FramePtr shownFrame;
    int64_t shownPtsUs = 0;
    uint64_t shownSerial = 0;
    // When the decoder learns of the slot the last frame shown freed.
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> refillAt;

    auto show = [&](std::unique_lock<std::mutex>& lock) {
        QueuedFrame f = std::move(frames_.front());
        frames_.pop_front();
        shownFrame = std::move(f.frame);
        shownPtsUs = f.ptsUs;
        shownSerial = f.serial;
        lock.unlock();
        callbacks_.frame(f.serial, f.ptsUs, std::move(f.image));
        lock.lock();
        refillAt = Clock::now() + kRefillDelay;
    };

    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        // While playing, the next hand-over or the refill time wakes this
        // thread; otherwise the decoder may refill at once.
        if (refillAt && (!playing_ || frames_.empty() || Clock::now() >= *refillAt)) {
            refillAt.reset();
            wakeDecoder_.notify_all();
        }
        wakePresenter_.wait(lock, stop, [&] {
            return refresh_ || (!frames_.empty() && (playing_ || firstFramePending_));
        });
        if (stop.stop_requested())
            break;
        if (!converter && track_) {
            converter.emplace(*track_);
            timing.emplace(*timing_);
        }
        if (!converter) {
            // Nothing decoded yet, so nothing to draw again either.
            refresh_ = false;
            continue;
        }

        if (refresh_) {
            refresh_ = false;
            // A paused picture is drawn again at the new size; while
            // playing, the next frames come at it anyway.
            if (!playing_ && shownFrame && shownSerial == serial_ && !firstFramePending_) {
                const PixelSize size = viewSize_;
                const uint64_t serial = shownSerial;
                lock.unlock();
                VideoImage image = converter->convert(shownFrame.get(), size);
                callbacks_.frame(serial, shownPtsUs, std::move(image));
                lock.lock();
            }
            continue;
        }

        if (frames_.front().serial != serial_) {
            frames_.pop_front();
            wakeDecoder_.notify_all();
            continue;
        }
        if (frames_.front().box != viewSize_) {
            // The view changed size after the picture was made. Converted
            // outside the lock, from a reference of its own: a seek may empty
            // the queue meanwhile.
            const uint64_t number = frames_.front().number;
            const av::FramePtr frame = av::refFrame(frames_.front().frame.get());
            const PixelSize size = viewSize_;
            lock.unlock();
            VideoImage image = converter->convert(frame.get(), size);
            lock.lock();
            if (frames_.empty() || frames_.front().number != number)
                continue;
            frames_.front().image = std::move(image);
            frames_.front().box = size;
        }

        if (firstFramePending_) {
            firstFramePending_ = false;
            const QueuedFrame& f = frames_.front();
            clock_->reset(serial_, std::max(f.presentUs, targetUs_));
            if (playing_ && soundLeads())
                clock_->holdForAudio(kAudioStartWaitUs);
            show(lock);
            continue;
        }

        // A frame is due when it is the one on screen at the clock's time.
        const int64_t nowUs = clock_->positionUs();
        if (!timing->startedBy(frames_.front().presentUs, nowUs)) {
            const int64_t delayUs = frames_.front().presentUs - timing->latestStartUs(nowUs);
            const uint64_t seen = changes_;
            auto wait =
                std::min<Clock::duration>(std::chrono::microseconds(delayUs), kPresenterPoll);
            if (refillAt)
                wait = std::min(wait, *refillAt - Clock::now());
            wakePresenter_.wait_for(lock, stop, wait, [&] { return changes_ != seen; });
            continue;
        }
        if (options_.dropLateFrames && frames_.size() >= 2 && frames_[1].serial == serial_ &&
            timing->startedBy(frames_[1].presentUs, nowUs)) {
            frames_.pop_front();
            ++dropped_;
            wakeDecoder_.notify_all();
            continue;
        }
        show(lock);
    }
}

} // namespace kavlo

// The presenter thread of a PreviewPipeline: it hands each decoded frame to
// the owner when the clock reaches it, draws the frame on screen again when
// the view changes size while paused, and tells the decoder when a slot in
// the frame queue is free.
#include "playback/preview_pipeline.h"

#include "core/error.h"
#include "playback/media_clock.h"
#include "playback/present_decision.h"
#include "playback/thread_priority.h"

#include <chrono>

namespace kavlo {

namespace {

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

void PreviewPipeline::present(std::stop_token stop) {
    nameThisThread("kavlo-present");
    runGuarded([&] { presentLoop(stop); },
               [this](const std::exception& failure) { reportFailure(failure); });
}

void PreviewPipeline::presentLoop(std::stop_token stop) {
    std::optional<FrameConverter> converter;
    std::optional<FrameTiming> timing;
    // The frame on screen, kept to draw it again at a new size.
    Frame shownFrame;
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
                VideoImage image = converter->convert(shownFrame, size);
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
            const Frame frame = frames_.front().frame.share();
            const PixelSize size = viewSize_;
            lock.unlock();
            VideoImage image = converter->convert(frame, size);
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

        const QueuedFrame& front = frames_.front();
        std::optional<QueuedTime> next;
        if (frames_.size() >= 2)
            next = QueuedTime{frames_[1].serial, frames_[1].presentUs};
        const PresentDecision decision =
            decidePresentation(*timing, {front.serial, front.presentUs}, next, clock_->positionUs(),
                               options_.dropLateFrames);
        if (decision.action == PresentDecision::Action::wait) {
            const uint64_t seen = changes_;
            auto wait = std::min<Clock::duration>(std::chrono::microseconds(decision.waitUs),
                                                  kPresenterPoll);
            if (refillAt)
                wait = std::min(wait, *refillAt - Clock::now());
            wakePresenter_.wait_for(lock, stop, wait, [&] { return changes_ != seen; });
            continue;
        }
        if (decision.action == PresentDecision::Action::drop) {
            frames_.pop_front();
            ++dropped_;
            wakeDecoder_.notify_all();
            continue;
        }
        show(lock);
    }
}

} // namespace kavlo

// The presenter thread of a PreviewPipeline: it hands each decoded frame
// over when the clock reaches it (decidePresentation), starts the clock at
// the first frame of a generation, and draws the paused picture again when
// the view changes size.
#include "playback/preview_pipeline.h"

#include "core/error.h"
#include "playback/media_clock.h"
#include "playback/present_decision.h"
#include "playback/thread_priority.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace kavlo {

namespace {

// The presenter re-reads the clock at least this often while it waits: the
// audio output may move it.
constexpr auto kPresenterPoll = std::chrono::milliseconds(20);

} // namespace

// Runs on the presenter thread and holds the pipeline's lock throughout,
// except while it converts a picture or wakes the owner.
class PreviewPresenter {
  public:
    PreviewPresenter(PreviewPipeline& pipeline, std::unique_lock<std::mutex>& lock)
        : p_(pipeline), lock_(lock), converter_(*pipeline.track_), timing_(*pipeline.timing_) {}

    void run(std::stop_token stop) {
        using Action = PresentDecision::Action;
        while (waitForWork(stop)) {
            if (std::exchange(p_.redrawPending_, false)) {
                redrawPaused();
                continue;
            }
            if (!fitFrontToView())
                continue; // a seek emptied the queue meanwhile
            if (std::exchange(p_.firstFramePending_, false)) {
                startClockAtFront();
                handOverFront();
                continue;
            }
            const PresentDecision decision = decideFront();
            if (decision.action == Action::wait)
                waitForChange(stop, decision.waitUs);
            else if (decision.action == Action::drop)
                dropFront();
            else
                handOverFront();
        }
    }

  private:
    using QueuedFrame = PreviewPipeline::QueuedFrame;

    bool waitForWork(std::stop_token stop) {
        return p_.wakePresenter_.wait(lock_, stop, [&] {
            return p_.redrawPending_ ||
                   (!p_.frames_.empty() && (p_.playing_ || p_.firstFramePending_));
        }) && !stop.stop_requested();
    }

    // While playing, the next frames come at the new size anyway.
    void redrawPaused() {
        if (p_.playing_ || p_.firstFramePending_ || !shownFrame_ || shownSerial_ != p_.serial_)
            return;
        const PixelSize size = p_.viewSize_;
        lock_.unlock();
        VideoImage image = converter_.convert(shownFrame_, size);
        lock_.lock();
        hand(shownSerial_, shownPtsUs_, std::move(image));
    }

    // The front frame's picture is made again when the view changed size
    // after it was made: outside the lock, from a reference of its own. False
    // when the front frame went meanwhile.
    bool fitFrontToView() {
        const QueuedFrame& front = p_.frames_.front();
        if (front.box == p_.viewSize_)
            return true;
        const uint64_t number = front.number;
        const Frame frame = front.frame.share();
        const PixelSize size = p_.viewSize_;
        lock_.unlock();
        VideoImage image = converter_.convert(frame, size);
        lock_.lock();
        if (p_.frames_.empty() || p_.frames_.front().number != number)
            return false;
        p_.frames_.front().image = std::move(image);
        p_.frames_.front().box = size;
        return true;
    }

    // The first frame of a generation is shown at once, playing or not; the
    // clock starts at it, or within it at the seek's target.
    void startClockAtFront() {
        p_.clock_->reset(p_.serial_, std::max(p_.frames_.front().presentUs, p_.targetUs_));
        if (p_.playing_ && p_.soundLeads())
            p_.clock_->holdForAudio(PreviewPipeline::kAudioStartWaitUs);
    }

    PresentDecision decideFront() const {
        const std::deque<QueuedFrame>& frames = p_.frames_;
        std::optional<QueuedTime> next;
        if (frames.size() >= 2)
            next = QueuedTime{frames[1].serial, frames[1].presentUs};
        return decidePresentation(timing_, {frames[0].serial, frames[0].presentUs}, next,
                                  p_.clock_->positionUs(), p_.options_.dropLateFrames);
    }

    // Until the front frame is due, or something changes.
    void waitForChange(std::stop_token stop, int64_t waitUs) {
        const uint64_t seen = p_.changes_;
        const auto wait = std::min<std::chrono::steady_clock::duration>(
            std::chrono::microseconds(waitUs), kPresenterPoll);
        p_.wakePresenter_.wait_for(lock_, stop, wait, [&] { return p_.changes_ != seen; });
    }

    void dropFront() {
        p_.frames_.pop_front();
        ++p_.dropped_;
        p_.refillAt_ = {}; // late already: refill at once
        p_.wakeDecoder_.notify_all();
    }

    void handOverFront() {
        QueuedFrame f = std::move(p_.frames_.front());
        p_.frames_.pop_front();
        p_.refillAt_ = std::chrono::steady_clock::now() + PreviewPipeline::kRefillDelay;
        p_.wakeDecoder_.notify_all();
        shownFrame_ = std::move(f.frame);
        shownPtsUs_ = f.ptsUs;
        shownSerial_ = f.serial;
        hand(f.serial, f.ptsUs, std::move(f.image));
    }

    // Leaves the picture for takePicture() and wakes the owner.
    void hand(uint64_t serial, int64_t ptsUs, VideoImage image) {
        if (serial != p_.serial_)
            return; // a seek came while it was made
        p_.due_.push_back({serial, {ptsUs, std::move(image)}});
        lock_.unlock();
        p_.wakeOwner_();
        lock_.lock();
    }

    PreviewPipeline& p_;
    std::unique_lock<std::mutex>& lock_;
    FrameConverter converter_;
    const FrameTiming timing_;
    // The frame on screen, kept to draw it again at a new size.
    Frame shownFrame_;
    int64_t shownPtsUs_ = 0;
    uint64_t shownSerial_ = 0;
};

void PreviewPipeline::present(std::stop_token stop) {
    nameThisThread("kavlo-present");
    runGuarded(
        [&] {
            std::unique_lock lock(mutex_);
            // Nothing comes to present before the video thread knows its
            // track.
            if (wakePresenter_.wait(lock, stop, [&] { return track_.has_value(); }))
                PreviewPresenter(*this, lock).run(stop);
        },
        [this](const std::exception& failure) { reportFailure(failure); });
}

} // namespace kavlo

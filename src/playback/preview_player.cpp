#include "playback/preview_player.h"

#include "core/error.h"
#include "playback/audio_output.h"
#include "playback/media_clock.h"
#include "playback/preview_pipeline.h"
#include "playback/thread_priority.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kavlo {

// Joins the threads of pipelines that are no longer shown, on a thread of its
// own: a decoder busy opening a file or decoding a frame would otherwise hold
// up the UI thread when the item changes. Its destruction joins them all.
class PipelineRetirer {
  public:
    void retire(std::unique_ptr<PreviewPipeline> pipeline) {
        pipeline->shutDown();
        {
            std::lock_guard lock(mutex_);
            retired_.push_back(std::move(pipeline));
        }
        wake_.notify_one();
    }

    ~PipelineRetirer() {
        thread_.request_stop();
        thread_.join();
        retired_.clear(); // any the thread did not get to
    }

  private:
    void run(std::stop_token stop) {
        nameThisThread("kavlo-retire");
        // Only a broken lock could end this early; the destructor then joins
        // what is left.
        runGuarded([&] { joinRetired(stop); }, [](const std::exception&) {});
    }

    void joinRetired(std::stop_token stop) {
        for (;;) {
            std::unique_ptr<PreviewPipeline> next;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait(lock, stop, [&] { return !retired_.empty(); }))
                    return;
                next = std::move(retired_.front());
                retired_.pop_front();
            }
            next.reset();
        }
    }

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::unique_ptr<PreviewPipeline>> retired_;
    std::jthread thread_{[this](std::stop_token stop) { run(stop); }};
};

PreviewPlayer::PreviewPlayer(QObject* parent) : PreviewPlayer(Options{}, parent) {}

PreviewPlayer::PreviewPlayer(Options options, QObject* parent)
    : PlayerBase(parent), options_(options) {
    if (options_.sound)
        audio_ = std::make_unique<AudioOutput>();
    retirer_ = std::make_unique<PipelineRetirer>();
}

PreviewPlayer::~PreviewPlayer() {
    if (pipeline_)
        pipeline_->shutDown();
    pipeline_.reset();
    retirer_.reset();
}

void PreviewPlayer::dropPipeline() {
    if (pipeline_)
        retirer_->retire(std::move(pipeline_));
    failed_ = false;
    if (pendingSeek_) {
        completeSeekLater(pendingSeek_->ticket, false);
        pendingSeek_.reset();
    }
    setPlayingState(false);
}

void PreviewPlayer::setItem(const std::string& path, Looping looping) {
    dropPipeline();
    setHasItem(true);
    serial_ = 1;
    PreviewPipeline::Options options;
    options.looping = looping == Looping::on;
    options.dropLateFrames = options_.dropLateFrames;
    options.now = options_.now;
    // The pipeline's threads only post a wake-up to this object, which then
    // takes from whichever pipeline is current; the pipeline is joined before
    // this object goes.
    pipeline_ = std::make_unique<PreviewPipeline>(path, options, audio_.get(), [this] {
        QMetaObject::invokeMethod(
            this, [this] { takeFromPipeline(); }, Qt::QueuedConnection);
    });
    pipeline_->setViewSize(viewSize_);
}

void PreviewPlayer::clearItem() {
    dropPipeline();
    setHasItem(false);
    clearFrame();
}

void PreviewPlayer::play() {
    if (!pipeline_ || isPlaying())
        return;
    pipeline_->setPlaying(true);
    setPlayingState(true);
}

void PreviewPlayer::pause() {
    if (!pipeline_ || !isPlaying())
        return;
    pipeline_->setPlaying(false);
    setPlayingState(false);
}

void PreviewPlayer::seek(double timeSeconds, double, SeekCompletion done) {
    const uint64_t ticket = fileSeek(std::move(done));
    if (pendingSeek_) {
        completeSeekLater(pendingSeek_->ticket, false);
        pendingSeek_.reset();
    }
    if (!pipeline_ || failed_) {
        completeSeekLater(ticket, false);
        return;
    }
    const double t = std::isfinite(timeSeconds) ? std::clamp(timeSeconds, 0.0, 1e9) : 0.0;
    pendingSeek_ = PendingSeek{ticket, ++serial_};
    pipeline_->seek(serial_, std::llround(t * 1e6));
}

void PreviewPlayer::setViewSize(PixelSize size) {
    viewSize_ = size;
    if (pipeline_)
        pipeline_->setViewSize(size);
}

uint64_t PreviewPlayer::droppedFrames() const {
    return pipeline_ ? pipeline_->droppedFrames() : 0;
}

bool PreviewPlayer::hasSoundDevice() const {
    return audio_ && audio_->available();
}

int64_t PreviewPlayer::clockPositionUs() const {
    return pipeline_ ? pipeline_->clock().positionUs() : 0;
}

void PreviewPlayer::takeFromPipeline() {
    // Asked again for each picture: a completion called here may seek or
    // replace the item.
    while (pipeline_) {
        const uint64_t serial = serial_;
        std::optional<PreviewPipeline::Picture> picture = pipeline_->takePicture(serial);
        if (!picture)
            break;
        showFrame(std::move(picture->image), picture->ptsUs);
        if (pendingSeek_ && pendingSeek_->serial == serial) {
            const uint64_t ticket = pendingSeek_->ticket;
            pendingSeek_.reset();
            completeSeek(ticket, true);
        }
    }
    if (pipeline_ && !failed_)
        if (std::optional<std::string> message = pipeline_->failure())
            fail(*message);
}

void PreviewPlayer::fail(const std::string& message) {
    failed_ = true;
    if (pendingSeek_) {
        completeSeek(pendingSeek_->ticket, false);
        pendingSeek_.reset();
    }
    emit failed(QString::fromStdString(message));
}

} // namespace kavlo

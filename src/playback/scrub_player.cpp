#include "playback/scrub_player.h"

#include "playback/scrub_worker.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace kavlo {

ScrubPlayer::ScrubPlayer(QObject* parent) : PlayerBase(parent) {
    // The worker's callbacks run on its thread and only post to this object;
    // the worker is stopped before this object goes.
    ScrubWorker::Callbacks callbacks;
    callbacks.frame = [this](uint64_t item, int64_t ptsUs, VideoImage image) {
        QMetaObject::invokeMethod(
            this,
            [this, item, ptsUs, image = std::move(image)]() mutable {
                if (item == item_)
                    showFrame(std::move(image), ptsUs);
            },
            Qt::QueuedConnection);
    };
    // A seek that landed after its item was replaced did not show anything.
    callbacks.seekDone = [this](uint64_t ticket, uint64_t item, bool finished) {
        QMetaObject::invokeMethod(
            this,
            [this, ticket, item, finished] {
                --workerSeeks_;
                completeSeek(ticket, finished && item == item_);
            },
            Qt::QueuedConnection);
    };
    callbacks.failed = [this](uint64_t item, const std::string& message) {
        QMetaObject::invokeMethod(
            this,
            [this, item, text = QString::fromStdString(message)] {
                if (item == item_)
                    emit failed(text);
            },
            Qt::QueuedConnection);
    };
    worker_ = std::make_unique<ScrubWorker>(std::move(callbacks));
}

ScrubPlayer::~ScrubPlayer() {
    worker_.reset();
}

void ScrubPlayer::changeItem(const std::string& path) {
    ++item_;
    setHasItem(!path.empty());
    clearFrame();
    worker_->setItem(item_, path);
}

void ScrubPlayer::setItem(const std::string& path, Looping) {
    changeItem(path);
}

void ScrubPlayer::clearItem() {
    changeItem({});
}

void ScrubPlayer::seek(double timeSeconds, double, SeekCompletion done) {
    const uint64_t ticket = fileSeek(std::move(done));
    const double t = std::isfinite(timeSeconds) ? timeSeconds : 0.0;
    const int64_t tUs = std::llround(std::clamp(t, 0.0, 1e9) * 1e6);
    // A picture the worker has ready is shown without waiting for it, unless
    // seeks it has been given are still to complete: they come first.
    if (workerSeeks_ == 0 && hasItem()) {
        if (auto ready = worker_->readyPicture(item_, tUs)) {
            worker_->follow(item_, tUs);
            QMetaObject::invokeMethod(
                this,
                [this, ticket, item = item_, ready = std::move(*ready)]() mutable {
                    const bool current = item == item_;
                    if (current)
                        showFrame(std::move(ready.image), ready.ptsUs);
                    completeSeek(ticket, current);
                },
                Qt::QueuedConnection);
            return;
        }
    }
    // The worker answers every other seek, with or without an item, so that
    // completions keep the order of the seeks.
    ++workerSeeks_;
    worker_->seek(ticket, item_, tUs);
}

void ScrubPlayer::pause() {
    worker_->rest();
}

void ScrubPlayer::setViewSize(PixelSize size) {
    worker_->setViewSize(size);
}

} // namespace kavlo

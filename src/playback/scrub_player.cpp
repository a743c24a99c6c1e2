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
            [this, ticket, item, finished] { completeSeek(ticket, finished && item == item_); },
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
    // The worker answers every seek, with or without an item, so that
    // completions keep the order of the seeks.
    const double t = std::isfinite(timeSeconds) ? timeSeconds : 0.0;
    worker_->seek(ticket, item_, std::llround(std::clamp(t, 0.0, 1e9) * 1e6));
}

void ScrubPlayer::setViewSize(PixelSize size) {
    worker_->setViewSize(size);
}

} // namespace kavlo

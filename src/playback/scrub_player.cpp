#include "playback/scrub_player.h"

#include "playback/scrub_worker.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace kavlo {

ScrubPlayer::ScrubPlayer(QObject* parent) : PlayerBase(parent) {
    // The worker's thread only posts a wake-up to this object; the worker is
    // stopped before this object goes.
    worker_ = std::make_unique<ScrubWorker>([this] {
        QMetaObject::invokeMethod(
            this, [this] { takeReports(); }, Qt::QueuedConnection);
    });
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

void ScrubPlayer::takeReports() {
    using Kind = ScrubWorker::Report::Kind;
    // Asked again for each report: a completion called here may replace the
    // item.
    while (std::optional<ScrubWorker::Report> report = worker_->take(item_)) {
        switch (report->kind) {
        case Kind::picture:
            showFrame(std::move(report->image), report->ptsUs);
            break;
        case Kind::seekDone:
            --workerSeeks_;
            completeSeek(report->ticket, report->finished);
            break;
        case Kind::failure:
            emit failed(QString::fromStdString(report->message));
            break;
        }
    }
}

void ScrubPlayer::pause() {
    worker_->rest();
}

void ScrubPlayer::abandonSeeks() {
    worker_->abandonSeeks();
}

void ScrubPlayer::setViewSize(PixelSize size) {
    worker_->setViewSize(size);
}

} // namespace kavlo

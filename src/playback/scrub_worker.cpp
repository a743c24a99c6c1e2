#include "playback/scrub_worker.h"

#include "media/error.h"
#include "playback/scrub_decoder.h"
#include "playback/thread_priority.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace kavlo {

ScrubWorker::ScrubWorker(Wake wake, size_t cacheBytes)
    : wakeOwner_(std::move(wake)), cache_(cacheBytes),
      thread_([this](std::stop_token stop) { run(stop); }) {}

ScrubWorker::~ScrubWorker() {
    thread_.request_stop();
    thread_.join();
}

void ScrubWorker::setItem(uint64_t item, std::string path) {
    {
        std::lock_guard lock(mutex_);
        newItem_ = ItemRequest{item, std::move(path)};
    }
    wake_.notify_all();
}

void ScrubWorker::seek(uint64_t ticket, uint64_t item, int64_t tUs) {
    {
        std::lock_guard lock(mutex_);
        seeks_.push_back({ticket, item, tUs, false});
        rest_ = false;
        abandon_ = false;
    }
    wake_.notify_all();
}

void ScrubWorker::setViewSize(PixelSize size) {
    {
        std::lock_guard lock(mutex_);
        if (size == viewSize_)
            return;
        viewSize_ = size;
        viewSizeChanged_ = true;
    }
    wake_.notify_all();
}

void ScrubWorker::rest() {
    {
        std::lock_guard lock(mutex_);
        rest_ = true;
    }
    wake_.notify_all();
}

void ScrubWorker::abandonSeeks() {
    {
        std::lock_guard lock(mutex_);
        rest_ = true;
        abandon_ = true;
    }
    wake_.notify_all();
}

void ScrubWorker::follow(uint64_t item, int64_t tUs) {
    {
        std::lock_guard lock(mutex_);
        seeks_.push_back({0, item, tUs, true});
        rest_ = false;
    }
    wake_.notify_all();
}

std::optional<ScrubWorker::Ready> ScrubWorker::readyPicture(uint64_t item, int64_t tUs) {
    PixelSize size;
    {
        std::lock_guard lock(mutex_);
        if (viewSizeChanged_)
            return std::nullopt; // the pictures are about to be remade
        size = viewSize_;
    }
    auto hit = cache_.findPicture(item, std::max<int64_t>(tUs, 0), size);
    if (!hit)
        return std::nullopt;
    return Ready{hit->ptsUs, std::move(hit->image)};
}

std::optional<int64_t> ScrubWorker::newerSeek() {
    std::lock_guard lock(mutex_);
    for (auto s = seeks_.rbegin(); s != seeks_.rend(); ++s)
        if (!s->follow && s->item == item_)
            return s->tUs;
    return std::nullopt;
}

std::optional<ScrubWorker::Report> ScrubWorker::take(uint64_t item) {
    std::lock_guard lock(mutex_);
    while (!reports_.empty()) {
        Filed filed = std::move(reports_.front());
        reports_.pop_front();
        if (filed.report.kind == Report::Kind::seekDone) {
            // A seek that landed after its item was replaced showed nothing.
            filed.report.finished = filed.report.finished && filed.item == item;
            return std::move(filed.report);
        }
        if (filed.item == item)
            return std::move(filed.report);
    }
    return std::nullopt;
}

void ScrubWorker::report(uint64_t item, Report report) {
    {
        std::lock_guard lock(mutex_);
        reports_.push_back({item, std::move(report)});
    }
    wakeOwner_();
}

void ScrubWorker::reportPicture(int64_t ptsUs, VideoImage image) {
    report(item_, {.kind = Report::Kind::picture, .ptsUs = ptsUs, .image = std::move(image)});
}

void ScrubWorker::reportSeek(const SeekRequest& seek, bool finished) {
    report(seek.item,
           {.kind = Report::Kind::seekDone, .ticket = seek.ticket, .finished = finished});
}

void ScrubWorker::reportFailure(const std::exception& failure) {
    report(item_, {.kind = Report::Kind::failure, .message = describeFailure(failure)});
}

void ScrubWorker::run(std::stop_token stop) {
    nameThisThread("kavlo-scrub");
    // Before any decoder opens, so its threads inherit this.
    lowerThisThreadPriority();
    bool running = true;
    while (running) {
        runGuarded([&] { running = serve(stop); },
                   [this](const std::exception& failure) {
                       if (decoder_)
                           decoder_->dropIdleWork();
                       reportFailure(failure);
                   });
    }
    decoder_.reset();
}

void ScrubWorker::openItem(const ItemRequest& request) {
    item_ = request.item;
    decoder_.reset();
    cache_.clear();
    if (request.path.empty())
        return;
    try {
        decoder_ = std::make_unique<ScrubDecoder>(request.path, cache_);
        cache_.reset(item_, decoder_->timing());
    } catch (const std::exception& failure) {
        decoder_.reset();
        reportFailure(failure);
    }
}

bool ScrubWorker::serve(std::stop_token stop) {
    const bool idleWork = decoder_ && decoder_->hasIdleWork();
    std::optional<ItemRequest> newItem;
    std::vector<SeekRequest> seeks;
    PixelSize size;
    bool resized = false;
    bool rest = false;
    bool abandon = false;
    {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, stop, [&] {
            return newItem_ || !seeks_.empty() || viewSizeChanged_ || rest_ || idleWork;
        });
        if (stop.stop_requested())
            return false;
        newItem.swap(newItem_);
        seeks.swap(seeks_);
        size = viewSize_;
        resized = std::exchange(viewSizeChanged_, false);
        rest = std::exchange(rest_, false);
        abandon = std::exchange(abandon_, false);
    }

    if (newItem)
        openItem(*newItem);

    // Pictures of the old size go before anything is shown at the new one.
    if (resized && decoder_)
        decoder_->resize(size);

    // Only the newest seek is carried out; the others were superseded
    // before they started. A follow() note matters only as the last word.
    // Abandoned seeks are none of them.
    const SeekRequest* newest = nullptr;
    for (const SeekRequest& s : seeks)
        if (!s.follow)
            newest = &s;
    if (abandon)
        newest = nullptr;
    for (const SeekRequest& s : seeks)
        if (!s.follow && &s != newest)
            reportSeek(s, false);
    if (!newest && !abandon && !seeks.empty() && seeks.back().item == item_ && decoder_)
        decoder_->follow(seeks.back().tUs);
    if (newest) {
        const SeekRequest& s = *newest;
        bool finished = false;
        if (s.item == item_ && decoder_) {
            ScrubDecoder::SeekProgress progress;
            progress.interim = [this](ScrubDecoder::Picture picture) {
                reportPicture(picture.ptsUs, std::move(picture.image));
            };
            progress.newer = [this] { return newerSeek(); };
            progress.abandoned = [this] {
                std::lock_guard lock(mutex_);
                return abandon_;
            };
            try {
                ScrubDecoder::Picture shown = decoder_->show(s.tUs, size, progress);
                reportPicture(shown.ptsUs, std::move(shown.image));
                finished = true;
            } catch (const ScrubDecoder::GaveWay&) {
                // Superseded while under way (the newer seek is next), or
                // abandoned.
            } catch (const std::exception& failure) {
                reportFailure(failure);
            }
        }
        reportSeek(s, finished);
    } else if (resized && decoder_) {
        // No seek replaces the frame on screen: it is drawn again.
        try {
            if (auto again = decoder_->redraw(size))
                reportPicture(again->ptsUs, std::move(again->image));
        } catch (const std::exception& failure) {
            reportFailure(failure);
        }
    }
    // A rest asked for after this round's seeks (a later seek cancels it).
    if (rest && decoder_)
        decoder_->dropIdleWork();
    const bool served = newest || resized || !seeks.empty();
    if (!served && decoder_ && decoder_->hasIdleWork()) {
        // (Asked again: a new item may have replaced or closed the decoder
        // since the wait.)
        try {
            decoder_->idleStep(size);
        } catch (const Error&) {
            // The next seek meets the same damage and reports it; the
            // decoder stays usable after a seek.
            decoder_->dropIdleWork();
        }
    }
    return true;
}

} // namespace kavlo

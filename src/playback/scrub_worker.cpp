#include "playback/scrub_worker.h"

#include "media/error.h"
#include "playback/scrub_decoder.h"
#include "playback/thread_priority.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace kavlo {

ScrubWorker::ScrubWorker(Callbacks callbacks, size_t cacheBytes)
    : callbacks_(std::move(callbacks)), cache_(cacheBytes),
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

void ScrubWorker::follow(uint64_t item, int64_t tUs) {
    {
        std::lock_guard lock(mutex_);
        seeks_.push_back({0, item, tUs, true});
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
    std::lock_guard lock(cacheMutex_);
    if (item != cacheItem_ || !cacheTiming_)
        return std::nullopt;
    auto hit = cache_.find(std::max<int64_t>(tUs, 0), *cacheTiming_);
    if (!hit || hit->image.isNull() || !(hit->box == size))
        return std::nullopt;
    return Ready{hit->ptsUs, hit->image};
}

void ScrubWorker::run(std::stop_token stop) {
    nameThisThread("kavlo-scrub");
    // Before any decoder opens, so its threads inherit this.
    lowerThisThreadPriority();
    std::unique_ptr<ScrubDecoder> decoder;
    uint64_t item = 0;
    for (;;) {
        const bool idleWork = decoder && decoder->hasIdleWork();
        std::optional<ItemRequest> newItem;
        std::vector<SeekRequest> seeks;
        PixelSize size;
        bool resized = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop,
                       [&] { return newItem_ || !seeks_.empty() || viewSizeChanged_ || idleWork; });
            if (stop.stop_requested())
                return;
            newItem.swap(newItem_);
            seeks.swap(seeks_);
            size = viewSize_;
            resized = std::exchange(viewSizeChanged_, false);
        }

        if (newItem) {
            item = newItem->item;
            decoder.reset();
            {
                std::lock_guard lock(cacheMutex_);
                cache_.clear();
                cacheItem_ = 0;
            }
            if (!newItem->path.empty()) {
                try {
                    decoder = std::make_unique<ScrubDecoder>(newItem->path, cache_, cacheMutex_);
                    std::lock_guard lock(cacheMutex_);
                    cacheItem_ = item;
                    cacheTiming_ = decoder->timing();
                } catch (const Error& e) {
                    callbacks_.failed(item, e.message());
                }
            }
        }

        // Pictures of the old size go before anything is shown at the new
        // one.
        if (resized && decoder)
            decoder->resize(size);

        // Only the newest seek is carried out; the others were superseded
        // before they started. A follow() note matters only as the last word.
        const SeekRequest* newest = nullptr;
        for (const SeekRequest& s : seeks)
            if (!s.follow)
                newest = &s;
        for (const SeekRequest& s : seeks)
            if (!s.follow && &s != newest)
                callbacks_.seekDone(s.ticket, s.item, false);
        if (!newest && !seeks.empty() && seeks.back().item == item && decoder)
            decoder->follow(seeks.back().tUs);
        if (newest) {
            const SeekRequest& s = *newest;
            bool finished = false;
            if (s.item == item && decoder) {
                try {
                    ScrubDecoder::Picture shown = decoder->show(s.tUs, size);
                    callbacks_.frame(item, shown.ptsUs, std::move(shown.image));
                    finished = true;
                } catch (const Error& e) {
                    callbacks_.failed(item, e.message());
                }
            }
            callbacks_.seekDone(s.ticket, s.item, finished);
        } else if (resized && decoder) {
            // No seek replaces the frame on screen: it is drawn again.
            try {
                if (auto again = decoder->redraw(size))
                    callbacks_.frame(item, again->ptsUs, std::move(again->image));
            } catch (const Error& e) {
                callbacks_.failed(item, e.message());
            }
        } else if (seeks.empty() && decoder && decoder->hasIdleWork()) {
            // (Asked again: a new item may have replaced or closed the
            // decoder since the wait.)
            try {
                decoder->idleStep(size);
            } catch (const Error&) {
                // The next seek meets the same damage and reports it; the
                // decoder stays usable after a seek.
                decoder->dropIdleWork();
            }
        }
    }
}

} // namespace kavlo

#include "playback/scrub_worker.h"

#include "media/error.h"
#include "playback/frame_cache.h"
#include "playback/thread_priority.h"
#include "playback/video_stream.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace kavlo {

namespace {

// Frames decoded ahead of the one shown while no seek waits, so that a drag
// forward finds them ready.
constexpr int kPrefetchFrames = 12;
// After a frame from the cache, prefetching goes on from where decoding
// stands only if that is this close after the frame: a drag moving back over
// cached frames leaves the decoder idle rather than busy far ahead.
constexpr int64_t kPrefetchReachUs = 250'000;

// One opened item: its stream, cache and the frame on screen. Lives on the
// worker thread.
class ItemDecoder {
  public:
    ItemDecoder(const std::string& path, size_t cacheBytes)
        : stream_(path), converter_(stream_.track()), cache_(cacheBytes) {}

    // The frame on screen at `tUs`, from the cache or decoded. Plans the
    // idle work that follows.
    std::pair<const AVFrame*, int64_t> locate(int64_t tUs) {
        tUs = std::max<int64_t>(tUs, 0);
        if (auto hit = cache_.find(tUs, stream_.slackUs())) {
            const auto next = stream_.nextStartUs();
            prefetchLeft_ = next && *next > hit->ptsUs && *next - hit->ptsUs < kPrefetchReachUs
                                ? kPrefetchFrames
                                : 0;
            return {hit->frame, hit->ptsUs};
        }
        auto found = stream_.locate(tUs, true, [this](const TimedFrame& f) { remember(f); });
        if (!found)
            throw kavloError(12, "No video frames found.");
        prefetchLeft_ = kPrefetchFrames;
        backfill_.reset();
        if (stream_.skippedSinceSeek())
            backfill_ = Backfill{tUs, found->ptsUs, false};
        if (found->ptsUs > tUs + stream_.slackUs())
            cache_.markFirst(found->ptsUs);
        if (stream_.atEnd())
            cache_.markLast(found->ptsUs);
        auto hit = cache_.find(tUs, stream_.slackUs());
        // The cache holds what was just decoded unless it is smaller than
        // one frame; keep the frame itself then.
        if (hit)
            return {hit->frame, hit->ptsUs};
        fallback_ = std::move(found->frame);
        return {fallback_.get(), found->ptsUs};
    }

    VideoImage show(const AVFrame* frame, int64_t ptsUs, PixelSize size) {
        VideoImage image = converter_.convert(frame, size);
        shown_ = av::refFrame(frame);
        shownPtsUs_ = ptsUs;
        return image;
    }

    // The frame on screen again, at a new size.
    std::optional<std::pair<int64_t, VideoImage>> reshow(PixelSize size) {
        if (!shown_)
            return std::nullopt;
        return std::pair{shownPtsUs_, converter_.convert(shown_.get(), size)};
    }

    // Work for idle moments, most useful first: the frames after the one
    // shown (a drag forward finds them ready), then the frames a seek left
    // undecoded on its way (a drag back finds them too). Does one frame's
    // worth; false when nothing is left.
    bool idleStep() {
        if (prefetchLeft_ > 0) {
            --prefetchLeft_;
            if (prefetchOne())
                return true;
            prefetchLeft_ = 0;
        }
        if (backfill_) {
            if (!backfill_->started) {
                stream_.seekTo(backfill_->seekUs);
                backfill_->started = true;
            }
            auto f = stream_.next();
            if (f)
                remember(*f); // the frame shown too: it closes its predecessor's interval
            if (f && f->ptsUs < backfill_->untilUs)
                return true;
            backfill_.reset();
        }
        return false;
    }

    bool hasIdleWork() const { return prefetchLeft_ > 0 || backfill_; }
    void dropIdleWork() {
        prefetchLeft_ = 0;
        backfill_.reset();
    }

  private:
    // Decodes one frame past the last one decoded; false at the end.
    bool prefetchOne() {
        if (stream_.atEnd())
            return false;
        auto f = stream_.next();
        if (!f) {
            if (lastPtsUs_)
                cache_.markLast(*lastPtsUs_);
            return false;
        }
        remember(*f);
        return true;
    }

    void remember(const TimedFrame& f) {
        cache_.insert(f.frame.get(), f.ptsUs, f.durationUs > 0 ? f.ptsUs + f.durationUs : -1,
                      f.contiguous);
        lastPtsUs_ = f.ptsUs;
    }

    VideoStream stream_;
    FrameConverter converter_;
    FrameCache cache_;
    av::FramePtr shown_;
    int64_t shownPtsUs_ = 0;
    av::FramePtr fallback_;
    std::optional<int64_t> lastPtsUs_;
    int prefetchLeft_ = 0;
    struct Backfill {
        int64_t seekUs;  // decoding restarts at the key frame before this
        int64_t untilUs; // and stops at the frame that was shown
        bool started;
    };
    std::optional<Backfill> backfill_;
};

} // namespace

ScrubWorker::ScrubWorker(Callbacks callbacks, size_t cacheBytes)
    : callbacks_(std::move(callbacks)), cacheBytes_(cacheBytes),
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
        seeks_.push_back({ticket, item, tUs});
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

void ScrubWorker::run(std::stop_token stop) {
    nameThisThread("kavlo-scrub");
    std::unique_ptr<ItemDecoder> decoder;
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
            if (!newItem->path.empty()) {
                try {
                    decoder = std::make_unique<ItemDecoder>(newItem->path, cacheBytes_);
                } catch (const Error& e) {
                    callbacks_.failed(item, e.message());
                }
            }
        }

        if (!seeks.empty()) {
            // Only the newest seek is carried out; the others were
            // superseded before they started.
            for (size_t i = 0; i + 1 < seeks.size(); ++i)
                callbacks_.seekDone(seeks[i].ticket, seeks[i].item, false);
            const SeekRequest& s = seeks.back();
            bool finished = false;
            if (s.item == item && decoder) {
                try {
                    auto [frame, ptsUs] = decoder->locate(s.tUs);
                    callbacks_.frame(item, ptsUs, decoder->show(frame, ptsUs, size));
                    finished = true;
                } catch (const Error& e) {
                    callbacks_.failed(item, e.message());
                }
            }
            callbacks_.seekDone(s.ticket, s.item, finished);
        } else if (resized && decoder) {
            try {
                if (auto again = decoder->reshow(size))
                    callbacks_.frame(item, again->first, std::move(again->second));
            } catch (const Error& e) {
                callbacks_.failed(item, e.message());
            }
        } else if (idleWork) {
            try {
                decoder->idleStep();
            } catch (const Error&) {
                // The next seek meets the same damage and reports it; the
                // decoder stays usable after a seek.
                decoder->dropIdleWork();
            }
        }
    }
}

} // namespace kavlo

#include "render/gif_frame_queue.h"

#include "media/error.h"

#include <algorithm>
#include <stdexcept>

namespace kavlo {

GifFrameQueue::GifFrameQueue(std::vector<Picture> pictures, const GifColourSettings& settings,
                             const GifPalette* shared, int threads, std::stop_token stop)
    : pictures_(std::move(pictures)), forwardStop_(stop, ForwardStop{&abort_}),
      done_(pictures_.size()) {
    const int count = std::max(threads, 1);
    // Enough finished pictures to keep the writer busy while every worker
    // is on its next one; more would only hold memory.
    ahead_ = std::size_t(count) + 1;
    for (int i = 0; i < count; ++i)
        remappers_.push_back(std::make_unique<GifRemapper>(settings, shared, abort_.get_token()));
    try {
        for (auto& remapper : remappers_)
            workers_.emplace_back([this, r = remapper.get()] { work(*r); });
    } catch (...) {
        abort_.request_stop();
        for (auto& worker : workers_)
            worker.join();
        throw;
    }
}

GifFrameQueue::~GifFrameQueue() {
    abort_.request_stop();
    for (auto& worker : workers_)
        worker.join();
}

void GifFrameQueue::work(GifRemapper& remapper) {
    const std::stop_token abort = abort_.get_token();
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            const bool go = changed_.wait(lock, abort, [&] {
                return claimed_ == pictures_.size() || claimed_ < taken_ + ahead_;
            });
            if (!go || claimed_ == pictures_.size())
                return;
            index = claimed_++;
        }
        try {
            remapper.load(pictures_[index]);
            pictures_[index] = Picture();
            // Holding is cheap beside remapping, and goes in list order.
            {
                std::unique_lock lock(mutex_);
                if (!changed_.wait(lock, abort, [&] { return held_ == index; }))
                    return;
            }
            remapper.hold(holding_);
            {
                std::lock_guard lock(mutex_);
                ++held_;
            }
            changed_.notify_all();
            IndexedFrame frame = remapper.remap();
            std::lock_guard lock(mutex_);
            done_[index] = std::move(frame);
        } catch (const Cancelled&) {
            return;
        } catch (...) {
            {
                std::lock_guard lock(mutex_);
                if (!failure_)
                    failure_ = std::current_exception();
            }
            abort_.request_stop();
            return;
        }
        changed_.notify_all();
    }
}

IndexedFrame GifFrameQueue::next() {
    std::unique_lock lock(mutex_);
    if (taken_ == done_.size())
        throw std::logic_error("GifFrameQueue::next past the end");
    changed_.wait(lock, abort_.get_token(), [&] { return done_[taken_].has_value(); });
    if (failure_)
        std::rethrow_exception(failure_);
    if (abort_.stop_requested())
        throw Cancelled();
    IndexedFrame frame = std::move(*done_[taken_]);
    done_[taken_].reset();
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    return frame;
}

} // namespace kavlo

#include "render/segment_feed.h"

#include "media/error.h"

namespace kavlo {

SegmentFeed::SegmentFeed(InputFile& file, const SegmentPlan& plan, std::stop_token stop,
                         Unwanted unwanted)
    : file_(file), plan_(plan), unwanted_(std::move(unwanted)),
      forwardStop_(stop, ForwardStop{&abort_}), thread_([this] { read(); }) {}

SegmentFeed::~SegmentFeed() {
    abort_.request_stop();
}

void SegmentFeed::read() {
    const std::stop_token abort = abort_.get_token();
    try {
        std::vector<int> leftOut;
        {
            SegmentPictureReader reader(file_, plan_);
            for (;;) {
                throwIfCancelled(abort);
                std::optional<Picture> picture = reader.next();
                if (!picture)
                    break;
                std::lock_guard lock(mutex_);
                const int read = int(pictures_.size()) + 1;
                const bool wanted = !unwanted_ || !unwanted_(read - 1, read);
                if (wanted && !*picture)
                    leftOut.push_back(read - 1);
                pictures_.push_back(wanted ? std::move(*picture) : Picture());
                while (unwanted_ && firstKept_ < read - 1 && unwanted_(firstKept_, read))
                    pictures_[firstKept_++] = Picture();
                changed_.notify_all();
            }
        }
        // The plan left pictures out for the whole segment; a shorter one
        // may show them after all, so they are read once more.
        if (!leftOut.empty() && int64_t(pictures_.size()) < plan_.expected)
            fillIn(leftOut, abort);
    } catch (...) {
        std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
}

void SegmentFeed::fillIn(const std::vector<int>& leftOut, std::stop_token abort) {
    SegmentPlan whole = plan_;
    whole.leftOut = nullptr;
    whole.expected = int64_t(pictures_.size());
    SegmentPictureReader reader(file_, whole);
    auto missing = leftOut.begin();
    for (int index = 0; missing != leftOut.end(); ++index) {
        throwIfCancelled(abort);
        std::optional<Picture> picture = reader.next();
        if (!picture)
            throw kavloError(kFrameReadFailed, "Video frame read failed");
        if (index != *missing)
            continue;
        std::lock_guard lock(mutex_);
        pictures_[index] = std::move(*picture);
        ++missing;
    }
}

template <typename Ready>
void SegmentFeed::waitUntil(std::unique_lock<std::mutex>& lock, std::stop_token wait, Ready ready) {
    changed_.wait(lock, wait, [&] { return ended_ || ready(); });
    if (failure_)
        std::rethrow_exception(failure_);
    throwIfCancelled(wait);
}

const Picture* SegmentFeed::waitFor(int index, std::stop_token wait) {
    std::unique_lock lock(mutex_);
    waitUntil(lock, wait, [&] { return std::size_t(index) < pictures_.size(); });
    return std::size_t(index) < pictures_.size() ? &pictures_[index] : nullptr;
}

int SegmentFeed::waitForEnd(std::stop_token wait) {
    std::unique_lock lock(mutex_);
    waitUntil(lock, wait, [] { return false; });
    return int(pictures_.size());
}

Picture SegmentFeed::take(int index) {
    std::lock_guard lock(mutex_);
    return std::move(pictures_.at(index));
}

int SegmentFeed::readCount() const {
    std::lock_guard lock(mutex_);
    return int(pictures_.size());
}

} // namespace kavlo

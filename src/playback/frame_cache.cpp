#include "playback/frame_cache.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace kavlo {

namespace {
size_t imageBytes(const VideoImage& image) {
    return static_cast<size_t>(image.stride()) * image.height();
}
} // namespace

FrameCache::Hit FrameCache::hitOf(const Entries::value_type& e) {
    return Hit{e.second.frame.share(), e.second.image, e.second.box, e.first};
}

void FrameCache::reset(uint64_t item, const FrameTiming& timing) {
    std::lock_guard lock(mutex_);
    clearLocked();
    item_ = item;
    timing_ = timing;
}

void FrameCache::clear() {
    std::lock_guard lock(mutex_);
    clearLocked();
}

void FrameCache::clearLocked() {
    item_ = 0;
    timing_.reset();
    entries_.clear();
    bytes_ = 0;
    runTailUs_.reset();
}

void FrameCache::insert(const Frame& frame, int64_t ptsUs, int64_t lengthUs, bool continuesRun) {
    std::lock_guard lock(mutex_);
    if (continuesRun && runTailUs_) {
        auto prev = entries_.find(*runTailUs_);
        if (prev != entries_.end() && prev->first < ptsUs)
            prev->second.nextUs = ptsUs;
    }
    runTailUs_ = ptsUs;
    auto [it, added] = entries_.try_emplace(ptsUs);
    Entry& e = it->second;
    if (added) {
        e.frame = frame.share();
        e.bytes = e.frame.bufferBytes();
        e.box = {};
        e.lengthUs = std::max<int64_t>(lengthUs, 0);
        e.nextUs = -1;
        e.first = e.last = false;
        bytes_ += e.bytes;
    } else if (e.lengthUs <= 0) {
        e.lengthUs = std::max<int64_t>(lengthUs, 0);
    }
    evict();
}

void FrameCache::markFirst(int64_t ptsUs) {
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(ptsUs); it != entries_.end())
        it->second.first = true;
}

void FrameCache::markLast(int64_t ptsUs) {
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(ptsUs); it != entries_.end())
        it->second.last = true;
}

void FrameCache::setImage(int64_t ptsUs, VideoImage image, PixelSize box) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(ptsUs);
    if (it == entries_.end())
        return;
    Entry& e = it->second;
    bytes_ -= e.bytes;
    e.frame.reset();
    e.image = std::move(image);
    e.box = box;
    e.bytes = imageBytes(e.image);
    bytes_ += e.bytes;
    evict();
}

void FrameCache::keepImagesFor(PixelSize box) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        Entry& e = it->second;
        if (e.image.isNull() || e.box == box) {
            ++it;
            continue;
        }
        bytes_ -= e.bytes;
        if (!e.frame) {
            if (runTailUs_ && *runTailUs_ == it->first)
                runTailUs_.reset();
            it = entries_.erase(it);
            continue;
        }
        e.image = {};
        e.bytes = e.frame.bufferBytes();
        bytes_ += e.bytes;
        ++it;
    }
}

std::optional<FrameCache::Hit> FrameCache::nearestWithoutImage(int64_t reachUs) const {
    std::lock_guard lock(mutex_);
    // Outwards from the latest request, one step each way in turn.
    auto after = entries_.lower_bound(focusUs_);
    auto before = std::make_reverse_iterator(after);
    for (;;) {
        const bool afterOk = after != entries_.end() && after->first - focusUs_ <= reachUs;
        const bool beforeOk = before != entries_.rend() && focusUs_ - before->first <= reachUs;
        if (!afterOk && !beforeOk)
            return std::nullopt;
        if (afterOk) {
            if (after->second.frame && after->second.image.isNull())
                return hitOf(*after);
            ++after;
        }
        if (beforeOk) {
            if (before->second.frame && before->second.image.isNull())
                return hitOf(*before);
            ++before;
        }
    }
}

std::optional<FrameCache::Hit> FrameCache::find(int64_t tUs) {
    std::lock_guard lock(mutex_);
    const auto it = findLocked(tUs);
    if (it == entries_.end())
        return std::nullopt;
    return hitOf(*it);
}

std::optional<FrameCache::Hit> FrameCache::findPicture(uint64_t item, int64_t tUs, PixelSize box) {
    std::lock_guard lock(mutex_);
    if (item != item_)
        return std::nullopt;
    const auto it = findLocked(tUs);
    if (it == entries_.end() || it->second.image.isNull() || !(it->second.box == box))
        return std::nullopt;
    return Hit{Frame(), it->second.image, box, it->first};
}

FrameCache::Entries::const_iterator FrameCache::findLocked(int64_t tUs) {
    focusUs_ = tUs;
    if (entries_.empty() || !timing_)
        return entries_.end();
    auto it = entries_.upper_bound(timing_->latestStartUs(tUs));
    if (it == entries_.begin()) {
        // t lies before every cached frame: only the track's first frame
        // stands for it.
        return it->second.first ? it : entries_.end();
    }
    --it;
    const Entry& e = it->second;
    const bool onScreen = e.nextUs >= 0 ? !timing_->startedBy(e.nextUs, tUs)
                                        : timing_->surelyOnScreen(it->first, e.lengthUs, tUs);
    return e.last || onScreen ? it : entries_.end();
}

size_t FrameCache::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

size_t FrameCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void FrameCache::evict() {
    while (bytes_ > maxBytes_ && entries_.size() > 1) {
        // The farthest entry is at one of the two ends of the map.
        auto front = entries_.begin();
        auto back = std::prev(entries_.end());
        auto victim = std::llabs(front->first - focusUs_) >= std::llabs(back->first - focusUs_)
                          ? front
                          : back;
        if (runTailUs_ && victim->first == *runTailUs_)
            runTailUs_.reset();
        bytes_ -= victim->second.bytes;
        entries_.erase(victim);
    }
}

} // namespace kavlo

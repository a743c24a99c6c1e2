#include "playback/frame_cache.h"

#include <cstdlib>

namespace kavlo {

namespace {
size_t frameBytes(const AVFrame* f) {
    size_t n = 0;
    for (const AVBufferRef* buf : f->buf)
        if (buf)
            n += buf->size;
    return n;
}
} // namespace

void FrameCache::insert(const AVFrame* frame, int64_t ptsUs, int64_t endUs, bool continuesRun) {
    if (continuesRun && runTailUs_) {
        auto prev = entries_.find(*runTailUs_);
        if (prev != entries_.end() && prev->first < ptsUs && prev->second.endUs < 0)
            prev->second.endUs = ptsUs;
    }
    runTailUs_ = ptsUs;
    auto [it, added] = entries_.try_emplace(ptsUs);
    Entry& e = it->second;
    if (added) {
        e.frame = av::refFrame(frame);
        e.bytes = frameBytes(frame);
        e.endUs = endUs;
        e.first = e.last = false;
        bytes_ += e.bytes;
    } else if (e.endUs < 0) {
        e.endUs = endUs;
    }
    evict();
}

void FrameCache::markFirst(int64_t ptsUs) {
    if (auto it = entries_.find(ptsUs); it != entries_.end())
        it->second.first = true;
}

void FrameCache::markLast(int64_t ptsUs) {
    if (auto it = entries_.find(ptsUs); it != entries_.end())
        it->second.last = true;
}

std::optional<FrameCache::Hit> FrameCache::find(int64_t tUs, int64_t slackUs) {
    focusUs_ = tUs;
    if (entries_.empty())
        return std::nullopt;
    auto it = entries_.upper_bound(tUs + slackUs);
    if (it == entries_.begin()) {
        // t lies before every cached frame: only the track's first frame
        // stands for it.
        if (it->second.first)
            return Hit{it->second.frame.get(), it->first};
        return std::nullopt;
    }
    --it;
    const Entry& e = it->second;
    if (e.last || (e.endUs >= 0 && tUs + slackUs < e.endUs))
        return Hit{e.frame.get(), it->first};
    return std::nullopt;
}

void FrameCache::clear() {
    entries_.clear();
    bytes_ = 0;
    runTailUs_.reset();
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

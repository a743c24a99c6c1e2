// Decoded frames of one item near where the user scrubs, by time, so that
// going back and forth over frames seen recently needs no decoding. Bounded
// by bytes; when full, the frames farthest from the latest request go first.
//
// Not thread-safe: the scrub worker owns it.
#pragma once

#include "media/av_ptr.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace kavlo {

class FrameCache {
  public:
    explicit FrameCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // Keeps a reference to `frame`, on screen from `ptsUs` until `endUs`
    // (-1 when unknown; the next frame inserted in the same run settles it).
    // `continuesRun` says the
    // frame directly follows the previously inserted one in decoding order.
    void insert(const AVFrame* frame, int64_t ptsUs, int64_t endUs, bool continuesRun);
    // Marks the frame at `ptsUs` as the track's first or last one.
    void markFirst(int64_t ptsUs);
    void markLast(int64_t ptsUs);

    struct Hit {
        const AVFrame* frame;
        int64_t ptsUs;
    };
    // The frame on screen at `tUs` when the cache knows it. `slackUs` absorbs
    // timestamp rounding as in VideoStream. Remembers `tUs` for eviction.
    std::optional<Hit> find(int64_t tUs, int64_t slackUs);

    void clear();
    size_t bytes() const { return bytes_; }
    size_t size() const { return entries_.size(); }

  private:
    struct Entry {
        av::FramePtr frame;
        int64_t endUs;
        size_t bytes;
        bool first;
        bool last;
    };
    void evict();

    size_t maxBytes_;
    size_t bytes_ = 0;
    std::map<int64_t, Entry> entries_;
    std::optional<int64_t> runTailUs_;
    int64_t focusUs_ = 0;
};

} // namespace kavlo

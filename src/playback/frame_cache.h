// Decoded frames of one item near where the user scrubs, by time, so that
// going back and forth over frames seen recently needs no decoding. A frame
// whose picture has been made for the view keeps the picture instead of the
// decoded frame: showing it again then costs nothing, and it takes less room
// (a view-sized picture is smaller than a full-size frame). Bounded by bytes;
// when full, the frames farthest from the latest request go first.
//
// The cache belongs to one item at a time (reset). Thread-safe: every call
// takes the cache's own lock, held only inside the call. The scrub worker
// fills it; the UI thread takes ready pictures from it.
#pragma once

#include "media/frame.h"
#include "media/frame_timing.h"
#include "playback/frame_converter.h"
#include "player/video_image.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace kavlo {

class FrameCache {
  public:
    explicit FrameCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // Empties the cache for the frames of generation `item`, on screen by
    // the rule of `timing` (the item's).
    void reset(uint64_t item, const FrameTiming& timing);
    // Empties the cache, for no item.
    void clear();

    // Keeps a reference to `frame`, on screen from `ptsUs`; `lengthUs` is
    // its length as the container gives it (0 when unknown). `continuesRun`
    // says the frame directly follows the previously inserted one in
    // presentation order: its start then ends that one exactly.
    void insert(const Frame& frame, int64_t ptsUs, int64_t lengthUs, bool continuesRun);
    // Marks the frame at `ptsUs` as the track's first or last one.
    void markFirst(int64_t ptsUs);
    void markLast(int64_t ptsUs);

    // Keeps `image`, made for a view of size `box`, for the frame at `ptsUs`
    // in place of the decoded frame.
    void setImage(int64_t ptsUs, VideoImage image, PixelSize box);
    // The view is now of size `box`: pictures of another size go, and so do
    // frames that had nothing else.
    void keepImagesFor(PixelSize box);

    struct Hit {
        Frame frame;      // a reference of its own; empty once the picture was made
        VideoImage image; // null until then
        PixelSize box;    // what the picture was made for
        int64_t ptsUs;
    };
    // The frame on screen at `tUs` when the cache knows it. Remembers `tUs`
    // for eviction.
    std::optional<Hit> find(int64_t tUs);
    // The same for generation `item` only, and only when its picture is made
    // for a view of size `box`: what can go on screen without the worker.
    std::optional<Hit> findPicture(uint64_t item, int64_t tUs, PixelSize box);
    // The decoded frame nearest the latest request, within `reachUs` of it,
    // whose picture has not been made yet.
    std::optional<Hit> nearestWithoutImage(int64_t reachUs) const;

    size_t bytes() const;
    size_t size() const;

  private:
    struct Entry {
        Frame frame;
        VideoImage image;
        PixelSize box;
        int64_t lengthUs; // the container's; 0 when unknown
        int64_t nextUs;   // where the next frame starts; -1 until seen
        size_t bytes;
        bool first;
        bool last;
    };
    using Entries = std::map<int64_t, Entry>;
    void clearLocked();
    void evict();
    Entries::const_iterator findLocked(int64_t tUs);
    static Hit hitOf(const Entries::value_type& e);

    const size_t maxBytes_;
    mutable std::mutex mutex_;
    // Guarded by mutex_:
    uint64_t item_ = 0;
    std::optional<FrameTiming> timing_;
    size_t bytes_ = 0;
    Entries entries_;
    std::optional<int64_t> runTailUs_;
    int64_t focusUs_ = 0;
};

} // namespace kavlo

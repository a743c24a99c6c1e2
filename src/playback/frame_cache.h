// Decoded frames of one item near where the user scrubs, by time, so that
// going back and forth over frames seen recently needs no decoding. A frame
// whose picture has been made for the view keeps the picture instead of the
// decoded frame: showing it again then costs nothing, and it takes less room
// (a view-sized picture is smaller than a full-size frame). Bounded by bytes;
// when full, the frames farthest from the latest request go first.
//
// Not thread-safe: its owner guards it with a mutex.
#pragma once

#include "media/av_ptr.h"
#include "media/frame_timing.h"
#include "playback/frame_converter.h"
#include "player/video_image.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace kavlo {

class FrameCache {
  public:
    explicit FrameCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // Keeps a reference to `frame`, on screen from `ptsUs`; `lengthUs` is
    // its length as the container gives it (0 when unknown). `continuesRun`
    // says the frame directly follows the previously inserted one in
    // presentation order: its start then ends that one exactly.
    void insert(const AVFrame* frame, int64_t ptsUs, int64_t lengthUs, bool continuesRun);
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
        const AVFrame* frame; // null once the picture was made
        VideoImage image;     // null until then
        PixelSize box;        // what the picture was made for
        int64_t ptsUs;
    };
    // The frame on screen at `tUs` by the rule of `timing` (the item's),
    // when the cache knows it. Remembers `tUs` for eviction.
    std::optional<Hit> find(int64_t tUs, const FrameTiming& timing);
    // The decoded frame nearest the latest request, within `reachUs` of it,
    // whose picture has not been made yet.
    std::optional<Hit> nearestWithoutImage(int64_t reachUs) const;

    void clear();
    size_t bytes() const { return bytes_; }
    size_t size() const { return entries_.size(); }

  private:
    struct Entry {
        av::FramePtr frame;
        VideoImage image;
        PixelSize box;
        int64_t lengthUs; // the container's; 0 when unknown
        int64_t nextUs;   // where the next frame starts; -1 until seen
        size_t bytes;
        bool first;
        bool last;
    };
    void evict();
    static Hit hitOf(const std::pair<const int64_t, Entry>& e);

    size_t maxBytes_;
    size_t bytes_ = 0;
    std::map<int64_t, Entry> entries_;
    std::optional<int64_t> runTailUs_;
    int64_t focusUs_ = 0;
};

} // namespace kavlo

// One item opened for scrubbing: its video stream, and the pictures the scrub
// worker shows from it. Answers each seek from the shared frame cache when it
// can and decodes otherwise, showing frames on the way while it does; between
// seeks, idle steps decode a little ahead, make pictures of cached frames
// near the one on screen, and decode the frames a seek left out on its way.
//
// Lives on the scrub worker's thread. The cache it fills is shared with the
// UI thread, which takes ready pictures from it; the cache locks itself.
#pragma once

#include "playback/frame_cache.h"
#include "playback/frame_converter.h"
#include "playback/video_stream.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace kavlo {

class ScrubDecoder {
  public:
    // Opens `path`; throws Error when it cannot be read.
    ScrubDecoder(const std::string& path, FrameCache& cache);

    const FrameTiming& timing() const { return stream_.timing(); }

    struct Picture {
        int64_t ptsUs;
        VideoImage image;
    };
    // What a seek does while it decodes its way to the target.
    struct SeekProgress {
        // Shows a picture of a frame on the way, before the exact one: one
        // at most every kInterimSpacing after the last picture shown (the
        // first after a pause right away), so that a long run from a key
        // frame shows where it is going.
        std::function<void(Picture)> interim;
        // The target of a newer seek waiting behind this one, if any.
        std::function<std::optional<int64_t>()> newer;
        // Whether the seek is to give up.
        std::function<bool()> abandoned;
    };
    // Thrown by show() when its seek was abandoned, or when it gave up its
    // seek for the newer one: the newer lies ahead on the way (decoding
    // goes on toward it) or in another GOP (this one's work would be of no
    // use). A newer seek behind the frames decoded so far in the same GOP
    // waits: giving way would start the run again from the key frame, over
    // and over during a drag backwards.
    struct GaveWay {};
    static constexpr std::chrono::milliseconds kInterimSpacing{40};

    // The picture on screen at `tUs` for a view of size `box`: as it lies in
    // the cache, made from a cached frame, or decoded. Throws Error, and
    // GaveWay.
    Picture show(int64_t tUs, PixelSize box, const SeekProgress& progress = {});
    // Notes that the cached picture for `tUs` went on screen without this
    // decoder, so that idle work follows it.
    void follow(int64_t tUs);
    // The view is now of size `box`: pictures made for another size go.
    void resize(PixelSize box);
    // The picture on screen again at size `box`, if there is one. Throws
    // Error.
    std::optional<Picture> redraw(PixelSize box);

    bool hasIdleWork() const { return prefetchLeft_ > 0 || convertLeft_ || backfill_; }
    // One idle step for a view of size `box`: a frame decoded or a picture
    // made, most useful first. Throws Error.
    void idleStep(PixelSize box);
    void dropIdleWork();

  private:
    // After a seek landed on the cached frame at `ptsUs`.
    void planAfterHit(int64_t ptsUs);
    DecodedFrame decode(int64_t tUs, PixelSize box, const SeekProgress& progress);
    // Called with each frame decoded on the way to `tUs`, before it is known
    // whether it is the one; `remembered`: it is in the cache already.
    void onTheWay(const DecodedFrame& f, bool remembered, int64_t tUs, PixelSize box,
                  const SeekProgress& progress);
    bool givesWayTo(int64_t tUs, int64_t newerUs) const;
    Picture keep(Frame frame, int64_t ptsUs, PixelSize box);
    bool prefetchOne();
    bool convertOne(PixelSize box);
    void remember(const DecodedFrame& f);

    VideoStream stream_;
    FrameConverter converter_;
    FrameConverter interimConverter_; // pictures of frames on the way
    FrameCache& cache_;
    // When the last picture, exact or interim, was made.
    std::chrono::steady_clock::time_point lastPictureAt_;
    // The frame on screen (null when shown from a cached picture).
    Frame shownFrame_;
    std::optional<int64_t> shownPtsUs_;
    std::optional<int64_t> lastPtsUs_;
    int prefetchLeft_ = 0;
    bool convertLeft_ = false;
    struct Backfill {
        int64_t seekUs;  // decoding restarts at the key frame before this
        int64_t untilUs; // and stops at the frame that was shown
        bool started;
    };
    std::optional<Backfill> backfill_;
};

} // namespace kavlo

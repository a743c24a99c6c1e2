// The scrub player's decoding thread. It opens the item, answers each seek
// from its cache of decoded frames or by decoding, and decodes a little
// ahead while idle. Results go out through callbacks, always from its own
// thread and in the order the seeks were made; the owner forwards them to the
// UI thread.
//
// Only the newest waiting seek is carried out: older ones that have not
// started complete with false. A seek that has started runs to the end, so a
// fast drag still shows frames.
//
// Pictures the worker has ready for the current view can be taken from any
// thread without waiting for it (readyPicture), so that a frame seen a
// moment ago shows at once even while the worker is busy decoding ahead.
//
// Whatever a request throws (an Error, std::bad_alloc) is reported as the
// item's failure; the worker goes on with the next request.
#pragma once

#include "playback/frame_cache.h"
#include "playback/frame_converter.h"
#include "player/video_image.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kavlo {

class ScrubDecoder;

class ScrubWorker {
  public:
    struct Callbacks {
        // The picture on screen for item generation `item` from now on.
        std::function<void(uint64_t item, int64_t ptsUs, VideoImage image)> frame;
        // `item` is the generation the seek was made for.
        std::function<void(uint64_t ticket, uint64_t item, bool finished)> seekDone;
        std::function<void(uint64_t item, const std::string& message)> failed;
    };

    // Enough for two seconds of 1080p frames in their decoded form.
    static constexpr size_t kDefaultCacheBytes = 192u << 20;

    explicit ScrubWorker(Callbacks callbacks, size_t cacheBytes = kDefaultCacheBytes);
    // Stops the thread; results not yet reported are dropped.
    ~ScrubWorker();

    // Any thread; none of these waits for decoding.
    // Generation `item` shows the file at `path` (empty: nothing).
    void setItem(uint64_t item, std::string path);
    // Shows the frame on screen at `tUs` of generation `item`.
    void seek(uint64_t ticket, uint64_t item, int64_t tUs);
    void setViewSize(PixelSize size);

    struct Ready {
        int64_t ptsUs;
        VideoImage image;
    };
    // The picture on screen at `tUs` of generation `item`, when one is ready
    // for the current view size. Returns at once.
    std::optional<Ready> readyPicture(uint64_t item, int64_t tUs);
    // Tells the worker that the picture readyPicture() gave for `tUs` is
    // on screen now, so that its idle work follows; nothing is reported.
    void follow(uint64_t item, int64_t tUs);

  private:
    struct SeekRequest {
        uint64_t ticket;
        uint64_t item;
        int64_t tUs;
        bool follow; // from follow(): nothing to show or report
    };
    struct ItemRequest {
        uint64_t item;
        std::string path;
    };

    // The worker's thread: serves requests until stopped.
    void run(std::stop_token stop);
    // Waits for requests and serves them once; false when stopped.
    bool serve(std::stop_token stop);
    void openItem(const ItemRequest& request);

    Callbacks callbacks_;
    // The frames of the open item; it locks itself, never while mutex_ is
    // held.
    FrameCache cache_;
    // The worker thread's own:
    std::unique_ptr<ScrubDecoder> decoder_;
    uint64_t item_ = 0;

    std::mutex mutex_;
    std::condition_variable_any wake_;
    // Guarded by mutex_:
    std::optional<ItemRequest> newItem_;
    std::vector<SeekRequest> seeks_;
    PixelSize viewSize_;
    bool viewSizeChanged_ = false;

    std::jthread thread_; // last: it stops before the members it uses go
};

} // namespace kavlo

// The scrub player's decoding thread. It opens the item, answers each seek
// from its cache of decoded frames or by decoding, and decodes a little
// ahead while idle. What it has to tell (pictures, seek completions,
// failures) waits, in the order the seeks were made, until the owner takes
// it; the thread only wakes the owner, without a payload.
//
// Only the newest waiting seek is carried out: older ones that have not
// started complete with false. A seek that decodes its way to its frame
// shows frames on the way, and gives way to a newer seek that lies ahead of
// it or in another GOP (completing with false); otherwise it runs to the
// end, so a drag backwards still shows exact frames.
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
#include <deque>
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
    // Called from the worker's thread when there is something to take. It
    // must only post a wake-up to the owner's thread, which may then find
    // nothing new.
    using Wake = std::function<void()>;

    // Enough for two seconds of 1080p frames in their decoded form.
    static constexpr size_t kDefaultCacheBytes = 192u << 20;

    explicit ScrubWorker(Wake wake, size_t cacheBytes = kDefaultCacheBytes);
    // Stops the thread; reports not taken are dropped.
    ~ScrubWorker();

    // Any thread; none of these waits for decoding.
    // Generation `item` shows the file at `path` (empty: nothing).
    void setItem(uint64_t item, std::string path);
    // Shows the frame on screen at `tUs` of generation `item`.
    void seek(uint64_t ticket, uint64_t item, int64_t tUs);
    void setViewSize(PixelSize size);
    // Drops the work ahead planned by the seeks made before; the next seek
    // plans its own.
    void rest();
    // The same, and the seeks under way or waiting give up: they complete
    // unfinished and nothing more of theirs is shown. A later seek is
    // carried out as usual.
    void abandonSeeks();

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

    struct Report {
        enum class Kind {
            picture,  // on screen from now on: ptsUs, image
            seekDone, // the seek filed as `ticket` completed: finished
            failure,  // the item could not be opened or decoded: message
        };
        Kind kind;
        int64_t ptsUs = 0;
        VideoImage image{};
        uint64_t ticket = 0;
        bool finished = false;
        std::string message{};
    };
    // The oldest report for generation `item`. Pictures and failures of
    // other generations are thrown away; their seeks complete, unfinished.
    std::optional<Report> take(uint64_t item);

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
    // The target of the newest seek waiting for the open item, if any.
    std::optional<int64_t> newerSeek();
    // Files a report for `item` and wakes the owner.
    void report(uint64_t item, Report report);
    void reportPicture(int64_t ptsUs, VideoImage image);
    void reportSeek(const SeekRequest& seek, bool finished);
    void reportFailure(const std::exception& failure);

    const Wake wakeOwner_;
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
    bool rest_ = false;
    bool abandon_ = false;
    struct Filed {
        uint64_t item;
        Report report;
    };
    std::deque<Filed> reports_;

    std::jthread thread_; // last: it stops before the members it uses go
};

} // namespace kavlo

// The scrub player's decoding thread. It opens the item, answers each seek
// from its cache of decoded frames or by decoding, and decodes a little
// ahead while idle. Results go out through callbacks, always from its own
// thread and in the order the seeks were made; the owner forwards them to the
// UI thread.
//
// Only the newest waiting seek is carried out: older ones that have not
// started complete with false. A seek that has started runs to the end, so a
// fast drag still shows frames.
#pragma once

#include "playback/frame_converter.h"
#include "playback/video_image.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kavlo {

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

  private:
    struct SeekRequest {
        uint64_t ticket;
        uint64_t item;
        int64_t tUs;
    };
    struct ItemRequest {
        uint64_t item;
        std::string path;
    };

    void run(std::stop_token stop);

    Callbacks callbacks_;
    size_t cacheBytes_;
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

// Remaps a list of pictures into palette images on worker threads, a few
// pictures ahead of the one consumer that takes them in order.
//
// Remapping a 1080p picture with dithering takes libimagequant well over a
// tenth of a second and runs on one core, while writing it takes a fraction
// of that; the writer (the thread that constructs the queue and calls
// next()) would otherwise wait on the remapping all the time.
#pragma once

#include "render/gif_quantizer.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace kavlo {

class GifFrameQueue {
  public:
    // Takes the pictures; each is released once remapped. `shared` as for
    // GifRemapper. Starts `threads` workers (at least one), each with its own
    // remapper. Throws what a remapper's constructor throws.
    GifFrameQueue(std::vector<Picture> pictures, const GifColourSettings& settings,
                  const GifPalette* shared, int threads, std::stop_token stop);
    // Stops the workers and waits for them.
    ~GifFrameQueue();
    GifFrameQueue(const GifFrameQueue&) = delete;
    GifFrameQueue& operator=(const GifFrameQueue&) = delete;

    // The next picture in list order, remapped; with settings.holdDistance,
    // held against the picture before it in the list (see
    // GifRemapper::hold). Throws the first error of any
    // worker, and Cancelled once `stop` is requested.
    IndexedFrame next();

  private:
    struct ForwardStop {
        std::stop_source* target;
        void operator()() const noexcept { target->request_stop(); }
    };

    void work(GifRemapper& remapper);

    std::vector<Picture> pictures_;
    // Workers stop when this is requested: by the render's stop token, by a
    // worker's failure or by the destructor.
    std::stop_source abort_;
    std::stop_callback<ForwardStop> forwardStop_;

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<std::optional<IndexedFrame>> done_; // guarded by mutex_
    std::size_t claimed_ = 0;                       // guarded by mutex_
    std::size_t taken_ = 0;                         // guarded by mutex_
    // Pictures held so far; the worker of picture `held_` alone touches
    // holding_ until it counts it.
    std::size_t held_ = 0; // guarded by mutex_
    GifRemapper::HoldState holding_;
    std::exception_ptr failure_; // guarded by mutex_
    std::size_t ahead_;

    std::vector<std::unique_ptr<GifRemapper>> remappers_;
    std::vector<std::jthread> workers_; // last: they go first
};

} // namespace kavlo

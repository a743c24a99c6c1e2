// Reads a segment's pictures on a thread of its own, so that the first ones
// can be encoded while later ones are still being decoded. Pictures are kept
// until the feed goes (the backward half of a ping-pong shows them all
// again), except those the render will surely not show.
#pragma once

#include "render/frame_reader.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace kavlo {

class SegmentFeed {
  public:
    // Whether picture `index` may go, now that `read` pictures are read.
    // Asked on the feed's thread, of each new picture and of the first one
    // still kept; a picture let go stays an empty Picture.
    using Unwanted = std::function<bool(int index, int read)>;

    // Starts reading `plan` from `file` on the feed's thread, which alone
    // uses the file from now on (the file must outlive the feed). Reading
    // ends early when `stop` is requested.
    SegmentFeed(InputFile& file, const SegmentPlan& plan, std::stop_token stop,
                Unwanted unwanted = {});
    // Stops reading and waits for the thread.
    ~SegmentFeed();
    SegmentFeed(const SegmentFeed&) = delete;
    SegmentFeed& operator=(const SegmentFeed&) = delete;

    // The rest is for one consumer thread.

    // Picture `index` of the segment, once decoded; nullptr when the segment
    // ended before it. The picture stays where it is until the feed goes
    // (an unwanted one is empty). Throws what reading threw (Cancelled when the render's
    // stop was requested), else Cancelled once `wait` is requested.
    const Picture* waitFor(int index, std::stop_token wait = {});
    // Waits until reading has ended; the number of pictures read. Throws as
    // waitFor.
    int waitForEnd(std::stop_token wait = {});

    // Hands picture `index` over, leaving an empty one in the feed: for a
    // consumer that is done asking for it. Call once reading has ended.
    Picture take(int index);

    // Pictures decoded so far.
    int readCount() const;
    // The most pictures the segment gives (SegmentPlan::expected).
    int64_t expected() const { return plan_.expected; }

  private:
    void read();
    // Reads the segment again for the pictures at `leftOut` (ascending).
    void fillIn(const std::vector<int>& leftOut, std::stop_token abort);
    // Waits until `ready` holds or reading ended; rethrows a failure.
    template <typename Ready>
    void waitUntil(std::unique_lock<std::mutex>& lock, std::stop_token wait, Ready ready);

    InputFile& file_;
    const SegmentPlan plan_;
    const Unwanted unwanted_;
    int firstKept_ = 0; // the feed thread's

    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    // Grown at the back by the thread; a deque, so that the consumer's
    // pictures stay in place meanwhile.
    std::deque<Picture> pictures_; // guarded by mutex_
    bool ended_ = false;           // guarded by mutex_
    std::exception_ptr failure_;   // guarded by mutex_

    struct ForwardStop {
        std::stop_source* target;
        void operator()() const noexcept { target->request_stop(); }
    };
    // Reading stops when this is requested: by the render's stop token or
    // by the destructor.
    std::stop_source abort_;
    std::stop_callback<ForwardStop> forwardStop_;
    std::jthread thread_; // last: it stops before the members it uses go
};

// What a pass over the segment came to, for the number of pictures the
// segment gave.
template <typename Result> struct SegmentPass {
    int frameCount = 0;
    Result result;
};

// Runs `pass(frameCount)` for the most pictures the segment may give, which
// it gives unless the track ends inside it, while the feed is still reading;
// when the segment gave fewer, runs it once more for the number it gave. A
// pass meets a short segment as a picture the feed does not have (waitFor
// gives nullptr) and may end there: its result is then dropped. Throws code
// 4 when the segment gave fewer than two pictures, and as waitForEnd.
template <typename Pass>
auto passOverSegment(SegmentFeed& feed, Pass&& pass, std::stop_token stop) {
    using Result = decltype(pass(0));
    const int most = int(feed.expected());
    Result result = pass(most);
    const int read = feed.waitForEnd(stop);
    if (read == most)
        return SegmentPass<Result>{most, std::move(result)};
    checkEnoughFrames(read);
    return SegmentPass<Result>{read, pass(read)};
}

} // namespace kavlo

// Where one decoding loop of the preview stands on the looped timeline: the
// generation (seek serial) it decodes for and the repetition of the item.
// A looping item is laid end to end: repetition k of a moment at file time
// p plays at k * length + p. The video and the sound loop each own a cursor
// over the same length, so picture and sound stay together over any number
// of repetitions.
//
// Owned by one thread.
#pragma once

#include <cstdint>

namespace kavlo {

class LoopCursor {
  public:
    // `lengthUs`: one repetition; 0 for an item that does not loop.
    explicit LoopCursor(int64_t lengthUs) : lengthUs_(lengthUs > 0 ? lengthUs : 0) {}

    int64_t lengthUs() const { return lengthUs_; }
    uint64_t serial() const { return serial_; }

    // Starts generation `serial` at timeline time `targetUs` (not negative)
    // in the first repetition; returns the file time to decode from: a time
    // past the end of a looping item wraps.
    int64_t restart(uint64_t serial, int64_t targetUs);
    // The timeline time of something decoded at file time `filePtsUs` in
    // the current repetition.
    int64_t place(int64_t filePtsUs);
    // The file has run out. True when decoding goes on from the file's
    // start, in the next repetition; false at the real end: an item that
    // does not loop, or a pass from the file's start that gave nothing (it
    // would spin). A pass that started after a seek may run out at once:
    // the target lay beyond the end of this track (sound shorter than the
    // picture), and the next repetition still has something.
    bool wrapAtEnd();

  private:
    int64_t lengthUs_;
    uint64_t serial_ = 0;
    int64_t repetition_ = 0;
    bool mayWrap_ = false;
};

} // namespace kavlo

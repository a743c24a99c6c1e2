// A decoded picture or stretch of sound, as the decoded stream hands it out.
// A Frame is one reference to buffers the decoder made: share() makes
// another without copying them, and the buffers are freed with the last
// reference. Frames move between threads; one Frame is used by one thread
// at a time.
#pragma once

#include "media/av_ptr.h"

#include <cstddef>

namespace kavlo {

class Frame {
  public:
    Frame() = default;
    explicit Frame(av::FramePtr frame) : frame_(std::move(frame)) {}

    explicit operator bool() const { return frame_ != nullptr; }
    // Another reference to the same buffers; an empty Frame for an empty one.
    Frame share() const;
    void reset() { frame_.reset(); }

    // A picture's size; 0 for sound.
    int width() const;
    int height() const;
    // The bytes of the buffers it refers to (shared ones counted whole).
    std::size_t bufferBytes() const;

    // The media layer's own view of the frame.
    AVFrame* get() const { return frame_.get(); }
    AVFrame* operator->() const { return frame_.get(); }
    av::FramePtr take() && { return std::move(frame_); }

  private:
    av::FramePtr frame_;
};

} // namespace kavlo

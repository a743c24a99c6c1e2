#include "media/frame.h"

#include "media/ffmpeg.h"

namespace kavlo {

Frame Frame::share() const {
    return frame_ ? Frame(av::refFrame(frame_.get())) : Frame();
}

int Frame::width() const {
    return frame_ ? frame_->width : 0;
}

int Frame::height() const {
    return frame_ ? frame_->height : 0;
}

std::size_t Frame::bufferBytes() const {
    std::size_t n = 0;
    if (frame_)
        for (const AVBufferRef* buf : frame_->buf)
            if (buf)
                n += buf->size;
    return n;
}

} // namespace kavlo

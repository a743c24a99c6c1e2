#include "media/picture.h"

#include "media/ffmpeg.h"

#include <cassert>

namespace kavlo {

Picture::Picture(av::FramePtr frame) : frame_(std::move(frame)) {
    assert(frame_->format == AV_PIX_FMT_YUV420P || frame_->format == AV_PIX_FMT_YUVJ420P ||
           frame_->format == AV_PIX_FMT_YUV444P || frame_->format == AV_PIX_FMT_YUVJ444P);
}

int Picture::width() const {
    return frame_ ? frame_->width : 0;
}

int Picture::height() const {
    return frame_ ? frame_->height : 0;
}

const uint8_t* Picture::plane(int index) const {
    return frame_->data[index];
}

int Picture::lineSize(int index) const {
    return frame_->linesize[index];
}

ColourTags Picture::colourTags() const {
    return {frame_->color_primaries, frame_->color_trc, frame_->colorspace, frame_->color_range};
}

Picture Picture::share() const {
    return frame_ ? Picture(av::refFrame(frame_.get())) : Picture();
}

} // namespace kavlo

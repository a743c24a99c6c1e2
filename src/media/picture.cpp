#include "media/picture.h"

#include "media/error.h"

#include <cassert>

namespace kavlo {

Picture::Picture(av::FramePtr frame) : frame_(std::move(frame)) {
    assert(frame_->format == AV_PIX_FMT_YUV420P || frame_->format == AV_PIX_FMT_YUVJ420P);
}

Picture Picture::share() const {
    return frame_ ? Picture(av::refFrame(frame_.get())) : Picture();
}

void BgraConverter::convert(const Picture& picture, uint8_t* dst, int dstStride) {
    const AVFrame* f = picture.frame();
    const bool fullRange = f->color_range == AVCOL_RANGE_JPEG || f->format == AV_PIX_FMT_YUVJ420P;
    if (!sws_ || f->width != width_ || f->height != height_ || f->colorspace != colorspace_ ||
        int(fullRange) != range_) {
        sws_.reset(sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width,
                                  f->height, AV_PIX_FMT_BGRA, SWS_BICUBIC | SWS_ACCURATE_RND,
                                  nullptr, nullptr, nullptr));
        if (!sws_)
            throwMediaError(AVERROR(EINVAL), "create colour converter");
        // Untagged video: HD material is BT.709, smaller sizes BT.601.
        int space = f->colorspace;
        if (space == AVCOL_SPC_UNSPECIFIED)
            space = f->height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        const int* coefficients = sws_getCoefficients(space);
        sws_setColorspaceDetails(sws_.get(), coefficients, fullRange, coefficients, 1, 0, 1 << 16,
                                 1 << 16);
        width_ = f->width;
        height_ = f->height;
        colorspace_ = f->colorspace;
        range_ = fullRange;
    }
    uint8_t* dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
    int dstStrides[4] = {dstStride, 0, 0, 0};
    sws_scale(sws_.get(), f->data, f->linesize, 0, f->height, dstPlanes, dstStrides);
}

} // namespace kavlo

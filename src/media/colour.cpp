#include "media/colour.h"

#include "media/converters.h"
#include "media/ffmpeg.h"
#include "media/frame.h"
#include "media/picture.h"
#include "media/tone_map.h"

namespace kavlo {

BgraConverter::BgraConverter(Quality quality)
    : quality_(quality), scaler_(std::make_unique<Scaler>()) {}

BgraConverter::~BgraConverter() = default;
BgraConverter::BgraConverter(BgraConverter&&) noexcept = default;
BgraConverter& BgraConverter::operator=(BgraConverter&&) noexcept = default;

void BgraConverter::convert(const AVFrame* frame, int width, int height, uint8_t* dst,
                            int dstStride) {
    if (isHdr(frame)) {
        // Mapped at the size asked for, in 4:4:4 so no colour resolution is
        // lost before the RGB; what comes back is SDR BT.709.
        if (!toneMapper_)
            toneMapper_ = std::make_unique<ToneMapper>();
        const av::FramePtr sdr = toneMapper_->toSdr(frame, width, height, AV_PIX_FMT_YUV444P);
        convert(sdr.get(), width, height, dst, dstStride);
        return;
    }
    ScalerKey key =
        scalerKeyFor(frame, width, height, AV_PIX_FMT_BGRA,
                     quality_ == Quality::fast ? SWS_BILINEAR : SWS_BICUBIC | SWS_ACCURATE_RND);
    key.dstFullRange = true;
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dstStride, 0, 0, 0};
    if (!scaler_)
        scaler_ = std::make_unique<Scaler>();
    scaler_->scale(key, frame->data, frame->linesize, planes, strides);
}

void BgraConverter::convert(const Frame& frame, int width, int height, uint8_t* dst,
                            int dstStride) {
    convert(frame.get(), width, height, dst, dstStride);
}

void BgraConverter::convert(const Picture& picture, uint8_t* dst, int dstStride) {
    convert(picture.frame(), picture.width(), picture.height(), dst, dstStride);
}

} // namespace kavlo

#include "media/colour.h"

#include "media/picture.h"
#include "media/tone_map.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kavlo {

AVColorSpace yuvMatrixOf(const AVFrame* frame) {
    if (frame->colorspace != AVCOL_SPC_UNSPECIFIED)
        return frame->colorspace;
    return frame->height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

bool isFullRange(const AVFrame* frame) {
    return frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P ||
           frame->format == AV_PIX_FMT_YUVJ422P || frame->format == AV_PIX_FMT_YUVJ444P;
}

bool hasFullChroma(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && d->nb_components >= 3 && d->log2_chroma_w == 0 && d->log2_chroma_h == 0;
}

BgraConverter::BgraConverter(Quality quality) : quality_(quality) {}

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
    ScalerKey key;
    key.srcWidth = frame->width;
    key.srcHeight = frame->height;
    key.srcFormat = AVPixelFormat(frame->format);
    key.dstWidth = width;
    key.dstHeight = height;
    key.dstFormat = AV_PIX_FMT_BGRA;
    key.matrix = yuvMatrixOf(frame);
    key.srcFullRange = isFullRange(frame);
    key.dstFullRange = true;
    key.flags = quality_ == Quality::fast ? SWS_BILINEAR : SWS_BICUBIC | SWS_ACCURATE_RND;
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dstStride, 0, 0, 0};
    scaler_.scale(key, frame->data, frame->linesize, planes, strides);
}

void BgraConverter::convert(const Picture& picture, uint8_t* dst, int dstStride) {
    convert(picture.frame(), picture.width(), picture.height(), dst, dstStride);
}

} // namespace kavlo

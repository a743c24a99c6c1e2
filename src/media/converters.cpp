#include "media/converters.h"

#include "media/error.h"
#include "media/ffmpeg.h"

extern "C" {
#include <libavutil/imgutils.h>
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

ScalerKey scalerKeyFor(const AVFrame* src, int dstWidth, int dstHeight, AVPixelFormat dstFormat,
                       int flags) {
    ScalerKey key;
    key.srcWidth = src->width;
    key.srcHeight = src->height;
    key.srcFormat = AVPixelFormat(src->format);
    key.dstWidth = dstWidth;
    key.dstHeight = dstHeight;
    key.dstFormat = dstFormat;
    key.matrix = yuvMatrixOf(src);
    key.srcFullRange = isFullRange(src);
    key.flags = flags;
    return key;
}

av::SwsPtr makeScaler(const ScalerKey& key) {
    av::SwsPtr sws(sws_getContext(key.srcWidth, key.srcHeight, key.srcFormat, key.dstWidth,
                                  key.dstHeight, key.dstFormat, key.flags, nullptr, nullptr,
                                  nullptr));
    if (!sws)
        throwMediaError(AVERROR(EINVAL), "create scaler");
    const int* coefficients = sws_getCoefficients(key.matrix);
    sws_setColorspaceDetails(sws.get(), coefficients, key.srcFullRange, coefficients,
                             key.dstFullRange, 0, 1 << 16, 1 << 16);
    return sws;
}

void Scaler::scale(const ScalerKey& key, const uint8_t* const src[], const int srcStride[],
                   uint8_t* const dst[], const int dstStride[]) {
    if (!sws_ || !(key == key_)) {
        sws_ = makeScaler(key);
        key_ = key;
    }
    // libswscale's vector code writes rows in whole blocks of pixels, so a
    // row whose length is not a multiple of them is overrun: into the
    // stride's padding, or past the end of a packed picture's last row. A
    // one-plane destination (what the callers' own buffers are) that may be
    // overrun is scaled into padded rows and copied.
    const int rowBytes = av_image_get_linesize(key.dstFormat, key.dstWidth, 0);
    if (dst[1] || rowBytes <= 0 || rowBytes % kRowBlock == 0) {
        sws_scale(sws_.get(), src, srcStride, 0, key.srcHeight, dst, dstStride);
        return;
    }
    const int paddedStride = FFALIGN(rowBytes, kRowBlock);
    padded_.resize(std::size_t(paddedStride) * (key.dstHeight + 1) + kRowBlock);
    uint8_t* rows =
        padded_.data() + (-reinterpret_cast<uintptr_t>(padded_.data()) & (kRowBlock - 1));
    uint8_t* planes[4] = {rows, nullptr, nullptr, nullptr};
    const int strides[4] = {paddedStride, 0, 0, 0};
    sws_scale(sws_.get(), src, srcStride, 0, key.srcHeight, planes, strides);
    av_image_copy_plane(dst[0], dstStride[0], rows, paddedStride, rowBytes, key.dstHeight);
}

av::SwrPtr makeResampler(const ResamplerKey& key) {
    SwrContext* raw = nullptr;
    // libswresample reads the layouts only; older releases take them non-const.
    const int ret = swr_alloc_set_opts2(
        &raw, const_cast<AVChannelLayout*>(key.outLayout), key.outFormat, key.outRate,
        const_cast<AVChannelLayout*>(key.inLayout), key.inFormat, key.inRate, 0, nullptr);
    av::SwrPtr swr(raw);
    checkAv(ret, "configure resampler");
    if (key.mix)
        checkAv(swr_set_matrix(swr.get(), key.mix, key.inLayout->nb_channels), "mix channels");
    checkAv(swr_init(swr.get()), "open resampler");
    return swr;
}

} // namespace kavlo

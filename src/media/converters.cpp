#include "media/converters.h"

#include "media/error.h"

namespace kavlo {

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
    sws_scale(sws_.get(), src, srcStride, 0, key.srcHeight, dst, dstStride);
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

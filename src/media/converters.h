// The one place scalers and resamplers are made. A scaler's result depends
// on the sizes, the pixel formats, the matrix and the ranges it was set up
// with, and every one of them is in its key: a scaler kept across frames is
// made again as soon as any of them changes, so a frame is never converted
// with the settings of the one before it. (HDR frames are tone-mapped first,
// by ToneMapper, whose own scalers are keyed here too.)
#pragma once

#include "media/av_ptr.h"

namespace kavlo {

struct ScalerKey {
    int srcWidth = 0, srcHeight = 0;
    AVPixelFormat srcFormat = AV_PIX_FMT_NONE;
    int dstWidth = 0, dstHeight = 0;
    AVPixelFormat dstFormat = AV_PIX_FMT_NONE;
    // The YUV matrix of both sides (only the size, layout and range change).
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    bool srcFullRange = false, dstFullRange = false;
    int flags = 0; // SWS_ filter and rounding flags

    bool operator==(const ScalerKey&) const = default;
};

// Makes a scaler for `key`. Throws Error when it cannot be set up.
av::SwsPtr makeScaler(const ScalerKey& key);

// A scaler kept while its key stays the same. Not thread-safe.
class Scaler {
  public:
    // Scales the whole of `src` (of the key's source size and format) into
    // the planes of `dst`.
    void scale(const ScalerKey& key, const uint8_t* const src[], const int srcStride[],
               uint8_t* const dst[], const int dstStride[]);
    void scale(const ScalerKey& key, const AVFrame* src, AVFrame* dst) {
        scale(key, src->data, src->linesize, dst->data, dst->linesize);
    }

  private:
    av::SwsPtr sws_;
    ScalerKey key_;
};

struct ResamplerKey {
    const AVChannelLayout* inLayout = nullptr;
    AVSampleFormat inFormat = AV_SAMPLE_FMT_NONE;
    int inRate = 0;
    const AVChannelLayout* outLayout = nullptr;
    AVSampleFormat outFormat = AV_SAMPLE_FMT_NONE;
    int outRate = 0;
    // Row-major mix matrix (one row per output channel), or null for
    // libswresample's own mix of the layouts.
    const double* mix = nullptr;
};

// Makes and opens a resampler for `key`. Throws Error (media domain, with
// FFmpeg's code) when the conversion cannot be set up.
av::SwrPtr makeResampler(const ResamplerKey& key);

} // namespace kavlo

// The one place scalers and resamplers are made. A scaler's result depends
// on the sizes, the pixel formats, the matrix and the ranges it was set up
// with, and every one of them is in its key: a scaler kept across frames is
// made again as soon as any of them changes, so a frame is never converted
// with the settings of the one before it. (HDR frames are tone-mapped first,
// by ToneMapper, whose own scalers are keyed here too.)
//
// A header of the media layer's own: it names FFmpeg's types.
#pragma once

#include "media/ffmpeg.h"

#include <cstdint>
#include <vector>

namespace kavlo {

// The matrix `frame` is read with: its own tag, or for untagged video the
// convention of its size: HD (720 lines and more) is BT.709, smaller sizes
// BT.601.
AVColorSpace yuvMatrixOf(const AVFrame* frame);
// True when the frame's YUV uses the full 0-255 range rather than the
// video range (16-235), by its tag or its pixel format.
bool isFullRange(const AVFrame* frame);
// True for a pixel format with a colour sample at every pixel: 4:4:4 YUV
// and RGB (a screen recording's), which a GIF keeps at full resolution.
bool hasFullChroma(AVPixelFormat format);

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

// The key for scaling the whole of `src` to dstWidth x dstHeight in
// `dstFormat` with `flags`, read with the frame's own matrix and range
// (yuvMatrixOf, isFullRange); the destination is video range until the
// caller says otherwise.
ScalerKey scalerKeyFor(const AVFrame* src, int dstWidth, int dstHeight, AVPixelFormat dstFormat,
                       int flags);

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
    // The widest block libswscale writes at once, in bytes.
    static constexpr int kRowBlock = 64;
    av::SwsPtr sws_;
    ScalerKey key_;
    std::vector<uint8_t> padded_; // rows of a picture that would be overrun
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

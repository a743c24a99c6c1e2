// HDR video (BT.2020 primaries with the PQ or HLG transfer, what phones
// record by default) turned into SDR BT.709 pictures. Read as if it were
// SDR, such video comes out washed out (PQ) or dull and oversaturated
// (HLG); its light has to be brought down to SDR's range instead.
//
// The mapping follows the usual ffmpeg chain (zscale to linear light with
// 100 nits as 1.0, BT.709 primaries, tonemap=hable without desaturation,
// BT.709 transfer), so exports agree with what that tool makes of the same
// file:
//  - PQ is decoded to absolute light; HLG to scene light, then to display
//    light on a 1000-nit display (system gamma 1.2, on each component as
//    zscale does);
//  - the primaries are converted from BT.2020 to BT.709 in linear light;
//  - the brightest component of each pixel is compressed by Hable's curve,
//    normalised to the content's peak (from the stream's content light
//    level or mastering display, else 10000 nits for PQ and 1000 for HLG),
//    and the other two are scaled with it, so hues stay;
//  - the result is clipped to SDR's range and encoded for a BT.709 display
//    (the inverse of BT.1886's gamma 2.4), as video-range YUV tagged
//    BT.709.
//
// A header of the media layer's own: it names FFmpeg's types.
#pragma once

#include "media/converters.h"

#include <vector>

namespace kavlo {

// True when the frame's transfer is PQ (SMPTE ST 2084) or HLG (ARIB STD-B67).
bool isHdr(const AVFrame* frame);

// Converts HDR frames of one stream. Not thread-safe: one per reader.
class ToneMapper {
  public:
    ToneMapper() = default;
    ToneMapper(const ToneMapper&) = delete;
    ToneMapper& operator=(const ToneMapper&) = delete;

    // `frame` (isHdr), scaled to width x height, as 8-bit video-range YUV in
    // `format` (AV_PIX_FMT_YUV420P or AV_PIX_FMT_YUV444P) tagged BT.709.
    // Throws Error when the conversion cannot be set up.
    av::FramePtr toSdr(const AVFrame* frame, int width, int height, AVPixelFormat format);

  private:
    void prepare(const AVFrame* frame, int width, int height);
    void updatePeak(const AVFrame* frame);
    void mapRow(const uint16_t* in, uint8_t* out, int width) const;

    Scaler toRgb_; // decoded YUV -> 16-bit RGB at the output size
    Scaler toYuv_; // 8-bit RGB -> BT.709 YUV
    int transfer_ = -1;
    std::vector<float> toLinear_; // 16-bit code value -> display light
    std::vector<uint8_t> encode_; // linear SDR light in [0, 1] -> 8-bit BT.709 code value
    // Content peak in units of 100 nits; kept from the last frame that said.
    double peak_ = 0;
    float curveScale_ = 1; // 1 / hable(peak)
    std::vector<uint16_t> rgb16_;
    std::vector<uint8_t> rgb8_;
};

} // namespace kavlo

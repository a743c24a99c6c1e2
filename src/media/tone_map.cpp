#include "media/tone_map.h"

#include "media/colour.h"
#include "media/converters.h"
#include "media/error.h"
#include "media/ffmpeg.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

namespace kavlo {

namespace {

// Light is counted in units of SDR's reference white, 100 nits.
constexpr double kNitsPerUnit = 100;
constexpr int kCodeValues = 65536;
constexpr int kEncodeSteps = 4096;

// SMPTE ST 2084 (PQ): code value in [0, 1] -> nits.
double pqToNits(double v) {
    constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128;
    constexpr double c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double p = std::pow(v, 1 / m2);
    return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}

// ARIB STD-B67 (HLG): code value in [0, 1] -> scene light in [0, 1].
double hlgToScene(double v) {
    constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
    return v <= 0.5 ? v * v / 3 : (std::exp((v - c) / a) + b) / 12;
}

// A 1000-nit HLG display, with system gamma 1.2 applied to each component
// as zimg (ffmpeg's zscale) does. (BT.2100 applies it to the luminance,
// which reads the same signal a little less saturated.)
constexpr double kHlgDisplayNits = 1000;
constexpr double kHlgGamma = 1.2;

// SDR display light in [0, 1] -> BT.709 code value in [0, 1]: the inverse of
// the BT.1886 display's gamma 2.4. (The camera curve of BT.709 would apply a
// camera's look to light that is already the display's.)
double bt709Encode(double l) {
    return std::pow(l, 1 / 2.4);
}

// John Hable's filmic curve, as ffmpeg's tonemap filter uses it.
float hable(float x) {
    constexpr float A = 0.15f, B = 0.50f, C = 0.10f, D = 0.20f, E = 0.02f, F = 0.30f;
    return (x * (A * x + C * B) + D * E) / (x * (A * x + B) + D * F) - E / F;
}

// BT.2020 to BT.709 primaries, in linear light.
constexpr float kToBt709[3][3] = {
    {1.6605f, -0.5876f, -0.0728f}, {-0.1246f, 1.1329f, -0.0083f}, {-0.0182f, -0.1006f, 1.1187f}};

} // namespace

bool isHdr(const AVFrame* frame) {
    return frame->color_trc == AVCOL_TRC_SMPTE2084 || frame->color_trc == AVCOL_TRC_ARIB_STD_B67;
}

void ToneMapper::updatePeak(const AVFrame* frame) {
    double nits = 0;
    if (const AVFrameSideData* sd =
            av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL))
        nits = reinterpret_cast<const AVContentLightMetadata*>(sd->data)->MaxCLL;
    if (nits <= 0) {
        if (const AVFrameSideData* sd =
                av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)) {
            const auto* m = reinterpret_cast<const AVMasteringDisplayMetadata*>(sd->data);
            if (m->has_luminance)
                nits = av_q2d(m->max_luminance);
        }
    }
    // Streams repeat their metadata at key frames only; frames between keep
    // the last peak, so that their brightness does not jump.
    if (nits > 0)
        peak_ = nits / kNitsPerUnit;
    else if (peak_ <= 0)
        peak_ = (frame->color_trc == AVCOL_TRC_SMPTE2084 ? 10000 : kHlgDisplayNits) / kNitsPerUnit;
    curveScale_ = 1 / hable(float(peak_));
}

void ToneMapper::prepare(const AVFrame* frame, int width, int height) {
    if (transfer_ != frame->color_trc) {
        transfer_ = frame->color_trc;
        toLinear_.resize(kCodeValues);
        const bool pq = transfer_ == AVCOL_TRC_SMPTE2084;
        for (int i = 0; i < kCodeValues; ++i) {
            const double v = double(i) / (kCodeValues - 1);
            toLinear_[i] =
                float(pq ? pqToNits(v) / kNitsPerUnit
                         : kHlgDisplayNits / kNitsPerUnit * std::pow(hlgToScene(v), kHlgGamma));
        }
        encode_.resize(kEncodeSteps + 1);
        for (int i = 0; i <= kEncodeSteps; ++i)
            encode_[i] = uint8_t(std::lround(
                255 * bt709Encode(double(i) * i / (double(kEncodeSteps) * kEncodeSteps))));
        peak_ = 0;
    }
    rgb16_.resize(std::size_t(width) * height * 3);
    rgb8_.resize(std::size_t(width) * height * 3);
}

void ToneMapper::mapRow(const uint16_t* in, uint8_t* out, int width) const {
    for (int x = 0; x < width; ++x, in += 3, out += 3) {
        const float c[3] = {toLinear_[in[0]], toLinear_[in[1]], toLinear_[in[2]]};
        float rgb[3];
        for (int i = 0; i < 3; ++i)
            rgb[i] = kToBt709[i][0] * c[0] + kToBt709[i][1] * c[1] + kToBt709[i][2] * c[2];
        const float signal = std::max({rgb[0], rgb[1], rgb[2], 1e-6f});
        const float scale = hable(signal) * curveScale_ / signal;
        // The table is spaced by the square root of the light, as the
        // display's curve is steepest in the dark.
        for (int i = 0; i < 3; ++i) {
            const float l = std::clamp(rgb[i] * scale, 0.0f, 1.0f);
            out[i] = encode_[std::size_t(std::sqrt(l) * kEncodeSteps + 0.5f)];
        }
    }
}

av::FramePtr ToneMapper::toSdr(const AVFrame* frame, int width, int height, AVPixelFormat format) {
    prepare(frame, width, height);
    updatePeak(frame);

    uint8_t* rgb16[4] = {reinterpret_cast<uint8_t*>(rgb16_.data())};
    int rgb16Stride[4] = {width * 6};
    ScalerKey toRgb =
        scalerKeyFor(frame, width, height, AV_PIX_FMT_RGB48, SWS_BICUBIC | SWS_ACCURATE_RND);
    toRgb.dstFullRange = true;
    toRgb_.scale(toRgb, frame->data, frame->linesize, rgb16, rgb16Stride);
    for (int y = 0; y < height; ++y)
        mapRow(rgb16_.data() + std::size_t(y) * width * 3,
               rgb8_.data() + std::size_t(y) * width * 3, width);

    av::FramePtr out = av::allocFrame();
    out->format = format;
    out->width = width;
    out->height = height;
    checkAv(av_frame_get_buffer(out.get(), 0), "allocate picture");
    const uint8_t* rgb8[4] = {rgb8_.data()};
    int rgb8Stride[4] = {width * 3};
    ScalerKey toYuv;
    toYuv.srcWidth = toYuv.dstWidth = width;
    toYuv.srcHeight = toYuv.dstHeight = height;
    toYuv.srcFormat = AV_PIX_FMT_RGB24;
    toYuv.dstFormat = format;
    toYuv.matrix = AVCOL_SPC_BT709;
    toYuv.srcFullRange = true;
    toYuv.dstFullRange = false;
    toYuv.flags = SWS_BICUBIC | SWS_ACCURATE_RND;
    toYuv_.scale(toYuv, rgb8, rgb8Stride, out->data, out->linesize);
    out->color_primaries = AVCOL_PRI_BT709;
    out->color_trc = AVCOL_TRC_BT709;
    out->colorspace = AVCOL_SPC_BT709;
    out->color_range = AVCOL_RANGE_MPEG;
    out->pts = frame->pts;
    out->best_effort_timestamp = frame->best_effort_timestamp;
    return out;
}

} // namespace kavlo

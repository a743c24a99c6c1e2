#include "playback/frame_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kavlo {

PixelSize fitPictureSize(double uprightWidth, double uprightHeight, PixelSize box) {
    const double w = std::max(uprightWidth, 1.0), h = std::max(uprightHeight, 1.0);
    double scale = 1.0;
    if (!box.isEmpty())
        scale = std::min({box.width / w, box.height / h, 1.0});
    return {std::max(1, int(std::lround(w * scale))), std::max(1, int(std::lround(h * scale)))};
}

namespace {

// Copies 32-bit pixels of a srcW x srcH picture into `dst`, turned by `t`
// (see transformPlane in media/orientation.h, which does the same for 8-bit
// planes).
void transformPixels(const DisplayTransform& t, const VideoImage& srcImage, VideoImage& dstImage) {
    const int srcW = srcImage.width(), srcH = srcImage.height();
    const std::ptrdiff_t srcStride = srcImage.stride() / 4, dstStride = dstImage.stride() / 4;
    const auto* src = reinterpret_cast<const uint32_t*>(srcImage.bits());
    auto* dst = reinterpret_cast<uint32_t*>(dstImage.mutableBits());
    int dstW, dstH;
    t.uprightSize(srcW, srcH, dstW, dstH);
    const int minX = std::min(0, t.a * srcW) + std::min(0, t.c * srcH);
    const int minY = std::min(0, t.b * srcW) + std::min(0, t.d * srcH);
    const int x0 = (t.a * (1 + 2 * minX) + t.b * (1 + 2 * minY) - 1) / 2;
    const int y0 = (t.c * (1 + 2 * minX) + t.d * (1 + 2 * minY) - 1) / 2;
    const std::ptrdiff_t stepX = t.a + t.c * srcStride;
    const std::ptrdiff_t stepY = t.b + t.d * srcStride;
    const uint32_t* rowStart = src + y0 * srcStride + x0;
    for (int y = 0; y < dstH; ++y, rowStart += stepY) {
        uint32_t* out = dst + y * dstStride;
        const uint32_t* in = rowStart;
        for (int x = 0; x < dstW; ++x, in += stepX)
            out[x] = *in;
    }
}

} // namespace

FrameConverter::FrameConverter(const VideoTrackInfo& track) : track_(track) {}

VideoImage FrameConverter::convert(const Frame& frame, PixelSize box) {
    const PixelSize size = fitPictureSize(track_.uprightWidth(), track_.uprightHeight(), box);
    const DisplayTransform& t = track_.transform;
    // Scaled size before the picture is turned upright.
    const int sw = t.swapsAxes() ? size.height : size.width;
    const int sh = t.swapsAxes() ? size.width : size.height;

    VideoImage scaled = pool_.allocate(sw, sh);
    bgra_.convert(frame, sw, sh, scaled.mutableBits(), scaled.stride());
    if (t.isIdentity())
        return scaled;

    VideoImage upright = uprightPool_.allocate(size.width, size.height);
    transformPixels(t, scaled, upright);
    return upright;
}

} // namespace kavlo

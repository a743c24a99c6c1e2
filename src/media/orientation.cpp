#include "media/orientation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace kavlo {

namespace {
int signOf(double v) {
    return (v > 0) - (v < 0);
}
} // namespace

DisplayTransform DisplayTransform::fromDisplayMatrix(const int32_t m[9]) {
    const double a = m[0] / 65536.0, b = m[1] / 65536.0;
    const double c = m[3] / 65536.0, d = m[4] / 65536.0;
    DisplayTransform t;
    if (std::abs(a) + std::abs(d) >= std::abs(b) + std::abs(c)) {
        t = {signOf(a), 0, 0, signOf(d)};
    } else {
        t = {0, signOf(b), signOf(c), 0};
    }
    // A degenerate matrix (all zeros) means "no transform".
    if (t.a * t.d - t.b * t.c == 0)
        t = {};
    return t;
}

DisplayTransform DisplayTransform::rotation(int degrees, bool mirrored) {
    // On screen (y down), a counter-clockwise turn by 90 degrees maps the
    // pixel at (x, y) to (y, -x).
    DisplayTransform t;
    switch (((degrees % 360) + 360) % 360) {
    case 90:
        t = {0, -1, 1, 0};
        break;
    case 180:
        t = {-1, 0, 0, -1};
        break;
    case 270:
        t = {0, 1, -1, 0};
        break;
    default:
        t = {};
        break;
    }
    if (mirrored) {
        // Mirror after rotating: x' -> -x'.
        t.a = -t.a;
        t.c = -t.c;
    }
    return t;
}

namespace {

template <typename Sample>
void transformSamples(const DisplayTransform& t, const uint8_t* srcBytes, int srcStrideBytes,
                      int srcW, int srcH, uint8_t* dstBytes, int dstStrideBytes) {
    const auto* src = reinterpret_cast<const Sample*>(srcBytes);
    auto* dst = reinterpret_cast<Sample*>(dstBytes);
    const std::ptrdiff_t srcStride = srcStrideBytes / std::ptrdiff_t(sizeof(Sample));
    const std::ptrdiff_t dstStride = dstStrideBytes / std::ptrdiff_t(sizeof(Sample));
    int dstW, dstH;
    t.uprightSize(srcW, srcH, dstW, dstH);
    if (t.isIdentity()) {
        for (int y = 0; y < srcH; ++y)
            std::memcpy(dst + y * dstStride, src + y * srcStride, srcW * sizeof(Sample));
        return;
    }
    // The source pixel centre (x + 0.5, y + 0.5) lands at
    // (a(x+.5) + c(y+.5) - minX, b(x+.5) + d(y+.5) - minY); walking the
    // destination row by row, the source moves by (a, c) per column and by
    // (b, d) per row because the matrix is orthogonal.
    const int minX = std::min(0, t.a * srcW) + std::min(0, t.c * srcH);
    const int minY = std::min(0, t.b * srcW) + std::min(0, t.d * srcH);
    // Twice the coordinates keeps the half-pixel arithmetic in integers.
    const int x0 = (t.a * (1 + 2 * minX) + t.b * (1 + 2 * minY) - 1) / 2;
    const int y0 = (t.c * (1 + 2 * minX) + t.d * (1 + 2 * minY) - 1) / 2;
    const std::ptrdiff_t stepX = t.a + t.c * srcStride;
    const std::ptrdiff_t stepY = t.b + t.d * srcStride;
    const Sample* rowStart = src + y0 * srcStride + x0;
    for (int Y = 0; Y < dstH; ++Y, rowStart += stepY) {
        Sample* out = dst + Y * dstStride;
        const Sample* in = rowStart;
        for (int X = 0; X < dstW; ++X, in += stepX)
            out[X] = *in;
    }
}

} // namespace

void transformPlane(const DisplayTransform& t, const uint8_t* src, int srcStride, int srcW,
                    int srcH, uint8_t* dst, int dstStride, int sampleBytes) {
    if (sampleBytes == 4)
        transformSamples<uint32_t>(t, src, srcStride, srcW, srcH, dst, dstStride);
    else
        transformSamples<uint8_t>(t, src, srcStride, srcW, srcH, dst, dstStride);
}

} // namespace kavlo

// The orientation a video track asks to be shown in: one of the eight
// rotations and mirrorings by multiples of 90 degrees, as a 2x2 matrix acting
// on pixel coordinates with y pointing down:
//   x' = a*x + c*y,  y' = b*x + d*y
// (the same convention as the track's display matrix).
#pragma once

#include <cstdint>

namespace kavlo {

struct DisplayTransform {
    int a = 1, b = 0, c = 0, d = 1;

    bool isIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1; }
    // True for 90 and 270 degrees: width and height trade places.
    bool swapsAxes() const { return a == 0; }
    bool mirrors() const { return a * d - b * c < 0; }
    bool operator==(const DisplayTransform&) const = default;

    // Size of a w x h picture after the transform.
    template <typename T> void uprightSize(T w, T h, T& outW, T& outH) const {
        outW = swapsAxes() ? h : w;
        outH = swapsAxes() ? w : h;
    }

    // Reads FFmpeg's 3x3 display matrix (16.16 fixed point, row major),
    // snapping any rotation to the nearest multiple of 90 degrees.
    static DisplayTransform fromDisplayMatrix(const int32_t matrix[9]);
    // Counter-clockwise rotation in degrees (0, 90, 180, 270) as seen on
    // screen, then an optional horizontal mirror; used by tests and tools.
    static DisplayTransform rotation(int degreesCounterClockwise, bool mirrored = false);
};

// Copies a plane of srcW x srcH samples of `sampleBytes` bytes each (1: a
// plane of 8-bit samples, 4: packed 32-bit pixels) into dst (sized by the
// transform's upright size), turning it upright. Strides are in bytes.
void transformPlane(const DisplayTransform& t, const uint8_t* src, int srcStride, int srcW,
                    int srcH, uint8_t* dst, int dstStride, int sampleBytes = 1);

} // namespace kavlo

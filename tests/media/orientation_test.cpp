#include "media/orientation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/display.h>
}

namespace kavlo {
namespace {

TEST(DisplayTransform, TurnsPicturesTheWayFfmpegDoesSnapsSkewedMatricesAndIgnoresEmptyOnes) {
    // ffmpeg turns a picture clockwise by -av_display_rotation_get() degrees
    // before showing it; a phone's portrait recording (0 1 -1 0) reads -90.
    int32_t phone[9] = {0, 1 << 16, 0, -(1 << 16), 0, 0, 0, 0, 1 << 30};
    EXPECT_EQ(av_display_rotation_get(phone), -90);
    EXPECT_EQ(DisplayTransform::fromDisplayMatrix(phone), DisplayTransform::rotation(-90));

    for (double angle : {0.0, 90.0, 180.0, -90.0, 270.0}) {
        int32_t m[9];
        av_display_rotation_set(m, angle);
        const int counterClockwise = int(std::lround(av_display_rotation_get(m)));
        EXPECT_EQ(DisplayTransform::fromDisplayMatrix(m),
                  DisplayTransform::rotation(counterClockwise))
            << angle;
        av_display_matrix_flip(m, 1, 0);
        EXPECT_TRUE(DisplayTransform::fromDisplayMatrix(m).mirrors()) << angle;
    }

    int32_t m[9] = {};
    EXPECT_TRUE(DisplayTransform::fromDisplayMatrix(m).isIdentity());
    av_display_rotation_set(m, 80); // nearly a quarter turn
    int32_t exact[9];
    av_display_rotation_set(exact, 90);
    EXPECT_EQ(DisplayTransform::fromDisplayMatrix(m), DisplayTransform::fromDisplayMatrix(exact));
    int32_t scaled[9] = {2 << 16, 0, 0, 0, 3 << 16, 0, 0, 0, 1 << 30};
    EXPECT_TRUE(DisplayTransform::fromDisplayMatrix(scaled).isIdentity());
}

// Every transform moves each pixel to where mapping its centre through the
// matrix (and back into the positive quadrant) says, for odd sizes too, in
// the renderer's 8-bit planes and the players' 32-bit pixels alike.
TEST(TransformPlane, MatchesTheMatrixForAllEightOrientations) {
    const int w = 5, h = 3;
    for (const int bytes : {1, 4}) {
        const int stride = 8 * bytes;
        // Byte i of pixel (x, y) holds 10 y + x + 50 i.
        const auto at = [bytes](std::vector<uint8_t>& plane, int stride, int x, int y) {
            return &plane[y * stride + x * bytes];
        };
        std::vector<uint8_t> src(stride * h, 0xEE);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int i = 0; i < bytes; ++i)
                    at(src, stride, x, y)[i] = uint8_t(10 * y + x + 50 * i);

        for (int turn = 0; turn < 8; ++turn) { // four quarter turns, each also mirrored
            const DisplayTransform t = DisplayTransform::rotation(turn / 2 * 90, turn % 2 == 1);
            SCOPED_TRACE(::testing::Message() << bytes << " bytes, a=" << t.a << " b=" << t.b
                                              << " c=" << t.c << " d=" << t.d);
            int dw, dh;
            t.uprightSize(w, h, dw, dh);
            const int dstStride = (dw + 3) * bytes;
            std::vector<uint8_t> dst(dstStride * dh, 0);
            transformPlane(t, src.data(), stride, w, h, dst.data(), dstStride, bytes);

            const double minX = std::min(0, t.a * w) + std::min(0, t.c * h);
            const double minY = std::min(0, t.b * w) + std::min(0, t.d * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int X = int(t.a * (x + 0.5) + t.c * (y + 0.5) - minX - 0.5);
                    const int Y = int(t.b * (x + 0.5) + t.d * (y + 0.5) - minY - 0.5);
                    ASSERT_TRUE(X >= 0 && X < dw && Y >= 0 && Y < dh);
                    EXPECT_EQ(0,
                              std::memcmp(at(dst, dstStride, X, Y), at(src, stride, x, y), bytes))
                        << x << "," << y;
                }
        }
    }
}

} // namespace
} // namespace kavlo

// The GIF writer: delays in whole hundredths with the rounding carried, never
// below two; colours kept while a viewer shows one close to them, else redrawn.
#include "render/gif_timing.h"
#include "render/gif_writer.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kavlo {
namespace {

// Hundredths of a second at which each scheduled picture appears.
std::vector<long> appearances(const std::vector<GifFrameTiming>& timings) {
    std::vector<long> times;
    long t = 0;
    for (const auto& timing : timings) {
        times.push_back(t);
        t += timing.delay;
    }
    times.push_back(t); // the cycle's end
    return times;
}

// Within half a hundredth of its exact time, whatever the rounding so far.
TEST(GifFrameTimings, EveryPictureAppearsOnTimeWhenDelaysAreLongEnough) {
    for (double rate : {10.0, 23.976, 24.0, 25.0, 29.97, 30.0, 50.0})
        for (double speed : {0.01, 0.25, 0.5, 1.0}) {
            const double exact = 100 / (rate * speed);
            const std::size_t positions = 48;
            const auto timings = gifFrameTimings(positions, 1 / (rate * speed));
            ASSERT_EQ(timings.size(), positions) << rate << " fps at " << speed;
            const auto times = appearances(timings);
            for (std::size_t i = 0; i <= positions; ++i)
                ASSERT_LE(std::abs(times[i] - double(i) * exact), 0.5 + 1e-6)
                    << rate << " fps at " << speed << ", picture " << i;
            for (const auto& timing : timings)
                ASSERT_GE(timing.delay, kMinGifDelay);
        }
}

TEST(GifFrameTimings, LeavesPicturesOutEvenlyWhenTheDelayIsTooShort) {
    // 60 fps: 1.67 hundredths a picture, 83.3 in all, room for 41.
    // 120 fps (60 fps at speed 2): 0.83 each, 41.7 in all, room for 20.
    const std::tuple<double, std::size_t, std::size_t> cases[] = {
        {60, 50, 41}, {120, 50, 20}, {60, 10, 8}};
    for (const auto& [rate, positions, kept] : cases) {
        SCOPED_TRACE(rate);
        const double exact = 100 / rate;
        const auto timings = gifFrameTimings(positions, 1 / rate);
        ASSERT_EQ(timings.size(), kept);
        const auto times = appearances(timings);
        EXPECT_LE(std::abs(times.back() - positions * exact), 0.5 + 1e-9);
        std::size_t smallestGap = positions, largestGap = 0;
        for (std::size_t k = 0; k < timings.size(); ++k) {
            EXPECT_GE(timings[k].delay, kMinGifDelay);
            // Each picture shows the position due when it appears.
            EXPECT_LE(std::abs(times[k] - timings[k].position * exact), exact + 0.5);
            if (k > 0) {
                const std::size_t gap = timings[k].position - timings[k - 1].position;
                smallestGap = std::min(smallestGap, gap);
                largestGap = std::max(largestGap, gap);
            }
        }
        EXPECT_EQ(timings.front().position, 0u);
        EXPECT_LE(largestGap - smallestGap, 1u) << "left out unevenly";
    }
}

TEST(GifFrameTimings, EdgeCases) {
    // A two-picture cycle stays a loop even when it has to run long.
    const auto two = gifFrameTimings(2, 1 / 240.0);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].delay + two[1].delay, 2 * kMinGifDelay);
    EXPECT_EQ(two[1].position, 1u);
    // Delays longer than the format holds are cut to its limit.
    EXPECT_EQ(gifFrameTimings(3, 1000.0).front().delay, kMaxGifDelay);
    EXPECT_TRUE(gifFrameTimings(0, 1 / 30.0).empty());
}

TEST(GifWriter, KeepsColoursCloseToTheOnesShownAndRedrawsTheRest) {
    auto flat = [](GifColour colour) {
        return IndexedFrame{4, 2, std::vector<uint8_t>(8, 0), {colour, {0, 0, 0}}, {}};
    };
    test::TempDir dir;
    const auto path = dir / "keep.gif";
    GifWriter writer(path, 4, 2, 18);
    writer.add(flat({100, 100, 100}), 5);
    writer.add(flat({102, 101, 100}), 5); // distance 5 from what is shown: kept
    writer.add(flat({104, 102, 100}), 5); // 20 from what is shown: redrawn
    writer.add(flat({104, 102, 103}), 5); // 9: kept
    writer.finish();

    const auto pictures = test::decodeGif(path);
    ASSERT_EQ(pictures.size(), 4u);
    const uint8_t expected[][3] = {
        {100, 100, 100}, {100, 100, 100}, {104, 102, 100}, {104, 102, 100}};
    for (std::size_t i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(pictures[i].at(3, 1)[c], expected[i][c]) << "picture " << i;
    // A kept picture stores no pixels beyond its placeholder.
    const auto gif = test::readGifStructure(path);
    ASSERT_EQ(gif.images.size(), 4u);
    EXPECT_EQ(gif.images[1].width * gif.images[1].height, 1);
    EXPECT_EQ(gif.images[2].width * gif.images[2].height, 8);

    // With no distance every change is drawn, but for the pixels the caller
    // says are unchanged; the first picture draws them all the same.
    GifWriter exact(dir / "exact.gif", 4, 2, 0);
    const PixelMask unchanged = {0b11110000};
    exact.add(flat({100, 100, 100}), 5, &unchanged);
    exact.add(flat({101, 100, 100}), 5);
    exact.add(flat({200, 10, 10}), 5, &unchanged);
    exact.finish();
    const auto drawn = test::decodeGif(dir / "exact.gif");
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[0].at(0, 1)[0], 100);
    EXPECT_EQ(drawn[1].at(0, 0)[0], 101);
    EXPECT_EQ(drawn[2].at(0, 0)[0], 200); // row 0: pixels 0 to 3
    EXPECT_EQ(drawn[2].at(0, 1)[0], 101); // row 1: pixels 4 to 7, unchanged
}

} // namespace
} // namespace kavlo

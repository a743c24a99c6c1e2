// The renderer's plan: the ping-pong sequence, the sampling rate, the size.
#include "render/frame_reader.h"
#include "render/ping_pong.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kavlo {
namespace {

TEST(PingPongIndexSequence, TrimsEdgesRepeatsTheCycleAndPlaysAtLeastOnce) {
    const std::tuple<int, int, std::vector<int>> cases[] = {
        {1, 1, {}},
        {2, 3, {0, 1, 0, 1, 0, 1}},
        {4, 1, {0, 1, 2, 3, 2, 1}},
        {5, 1, {1, 2, 3, 2}},
        {7, 2, {1, 2, 3, 4, 5, 4, 3, 2, 1, 2, 3, 4, 5, 4, 3, 2}},
        {8, 1, {2, 3, 4, 5, 4, 3}},
        {8, -4, {2, 3, 4, 5, 4, 3}},
    };
    for (const auto& [n, loops, expected] : cases)
        EXPECT_EQ(pingPongIndexSequence(n, loops), expected) << n << " x " << loops;
}

TEST(NeverShown, AgreesWithEverySequenceTheSegmentMayStillGive) {
    // Checked against the sequences themselves for every partial read.
    for (int most : {2, 3, 7, 8, 12, 30})
        for (int read = 1; read <= most; ++read)
            for (int index = 0; index < read; ++index) {
                bool shown = false;
                for (int n = read; n <= most; ++n) {
                    const auto seq = pingPongIndexSequence(n, 1);
                    shown = shown || std::find(seq.begin(), seq.end(), index) != seq.end();
                }
                EXPECT_EQ(neverShown(index, read, most), !shown)
                    << index << " of " << read << " read, at most " << most;
            }
}

TEST(RepeatingPeriod, FindsTheCycleOfAPingPongSequence) {
    EXPECT_EQ(repeatingPeriod(pingPongIndexSequence(30, 3)), 50u);
    EXPECT_EQ(repeatingPeriod(pingPongIndexSequence(9, 1)), 8u);
    // A cycle that only looks periodic inside does not count.
    EXPECT_EQ(repeatingPeriod({0, 1, 0, 1, 0}), 5u);
    EXPECT_EQ(repeatingPeriod({}), 0u);
}

TEST(SamplingFrameRate, UsesTheTrackRateAtLeastOneOrThirtyWhenItHasNone) {
    EXPECT_EQ(samplingFrameRate(-1), 30);
    EXPECT_EQ(samplingFrameRate(0.5), 1);
    EXPECT_EQ(samplingFrameRate(30000.0 / 1001), 30000.0 / 1001);
}

TEST(FitRenderSize, ShrinksToTheAreaKeepingTheShapeWithEvenSidesAndNeverEnlarges) {
    const RenderSize hd{1920, 1080};
    // The source, the area and the size fitted into it.
    const std::tuple<RenderSize, RenderSize, RenderSize> cases[] = {
        // A new 760-point window's video area at 2x and 1x.
        {hd, {1448, 814}, {1446, 814}},
        {hd, {724, 407}, {724, 406}},
        // Limited by the width, then by the height; portrait.
        {hd, {1000, 1000}, {1000, 562}},
        {hd, {3000, 541}, {962, 540}},
        {{1080, 1920}, {1448, 814}, {458, 814}},
        // Never below 2 pixels a side, never above the source; no area, no limit.
        {hd, {3, 3}, {2, 2}},
        {hd, {3840, 2160}, hd},
        {hd, {0, 0}, hd},
        {hd, {-1, 720}, hd},
    };
    for (const auto& [size, box, fitted] : cases)
        EXPECT_EQ(fitRenderSize(size, box), fitted) << box.width << "x" << box.height;
}

} // namespace
} // namespace kavlo

#include "render/ping_pong.h"
#include "render/render_video.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(PingPongIndexSequence, TrimsEdgesAndNeverRepeatsTurnFrames) {
    const struct {
        int n;
        std::vector<int> expected;
    } cases[] = {
        {2, {0, 1}},
        {3, {0, 1, 2, 1}},
        {4, {0, 1, 2, 3, 2, 1}},
        {5, {1, 2, 3, 2}},
        {7, {1, 2, 3, 4, 5, 4, 3, 2}},
        {8, {2, 3, 4, 5, 4, 3}},
        {10, {2, 3, 4, 5, 6, 7, 6, 5, 4, 3}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pingPongIndexSequence(c.n, 1), c.expected) << "n = " << c.n;
}

TEST(PingPongIndexSequence, RepeatsTheCycleAndTreatsFewerThanOneLoopAsOne) {
    EXPECT_EQ(pingPongIndexSequence(3, 3), (std::vector<int>{0, 1, 2, 1, 0, 1, 2, 1, 0, 1, 2, 1}));
    EXPECT_EQ(pingPongIndexSequence(2, 3), (std::vector<int>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(pingPongIndexSequence(10, 0), pingPongIndexSequence(10, 1));
    EXPECT_EQ(pingPongIndexSequence(10, -4), pingPongIndexSequence(10, 1));
    EXPECT_TRUE(pingPongIndexSequence(1, 1).empty());

    // A second of 30 fps: frames 2...27 and back to 3, 50 entries a cycle.
    const auto seq = pingPongIndexSequence(30, 3);
    ASSERT_EQ(seq.size(), 150u);
    EXPECT_EQ(seq[0], 2);
    EXPECT_EQ(seq[25], 27);
    EXPECT_EQ(seq[49], 3);
    EXPECT_EQ(seq[50], 2);
}

TEST(RepeatingPeriod, FindsTheCycleOfAPingPongSequence) {
    EXPECT_EQ(repeatingPeriod(pingPongIndexSequence(30, 3)), 50u);
    EXPECT_EQ(repeatingPeriod(pingPongIndexSequence(2, 4)), 2u);
    EXPECT_EQ(repeatingPeriod(pingPongIndexSequence(9, 1)), 8u);
    // A cycle that only looks periodic inside does not count.
    EXPECT_EQ(repeatingPeriod({0, 1, 0, 1, 0}), 5u);
    EXPECT_EQ(repeatingPeriod({}), 0u);
}

TEST(SamplingFrameRate, UsesTheTrackRateOrThirtyWhenItHasNone) {
    EXPECT_EQ(samplingFrameRate(0), 30);
    EXPECT_EQ(samplingFrameRate(-1), 30);
    EXPECT_EQ(samplingFrameRate(0.5), 0.5); // slow tracks keep their rate
    EXPECT_EQ(samplingFrameRate(30000.0 / 1001), 30000.0 / 1001);
}

} // namespace
} // namespace kavlo

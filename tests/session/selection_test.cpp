#include "session/selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kavlo {
namespace {

Selection loaded(double duration, double fps, double start, double end) {
    Selection s;
    s.duration = duration;
    s.fps = fps;
    s.start = start;
    s.end = end;
    return s;
}

TEST(Selection, StartStopsOneFrameBeforeTheEndAndThreeSecondsBeforeIt) {
    Selection s = loaded(10, 30, 1.0, 2.0);
    s.setStart(1.99);
    EXPECT_DOUBLE_EQ(s.start, 2.0 - 1.0 / 30);
    s.setStart(5.0);
    EXPECT_DOUBLE_EQ(s.start, 2.0 - 1.0 / 30);
    s.end = 4.0;
    s.setStart(0.0);
    EXPECT_DOUBLE_EQ(s.start, 1.0); // the 3-second cap
    s.end = 2.0;
    s.setStart(-5);
    EXPECT_DOUBLE_EQ(s.start, 0.0);
}

TEST(Selection, EndStopsAtThreeSecondsTheVideoEndAndOneFrameAfterTheStart) {
    Selection s = loaded(10, 30, 2.0, 3.0);
    s.setEnd(50);
    EXPECT_DOUBLE_EQ(s.end, 5.0);
    s.setEnd(2.0);
    EXPECT_DOUBLE_EQ(s.end, 2.0 + 1.0 / 30);
    s.start = 9.5;
    s.setEnd(50);
    EXPECT_DOUBLE_EQ(s.end, 10.0);
}

TEST(Selection, WhenBoundsCrossTheOneFrameMinimumWins) {
    // A video shorter than a frame: the upper bound for the start is below
    // the lower one; the start still never passes end minus a frame.
    Selection s = loaded(0.02, 30, 0.0, 0.02);
    s.setStart(0.01);
    EXPECT_DOUBLE_EQ(s.start, 0.0);
    s.setEnd(0.0);
    EXPECT_DOUBLE_EQ(s.end, 0.02); // the lower bound is capped at the duration
}

TEST(Selection, ShortVideosAreSelectableWhole) {
    Selection s = loaded(0.5, 30, 0.0, 0.5);
    EXPECT_DOUBLE_EQ(s.maxLoopDuration(), 0.5);
    s.setEnd(3.0);
    EXPECT_DOUBLE_EQ(s.end, 0.5);
}

TEST(Selection, MovingKeepsTheLengthInsideTheVideo) {
    Selection s = loaded(10, 30, 2.0, 3.5);
    s.moveTo(9.0);
    EXPECT_DOUBLE_EQ(s.start, 8.5);
    EXPECT_DOUBLE_EQ(s.end, 10.0);
    s.moveTo(-1.0);
    EXPECT_DOUBLE_EQ(s.start, 0.0);
    EXPECT_DOUBLE_EQ(s.end, 1.5);
    // A degenerate selection grows to one frame; a long one shrinks to 3 s.
    s = loaded(10, 30, 4.0, 4.0);
    s.moveTo(5.0);
    EXPECT_NEAR(s.end - s.start, 1.0 / 30, 1e-12);
    s = loaded(10, 30, 1.0, 6.0);
    s.moveTo(2.0);
    EXPECT_DOUBLE_EQ(s.end, 5.0);
}

TEST(Selection, FrameArithmeticRoundsHalfAwayAndClamps) {
    const Selection s = loaded(10, 30, 0, 1);
    EXPECT_EQ(s.totalFrames(), 300);
    EXPECT_EQ(s.frameIndex(0.5 / 30), 1); // exactly half a frame rounds up
    EXPECT_EQ(s.frameIndex(1.0), 30);
    EXPECT_EQ(s.frameIndex(1e9), 300); // beyond the end: the last frame number
    EXPECT_EQ(s.frameIndex(std::numeric_limits<double>::infinity()), 300);
    EXPECT_EQ(s.frameIndex(-2), 0);
    EXPECT_EQ(s.frameIndex(std::nan("")), 0);
    EXPECT_DOUBLE_EQ(s.timeForFrame(45), 1.5);
    EXPECT_DOUBLE_EQ(s.timeForFrame(1000), 10.0);
    EXPECT_DOUBLE_EQ(s.timeForFrame(-3), 0.0);

    // 0.1 s at 1 fps is still one frame; a 29.97 fps frame count rounds.
    EXPECT_EQ(loaded(0.1, 1, 0, 0.1).totalFrames(), 1);
    EXPECT_EQ(loaded(10.01, 29.97, 0, 1).totalFrames(), 300);
    // The time of the last frame is capped at the duration.
    EXPECT_DOUBLE_EQ(loaded(0.1, 1, 0, 0.1).timeForFrame(1), 0.1);
}

TEST(Selection, SessionFrameRateIsAtLeastOneAndThirtyWhenUnknown) {
    EXPECT_EQ(sessionFrameRate(0), 30);
    EXPECT_EQ(sessionFrameRate(-5), 30);
    EXPECT_EQ(sessionFrameRate(std::nan("")), 30);
    EXPECT_EQ(sessionFrameRate(0.5), 1);
    EXPECT_EQ(sessionFrameRate(59.94), 59.94);
}

} // namespace
} // namespace kavlo

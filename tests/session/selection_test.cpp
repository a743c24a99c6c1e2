// The selection's edits and frame arithmetic, and the mapping between source
// time and the looping preview's time.
#include "session/preview_mapping.h"
#include "session/selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace kavlo {
namespace {

constexpr double kFrame = 1.0 / 30;

TEST(Selection, EditsKeepOneFrameAtLeastThreeSecondsAtMostInsideTheVideo) {
    enum Edit { start, end, move };
    // The duration and the selection before, the edit, and the selection after.
    const std::tuple<const char*, double, double, double, Edit, double, double, double> cases[] = {
        {"start against the end", 10, 1, 2, start, 1.99, 2 - kFrame, 2},
        {"start 3 s before the end", 10, 1, 4, start, 0, 1, 4},
        {"start before 0", 10, 1, 2, start, -5, 0, 2},
        {"end 3 s after the start", 10, 2, 3, end, 50, 2, 5},
        {"end against the start", 10, 2, 3, end, 2, 2, 2 + kFrame},
        {"end at the video's end", 10, 9.5, 9.8, end, 50, 9.5, 10},
        {"a video shorter than a frame", 0.02, 0, 0.02, start, 0.01, 0, 0.02},
        {"...whose end stays at its duration", 0.02, 0, 0.02, end, 0, 0, 0.02},
        {"a short video is selectable whole", 0.5, 0, 0.5, end, 3, 0, 0.5},
        {"a move stops at the video's end", 10, 2, 3.5, move, 9, 8.5, 10},
        {"a move stops at 0", 10, 2, 3.5, move, -1, 0, 1.5},
        {"a move of nothing grows to a frame", 10, 4, 4, move, 5, 5, 5 + kFrame},
        {"a move of too much shrinks to 3 s", 10, 1, 6, move, 2, 2, 5},
    };
    for (const auto& [what, duration, from, to, edit, t, startAfter, endAfter] : cases) {
        SCOPED_TRACE(what);
        Selection s{.duration = duration, .fps = 30, .start = from, .end = to};
        std::invoke(edit == start ? &Selection::setStart
                    : edit == end ? &Selection::setEnd
                                  : &Selection::moveTo,
                    s, t);
        EXPECT_NEAR(s.start, startAfter, 1e-12);
        EXPECT_NEAR(s.end, endAfter, 1e-12);
    }
}

TEST(Selection, FrameArithmeticRoundsHalfAwayAndClamps) {
    const Selection s{.duration = 10, .fps = 30, .start = 0, .end = 1};
    EXPECT_EQ(s.totalFrames(), 300);
    EXPECT_EQ(s.frameIndex(0.5 / 30), 1); // exactly half a frame rounds up
    EXPECT_EQ(s.frameIndex(std::numeric_limits<double>::infinity()), 300); // the last frame
    EXPECT_EQ(s.frameIndex(-2), 0);
    EXPECT_EQ(s.frameIndex(std::nan("")), 0);
    EXPECT_DOUBLE_EQ(s.timeForFrame(1000), 10.0);
    EXPECT_DOUBLE_EQ(s.timeForFrame(-3), 0.0);

    // 0.1 s at 1 fps is still one frame, whose time is capped at the
    // duration; a 29.97 fps frame count rounds.
    const Selection tenth{.duration = 0.1, .fps = 1, .start = 0, .end = 0.1};
    EXPECT_EQ(tenth.totalFrames(), 1);
    EXPECT_DOUBLE_EQ(tenth.timeForFrame(1), 0.1);
    EXPECT_EQ((Selection{.duration = 10.01, .fps = 29.97}).totalFrames(), 300);

    // Unknown or absurd track rates.
    EXPECT_EQ(sessionFrameRate(std::nan("")), 30);
    EXPECT_EQ(sessionFrameRate(0.5), 1);
    EXPECT_EQ(sessionFrameRate(59.94), 59.94);
}

TEST(PreviewMapping, SourceTimesOutsideTheSelectionHoldAtItsFirstAndLastFrame) {
    const PreviewMapping two{.sourceFrames = 2, .trimStart = 4.0, .speed = 1.0, .fps = 30};
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 1.0), 0); // before the start
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 4.0), 0);
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 4.0 + 0.6 * kFrame), kFrame); // nearest frame
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 1e300), kFrame); // beyond: the last forward frame

    // Twice as fast: frame k lies at half the time; a speed of 0 counts as 0.01.
    const PreviewMapping fast{.sourceFrames = 31, .trimStart = 4.0, .speed = 2.0, .fps = 30};
    EXPECT_DOUBLE_EQ(previewTimeFor(fast, 4.5), 15 * kFrame / 2);
    EXPECT_DOUBLE_EQ(previewTimeFor(fast, 6.0), 30 * kFrame / 2);
    EXPECT_DOUBLE_EQ(previewTimeFor({.sourceFrames = 31, .speed = 0, .fps = 30}, 1.0), 100.0);
}

TEST(PreviewMapping, PlayheadRunsForwardThenBackOverTheForwardHalf) {
    // n = 2: the loop spans one frame interval each way.
    const PreviewMapping two{.sourceFrames = 2, .trimStart = 4.0, .speed = 1.0, .fps = 30};
    const double end = 5.0;
    EXPECT_DOUBLE_EQ(playheadFor(two, 0, end), 4.0);
    EXPECT_DOUBLE_EQ(playheadFor(two, 0.5 * kFrame, end), 4.0 + 0.5 * kFrame);   // forward
    EXPECT_DOUBLE_EQ(playheadFor(two, kFrame, end), 4.0 + kFrame);               // the turn
    EXPECT_NEAR(playheadFor(two, 1.5 * kFrame, end), 4.0 + 0.5 * kFrame, 1e-12); // backward
    EXPECT_NEAR(playheadFor(two, 2 * kFrame, end), 4.0, 1e-12); // the next cycle begins

    // 31 frames at speed 2: one second of source forward in half a second of
    // preview, then back; never past the selection's end.
    const PreviewMapping fast{.sourceFrames = 31, .trimStart = 2.0, .speed = 2.0, .fps = 30};
    EXPECT_DOUBLE_EQ(playheadFor(fast, 0.25, 3.0), 2.5);
    EXPECT_DOUBLE_EQ(playheadFor(fast, 0.5, 3.0), 3.0);
    EXPECT_DOUBLE_EQ(playheadFor(fast, 0.75, 3.0), 2.5);
    EXPECT_DOUBLE_EQ(playheadFor(fast, 0.5, 2.8), 2.8); // a selection shortened since
}

} // namespace
} // namespace kavlo

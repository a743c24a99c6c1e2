// The mapping between source time and the looping preview's time, at the
// edges of the selection, with the two-frame forward half of a session that
// has no preview yet and with a longer one, forward and backward.
#include "session/preview_mapping.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

constexpr double kFrame = 1.0 / 30;

TEST(PreviewMapping, SourceTimesOutsideTheSelectionHoldAtItsFirstAndLastFrame) {
    const PreviewMapping two{.sourceFrames = 2, .trimStart = 4.0, .speed = 1.0, .fps = 30};
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 1.0), 0); // before the start
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 4.0), 0);
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 4.0 + 0.6 * kFrame), kFrame); // nearest frame
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 9.0), kFrame); // beyond: the last forward frame
    EXPECT_DOUBLE_EQ(previewTimeFor(two, 1e300), kFrame);

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
    EXPECT_NEAR(playheadFor(two, 2.25 * kFrame, end), 4.0 + 0.25 * kFrame, 1e-12);

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

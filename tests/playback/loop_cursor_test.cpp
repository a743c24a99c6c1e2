// The looped timeline of the preview's decoding loops: where each
// repetition lies, when a loop starts the file again and when it stops.
#include "playback/loop_cursor.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

constexpr int64_t kLengthUs = 1'000'000;

TEST(LoopCursor, OnlyAPassFromTheStartThatGaveNothingEndsTheLoop) {
    LoopCursor cursor(kLengthUs);
    // Sound shorter than the picture: a seek beyond its end finds nothing,
    // yet the next repetition has sound.
    EXPECT_EQ(cursor.restart(1, 2'900'000), 900'000) << "a target past the end wraps";
    ASSERT_TRUE(cursor.wrapAtEnd());
    EXPECT_EQ(cursor.place(0), kLengthUs);
    ASSERT_TRUE(cursor.wrapAtEnd());
    EXPECT_EQ(cursor.place(100), 2 * kLengthUs + 100);
    ASSERT_TRUE(cursor.wrapAtEnd());
    // A file that gives nothing from its start would spin.
    EXPECT_FALSE(cursor.wrapAtEnd());

    LoopCursor once(0);
    once.restart(1, 0);
    once.place(0);
    EXPECT_FALSE(once.wrapAtEnd()) << "an item that does not loop";
}

} // namespace
} // namespace kavlo

// The scrub cache answers "which frame is on screen at t" only when it knows,
// and forgets far frames first.
#include "media/ffmpeg.h"
#include "playback/frame_cache.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

constexpr int64_t kFrameUs = 33'333;
// Microsecond timestamps at 30 fps: a slack of 100 us, lengths exact to 1 us.
const FrameTiming kTiming({1, 1'000'000}, 0, {30, 1});

Frame tinyFrame() {
    av::FramePtr f = av::allocFrame();
    f->format = AV_PIX_FMT_GRAY8;
    f->width = 64;
    f->height = 64; // 4 KiB, plus alignment
    EXPECT_GE(av_frame_get_buffer(f.get(), 0), 0);
    return Frame(std::move(f));
}

std::optional<int64_t> foundAt(FrameCache& cache, int64_t tUs) {
    auto hit = cache.find(tUs);
    return hit ? std::optional(hit->ptsUs) : std::nullopt;
}

size_t oneFrameBytes() {
    FrameCache probe(1 << 20);
    probe.insert(tinyFrame(), 0, kFrameUs, false);
    return probe.bytes();
}

class FrameCacheTest : public ::testing::Test {
  protected:
    void SetUp() override { cache.reset(1, kTiming); }
    FrameCache cache{1 << 20};
    const Frame f = tinyFrame();
};

TEST_F(FrameCacheTest, AFrameCoversItsIntervalAndNothingBeyondButTheTracksEnds) {
    // Frames 3 and 4 with known lengths, frame 6 alone.
    cache.insert(f, 3 * kFrameUs, kFrameUs, false);
    cache.insert(f, 4 * kFrameUs, kFrameUs, true);
    cache.insert(f, 6 * kFrameUs, kFrameUs, false);
    EXPECT_EQ(foundAt(cache, 3 * kFrameUs), 3 * kFrameUs);
    EXPECT_EQ(foundAt(cache, 4 * kFrameUs - 1000), 3 * kFrameUs);
    EXPECT_EQ(foundAt(cache, 4 * kFrameUs), 4 * kFrameUs)
        << "a boundary belongs to the later frame";
    EXPECT_EQ(foundAt(cache, 4 * kFrameUs - 30), 4 * kFrameUs) << "within timestamp rounding";
    EXPECT_EQ(foundAt(cache, 5 * kFrameUs + 10), std::nullopt) << "frame 5 was never decoded";
    EXPECT_EQ(foundAt(cache, 2 * kFrameUs), std::nullopt);
    EXPECT_EQ(foundAt(cache, 8 * kFrameUs), std::nullopt);
    // Once the track's first and last frames are known, they stand for the
    // times beyond them.
    cache.markFirst(3 * kFrameUs);
    cache.markLast(6 * kFrameUs);
    EXPECT_EQ(foundAt(cache, 0), 3 * kFrameUs);
    EXPECT_EQ(foundAt(cache, 50 * kFrameUs), 6 * kFrameUs);
}

TEST_F(FrameCacheTest, AFramesEndComesFromTheNextFrameOfTheSameRunBeforeTheContainer) {
    cache.insert(f, 0, 0, false);
    cache.insert(f, kFrameUs, 0, true);
    // After a seek (or skipped frames) the next frame says nothing about
    // where the previous one ends.
    cache.insert(f, 10 * kFrameUs, 0, false);
    EXPECT_EQ(foundAt(cache, kFrameUs / 2), 0);
    EXPECT_EQ(foundAt(cache, kFrameUs + 10), std::nullopt);
    EXPECT_EQ(foundAt(cache, 5 * kFrameUs), std::nullopt);

    // A container length that reaches past the next frame's start loses to
    // that start, even once the next frame itself has gone from the cache.
    FrameCache small(oneFrameBytes() * 3 / 2);
    small.reset(1, kTiming);
    small.insert(f, 0, 2 * kFrameUs, false);
    EXPECT_EQ(foundAt(small, kFrameUs + 10), 0) << "the length alone is believed";
    EXPECT_EQ(foundAt(small, 0), 0); // the latest request: far frames go first
    small.insert(f, kFrameUs, kFrameUs, true);
    ASSERT_EQ(small.size(), 1u) << "the later frame goes first";
    EXPECT_EQ(foundAt(small, kFrameUs + 10), std::nullopt);
    EXPECT_EQ(foundAt(small, kFrameUs - 200), 0);
}

TEST_F(FrameCacheTest, WhenFullTheFramesFarthestFromTheLatestRequestGo) {
    const size_t one = oneFrameBytes();
    FrameCache full(one * 5);
    full.reset(1, kTiming);
    for (int k = 0; k < 5; ++k)
        full.insert(f, k * kFrameUs, kFrameUs, k > 0);
    ASSERT_TRUE(foundAt(full, 0)); // the latest request is at the start
    for (int k = 5; k < 8; ++k)
        full.insert(f, k * kFrameUs, kFrameUs, true);
    EXPECT_LE(full.bytes(), one * 5);
    EXPECT_EQ(full.size(), 5u);
    EXPECT_TRUE(foundAt(full, 0));
    EXPECT_TRUE(foundAt(full, 1 * kFrameUs));
    EXPECT_FALSE(foundAt(full, 7 * kFrameUs));
}

TEST_F(FrameCacheTest, APictureReplacesItsFrameUntilTheViewChangesSize) {
    for (int k = 0; k < 3; ++k)
        cache.insert(f, k * kFrameUs, kFrameUs, k > 0);
    const size_t frames = cache.bytes();
    const VideoImage picture = VideoImage::allocate(8, 8);
    cache.setImage(kFrameUs, picture, {8, 8});
    // Ready to show without the worker: for this item and this size only.
    EXPECT_TRUE(cache.findPicture(1, kFrameUs + 10, {8, 8}));
    EXPECT_FALSE(cache.findPicture(2, kFrameUs + 10, {8, 8}));
    EXPECT_FALSE(cache.findPicture(1, kFrameUs + 10, {16, 16}));
    EXPECT_FALSE(cache.findPicture(1, 0, {8, 8})) << "a frame without a picture";
    auto hit = cache.find(kFrameUs + 10);
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->image.sameAs(picture));
    EXPECT_FALSE(hit->frame) << "the decoded frame is let go";
    EXPECT_EQ(cache.bytes(), frames / 3 * 2 + size_t(picture.stride()) * 8);
    // Idle work makes the neighbours' pictures next, nearest first.
    auto next = cache.nearestWithoutImage(kFrameUs);
    ASSERT_TRUE(next);
    EXPECT_NE(next->ptsUs, kFrameUs);
    EXPECT_FALSE(cache.nearestWithoutImage(kFrameUs / 2)) << "out of reach";

    cache.keepImagesFor({8, 8});
    EXPECT_TRUE(foundAt(cache, kFrameUs));
    // At another size the picture is useless, and nothing else is left of
    // that frame.
    cache.keepImagesFor({16, 16});
    EXPECT_FALSE(foundAt(cache, kFrameUs));
    EXPECT_TRUE(foundAt(cache, 0));
    EXPECT_EQ(cache.bytes(), frames / 3 * 2);
}

} // namespace
} // namespace kavlo

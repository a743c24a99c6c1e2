// The segment feed: pictures by index while later ones are decoded, the end of
// the segment, unwanted pictures let go, and stops from either side.
#include "media/error.h"
#include "render/render_video.h"
#include "render/segment_feed.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

class SegmentFeedTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    // Ten frames: a segment of 0.5 s would have fifteen.
    const std::filesystem::path clip_ = test::makeIndexedVideo(dir_ / "ten.mp4", {.frames = 10});
    InputFile file_{clip_.string()};
    SegmentPlan plan_ = planSegment(file_, 0.0, 0.5);
};

TEST_F(SegmentFeedTest, GivesEachPictureByIndexAndNothingPastTheEnd) {
    ASSERT_EQ(plan_.expected, 15);
    SegmentFeed feed(file_, plan_, {});
    for (int i : {3, 0, 9}) {
        const Picture* picture = feed.waitFor(i);
        ASSERT_NE(picture, nullptr) << i;
        EXPECT_EQ(test::readFrameIndex(*picture->frame()), i);
    }
    EXPECT_EQ(feed.waitFor(10), nullptr);
    EXPECT_EQ(feed.waitForEnd(), 10);
    EXPECT_EQ(feed.readCount(), 10);
}

TEST_F(SegmentFeedTest, LetsUnwantedPicturesGoAsSoonAsTheRuleSays) {
    // The first two go once five are read; the last one on arrival.
    std::vector<std::pair<int, int>> asked;
    SegmentFeed feed(file_, plan_, {}, [&](int index, int read) {
        asked.emplace_back(index, read);
        return (index < 2 && read >= 5) || index == 9;
    });
    ASSERT_EQ(feed.waitForEnd(), 10);
    for (int i = 0; i < 10; ++i) {
        const Picture* picture = feed.waitFor(i);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(bool(*picture), i >= 2 && i < 9) << i;
    }
    // Picture 0 was asked about again as reading went on, and let go at 5.
    EXPECT_NE(std::find(asked.begin(), asked.end(), std::pair{0, 5}), asked.end());
    EXPECT_EQ(std::find(asked.begin(), asked.end(), std::pair{0, 6}), asked.end());
}

TEST_F(SegmentFeedTest, AStoppedRenderOrWaitEndsTheWaitWithCancelled) {
    std::stop_source render;
    render.request_stop();
    SegmentFeed stopped(file_, plan_, render.get_token());
    EXPECT_THROW(stopped.waitForEnd(), Cancelled);

    // Only the wait is stopped: the feed reads on.
    InputFile other(clip_.string());
    SegmentFeed feed(other, plan_, {});
    std::stop_source wait;
    wait.request_stop();
    EXPECT_THROW(feed.waitFor(14, wait.get_token()), Cancelled);
    EXPECT_EQ(feed.waitForEnd(), 10);
}

} // namespace
} // namespace kavlo

// Rotation and the missing video track are checked through a Model load.
#include "session/video_probe.h"

#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(VideoProbe, SizeDurationAndRateAsTheFileStatesThem) {
    test::TempDir dir;
    const VideoProbe anamorphic = probeVideo(test::makeIndexedVideo(
        dir / "anamorphic.mp4", {.width = 160, .height = 96, .frames = 3, .filter = "setsar=2"}));
    EXPECT_EQ(std::pair(anamorphic.displayWidth, anamorphic.displayHeight), std::pair(320.0, 96.0));

    const VideoProbe brief =
        probeVideo(test::makeIndexedVideo(dir / "brief.mp4", {.rate = "40", .frames = 2}));
    EXPECT_NEAR(brief.durationSeconds, 0.05, 0.002);
    EXPECT_DOUBLE_EQ(brief.nominalFrameRate, 40);

    const VideoProbe ntsc =
        probeVideo(test::makeIndexedVideo(dir / "ntsc.mkv", {.rate = "30000/1001", .frames = 30}));
    EXPECT_NEAR(ntsc.nominalFrameRate, 29.97, 0.01);
    EXPECT_NEAR(ntsc.durationSeconds, 30 * 1001 / 30000.0, 0.01);
}

} // namespace
} // namespace kavlo

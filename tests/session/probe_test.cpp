#include "session/video_probe.h"

#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(VideoProbe, DisplaySizeTakesTheRotationAndTheSampleAspect) {
    test::TempDir dir;
    const auto landscape =
        test::makeIndexedVideo(dir / "landscape.mp4", {.width = 320, .height = 180, .frames = 3});
    test::remuxWithDisplayMatrix(landscape, dir / "portrait.mp4", 0, 1, -1, 0);
    const VideoProbe portrait = probeVideo(dir / "portrait.mp4");
    EXPECT_EQ(portrait.displayWidth, 180);
    EXPECT_EQ(portrait.displayHeight, 320);
    EXPECT_DOUBLE_EQ(portrait.aspect(), 0.5625);

    const auto wide = test::makeIndexedVideo(
        dir / "anamorphic.mp4", {.width = 160, .height = 96, .frames = 3, .filter = "setsar=2"});
    const VideoProbe anamorphic = probeVideo(wide);
    EXPECT_EQ(anamorphic.displayWidth, 320);
    EXPECT_EQ(anamorphic.displayHeight, 96);
}

TEST(VideoProbe, DurationAndFrameRateAsTheFileStatesThem) {
    test::TempDir dir;
    const VideoProbe brief =
        probeVideo(test::makeIndexedVideo(dir / "brief.mp4", {.rate = "40", .frames = 2}));
    EXPECT_NEAR(brief.durationSeconds, 0.05, 0.002);
    EXPECT_DOUBLE_EQ(brief.nominalFrameRate, 40);

    const VideoProbe ntsc =
        probeVideo(test::makeIndexedVideo(dir / "ntsc.mkv", {.rate = "30000/1001", .frames = 30}));
    EXPECT_NEAR(ntsc.nominalFrameRate, 29.97, 0.01);
    EXPECT_NEAR(ntsc.durationSeconds, 30 * 1001 / 30000.0, 0.01);
}

TEST(VideoProbe, FileWithoutVideoFailsWithCode12) {
    test::TempDir dir;
    test::runFfmpeg(
        {"-f", "lavfi", "-i", "sine=d=0.5", "-c:a", "aac", (dir / "tone.m4a").string()});
    EXPECT_EQ(test::errorText([&] { probeVideo(dir / "tone.m4a"); }),
              "Kavlo 12 No video track found.");
    EXPECT_EQ(test::errorText([&] { probeVideo(dir / "missing.mp4"); }).rfind("FFmpeg ", 0), 0u);
}

} // namespace
} // namespace kavlo

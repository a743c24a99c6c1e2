// Capping the written frame rate: pictures left out evenly, cycles kept at
// their length, and H.264 levels that phones and browsers decode.
#include "render/ping_pong.h"
#include "render/render_video.h"
#include "render/written_rate.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

// Which pictures are kept at speed 5 is checked on a render below.
TEST(CapWrittenRate, KeepsCyclesLongAndTheCapWhereLevel51RunsOut) {
    // A 240 fps slow-motion second at speed 1: 470 positions, 117 kept.
    const std::vector<int> slowMotion = pingPongIndexSequence(240, 1);
    const WrittenFrames phone = capWrittenRate(slowMotion, slowMotion.size(), 240, 60);
    EXPECT_EQ(phone.sequence.size(), 117u);
    EXPECT_NEAR(117 / phone.rate, 470 / 240.0, 1e-12);
    // Two positions never become fewer: the cycle runs slower instead.
    const WrittenFrames two = capWrittenRate({0, 1}, 2, 1200, 60);
    EXPECT_EQ(two.sequence, (std::vector<int>{0, 1}));
    EXPECT_EQ(two.sequenceRate, 60);

    // 1080p and 2160p are checked on renders below.
    EXPECT_EQ(maxWrittenFrameRate(7680, 4320), 60); // beyond level 5.1 anyway
}

TEST(RenderWrittenRate, ShowsThePositionDueAtEachWrittenTime) {
    test::TempDir dir;
    const auto source = test::makeIndexedVideo(dir / "30fps.mp4", {.keyframeInterval = 30});
    const auto output = dir / "fast.mp4";
    // 0.5 ... 1.5 s: frames 15...44, 50 positions a cycle, at speed 5.
    const RenderResult result = renderPingPongVideo(source, output, 0.5, 1.5, 5.0, 2, nullptr);
    EXPECT_EQ(result.frameRate, 30);
    const std::vector<int> cycle = pingPongIndexSequence(30, 1);
    const test::DecodedVideo video = test::decodeVideo(output);
    ASSERT_EQ(video.frames.size(), 40u);
    for (std::size_t k = 0; k < 40; ++k) {
        EXPECT_EQ(video.frames[k].index, 15 + cycle[(k % 20) * 5 / 2]) << k;
        EXPECT_NEAR(video.frames[k].time, k / 60.0, 1.0 / 60000) << k;
    }
    // Two cycles of 50 positions at 150 a second.
    EXPECT_NEAR(video.trackSeconds, 100 / 150.0, 1e-3);
}

TEST(RenderWrittenRate, LevelsPhonesDecode) {
    // 1080p at 60 fps and speed 5, 2160p at 30 fps and speed 2: 300 and 60
    // frames a second, written at 60 and 30.
    test::TempDir dir;
    struct Case {
        const char* size;
        const char* rate;
        const char* frames;
        double end, speed;
        int maxLevel;
        double maxRate;
    };
    for (const Case& c : {Case{"1920x1080", "60", "13", 0.2, 5.0, 42, 60},
                          Case{"3840x2160", "30", "5", 0.134, 2.0, 51, 30.34}}) {
        SCOPED_TRACE(c.size);
        const auto source = dir / "big.mp4";
        test::generateMedia({"-f", "lavfi", "-i",
                             std::string("testsrc2=s=") + c.size + ":r=" + c.rate, "-frames:v",
                             c.frames, "-c:v", "libx264", "-preset", "ultrafast", source.string()});
        const auto output = dir / "big-out.mp4";
        renderPingPongVideo(source, output, 0.0, c.end, c.speed, 1, nullptr);
        const test::DecodedVideo video = test::decodeVideo(output);
        EXPECT_EQ(video.codec, "h264");
        EXPECT_GT(video.level, 0);
        EXPECT_LE(video.level, c.maxLevel);
        ASSERT_GE(video.frames.size(), 2u);
        EXPECT_GE(video.frames[1].time - video.frames[0].time, 1 / c.maxRate - 1e-4);
    }
}

} // namespace
} // namespace kavlo

// Renders of index-coded sources, every output frame decoded independently
// and checked against its source frame and time; then the capped frame rate.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "render/written_rate.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>

namespace kavlo {
namespace {

using namespace std::string_literals;
using test::decodeVideo;
using test::errorText;
using test::TempDir;

RenderOptions previewFittedTo(RenderSize area) {
    RenderOptions options;
    options.video = H264Settings::forPreview();
    options.fitWithin = area;
    return options;
}

class RenderVideo : public ::testing::Test {
  protected:
    std::filesystem::path out(const std::string& name) const { return dir_ / name; }

    test::DecodedVideo expectPingPong(double start, double end, double speed, int loops,
                                      int firstFrame, int frameCount,
                                      const RenderOptions& options = {}) {
        const auto output = out("pingpong.mp4");
        const RenderResult result =
            renderPingPongVideo(source_, output, start, end, speed, loops, nullptr, {}, options);
        EXPECT_EQ(result.sourceFrameCount, frameCount);
        EXPECT_DOUBLE_EQ(result.frameRate, 30.0);

        const auto sequence = pingPongIndexSequence(frameCount, loops);
        const auto video = decodeVideo(output);
        if (video.frames.size() != sequence.size()) {
            ADD_FAILURE() << video.frames.size() << " frames, expected " << sequence.size();
            return video;
        }
        const double rate = 30.0 * std::max(speed, 0.01);
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            EXPECT_EQ(video.frames[i].index, firstFrame + sequence[i]) << "position " << i;
            EXPECT_NEAR(video.frames[i].time, i / rate, 1.0 / 60000) << "position " << i;
        }
        return video;
    }

    TempDir dir_;
    // Two seconds at 30 fps, frames 0...59, key frames a second apart so
    // segments start away from them.
    const std::filesystem::path source_ =
        test::makeIndexedVideo(dir_ / "indexed.mp4", {.keyframeInterval = 30});
};

TEST_F(RenderVideo, WritesThePingPongSequenceAtTheOutputRateAtFullOrFittedSize) {
    const std::tuple<double, double, double, int, int, int> cases[] = {
        {0.5, 1.5, 1.0, 3, 15, 30},
        {0.5, 1.5, 0.5, 1, 15, 30},
        // 0.51 lies inside frame 15's interval.
        {0.51, 0.51 + 10 / 30.0, 1.0, 1, 15, 10},
        // The last three frames. Past the end only what is there is read:
        // 30 frames, not 32, whose sequence would show only existing ones.
        {1.9, 2.0, 1.0, 2, 57, 3},
        {1.9, 2.5, 1.0, 1, 57, 3},
        {1.0, 1.0 + 32 / 30.0, 1.0, 1, 30, 30},
        // Fewer than one loop plays one; speed 0 writes 0.3 frames a second.
        {0.0, 0.2, 1.0, -3, 0, 6},
        {0.0, 0.1, 0.0, 1, 0, 3},
    };
    for (const auto& [start, end, speed, loops, firstFrame, frameCount] : cases) {
        SCOPED_TRACE(testing::Message()
                     << start << "..." << end << " at " << speed << " x" << loops);
        expectPingPong(start, end, speed, loops, firstFrame, frameCount);
    }
    // The 160x96 clip in a 100x100 area: 100x60, compressed as a preview.
    const auto video = expectPingPong(0.5, 1.5, 2.0, 2, 15, 30, previewFittedTo({100, 100}));
    ASSERT_FALSE(video.frames.empty());
    EXPECT_EQ(std::pair(video.frames[0].width, video.frames[0].height), std::pair(100, 60));
}

TEST_F(RenderVideo, ReportsProgressInOrderOnTheCallingThread) {
    const auto output = out("progress.mp4");
    std::vector<double> reports;
    const auto caller = std::this_thread::get_id();
    bool elsewhere = false;
    renderPingPongVideo(source_, output, 0.0, 1.0, 1.0, 3, [&](double p) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        reports.push_back(p);
    });
    // Reading overlaps writing; one report per written position at least.
    EXPECT_FALSE(elsewhere);
    ASSERT_GE(reports.size(), 150u);
    EXPECT_TRUE(std::adjacent_find(reports.begin(), reports.end(), std::greater_equal<>()) ==
                reports.end());
    EXPECT_GT(reports.front(), 0.0);
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);

    const auto video = decodeVideo(output);
    EXPECT_EQ(
        std::tuple(video.frames.size(), video.codec, video.pixelFormat, video.hasDisplayMatrix),
        std::tuple(150u, "h264"s, "yuv420p"s, false));
    EXPECT_TRUE(test::indexAtFront(output));
}

TEST_F(RenderVideo, RefusesToWriteOverItsOwnSource) {
    const auto copy = out("source-copy.mp4");
    std::filesystem::copy_file(source_, copy);
    const auto size = std::filesystem::file_size(copy);
    // A "Kavlo" error of its own, not a media failure, so analytics does not
    // count it as an unreadable file.
    EXPECT_TRUE(errorText([&] {
                    renderPingPongVideo(copy, copy, 0.0, 1.0, 1.0, 1, nullptr);
                }).starts_with("Kavlo 26 "));
    EXPECT_TRUE(errorText([&] {
                    renderPingPongGIF(copy, dir_.path() / "." / "source-copy.mp4", 0.0, 1.0, 1.0,
                                      nullptr);
                }).starts_with("Kavlo 26 "));
    EXPECT_EQ(std::filesystem::file_size(copy), size);
}

TEST_F(RenderVideo, BothRenderersFailBeforeWritingAnything) {
    const auto audioOnly = out("tone.m4a");
    test::generateMedia({"-f", "lavfi", "-i", "sine=frequency=440:duration=0.2", "-c:a", "aac",
                         audioOnly.string()});
    std::ofstream(out("junk.mp4")) << "definitely not a movie";
    const std::tuple<std::filesystem::path, double, const char*> cases[] = {
        {source_, 1.0, "Kavlo 4 Not enough frames in selected segment"},
        {audioOnly, 0.0, "Kavlo 1 No video track"},
        {out("junk.mp4"), 0.0, "FFmpeg "}};
    for (const auto& [source, start, error] : cases) {
        SCOPED_TRACE(error);
        const double end = start + 1 / 30.0;
        EXPECT_TRUE(errorText([&] {
                        renderPingPongVideo(source, out("o.mp4"), start, end, 1, 1, {});
                    }).starts_with(error));
        EXPECT_TRUE(errorText([&] {
                        renderPingPongGIF(source, out("o.gif"), start, end, 1, {});
                    }).starts_with(error));
        EXPECT_FALSE(std::filesystem::exists(out("o.mp4")));
        EXPECT_FALSE(std::filesystem::exists(out("o.gif")));
    }
}

TEST(RenderSources, TurnsRotatedAndMirroredSourcesUpright) {
    TempDir dir;
    const std::vector<int> expected = {1, 2, 3, 4, 3, 2};
    for (const auto& turn : test::kTurnedClips) {
        SCOPED_TRACE(turn.name);
        const auto source = test::makeTurnedVideo(dir.path(), turn, 8);
        const auto output = dir / (std::string(turn.name) + "-out.mp4");
        renderPingPongVideo(source, output, 0.0, 0.2, 1, 1, {});
        const auto video = decodeVideo(output);
        EXPECT_EQ(test::frameIndices(video), expected);
        for (const auto& frame : video.frames)
            EXPECT_EQ(std::pair(frame.width, frame.height), std::pair(96, 160));
        EXPECT_FALSE(video.hasDisplayMatrix);
    }

    const auto source = dir / (std::string(test::kTurnedClips[0].name) + ".mp4");
    // Upright 96x160 in a 100x104 area: 62x104. One uniform factor (62 / 96)
    // would make the picture 103 rows high and leave the last row black;
    // the bottom-left quarter of the pattern is white.
    renderPingPongVideo(source, dir / "fitted.mp4", 0.0, 0.2, 1, 1, {}, {},
                        previewFittedTo({100, 104}));
    const auto fitted = decodeVideo(dir / "fitted.mp4");
    ASSERT_FALSE(fitted.frames.empty());
    const auto& frame = fitted.frames[0];
    ASSERT_EQ(std::pair(frame.width, frame.height), std::pair(62, 104));
    EXPECT_GT(frame.luma[103 * 62 + 8], 128);
    EXPECT_EQ(frame.index, 1);
}

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

    EXPECT_EQ(maxWrittenFrameRate(7680, 4320), 60); // beyond level 5.1 anyway
}

TEST_F(RenderVideo, ACappedRateShowsThePositionDueAtEachWrittenTime) {
    // 0.5 ... 1.5 s: frames 15...44, 50 positions a cycle, at speed 5.
    EXPECT_EQ(renderPingPongVideo(source_, out("fast.mp4"), 0.5, 1.5, 5.0, 2, {}).frameRate, 30);
    const std::vector<int> cycle = pingPongIndexSequence(30, 1);
    const test::DecodedVideo video = decodeVideo(out("fast.mp4"));
    ASSERT_EQ(video.frames.size(), 40u);
    for (std::size_t k = 0; k < 40; ++k) {
        EXPECT_EQ(video.frames[k].index, 15 + cycle[(k % 20) * 5 / 2]) << k;
        EXPECT_NEAR(video.frames[k].time, k / 60.0, 1.0 / 60000) << k;
    }
    // Two cycles of 50 positions at 150 a second.
    EXPECT_NEAR(video.trackSeconds, 100 / 150.0, 1e-3);

    // Past the track's end: 15 frames, 45...59, not the 30 whose left-out
    // pictures were not made; 20 positions a cycle, 8 kept.
    renderPingPongVideo(source_, out("short.mp4"), 1.5, 2.5, 5.0, 1, {});
    const std::vector<int> shortCycle = pingPongIndexSequence(15, 1);
    const test::DecodedVideo shortVideo = decodeVideo(out("short.mp4"));
    ASSERT_EQ(shortVideo.frames.size(), 8u);
    for (std::size_t k = 0; k < 8; ++k)
        EXPECT_EQ(shortVideo.frames[k].index, 45 + shortCycle[k * 20 / 8]) << k;
}

TEST(RenderWrittenRate, LevelsPhonesDecode) {
    // 1080p at 60 fps and speed 5, 2160p at 30 fps and speed 2: 300 and 60
    // frames a second, written at 60 and 30.
    test::TempDir dir;
    for (const auto& [size, rate, frames, end, speed, maxLevel, maxRate] :
         {std::tuple("1920x1080", "60", "13", 0.2, 5.0, 42, 60.0),
          std::tuple("3840x2160", "30", "5", 0.134, 2.0, 51, 30.34)}) {
        SCOPED_TRACE(size);
        const auto source = dir / "big.mp4";
        test::generateMedia({"-f", "lavfi", "-i", std::string("testsrc2=s=") + size + ":r=" + rate,
                             "-frames:v", frames, "-c:v", "libx264", "-preset", "ultrafast",
                             source.string()});
        const auto output = dir / "big-out.mp4";
        renderPingPongVideo(source, output, 0.0, end, speed, 1, nullptr);
        const test::DecodedVideo video = test::decodeVideo(output);
        EXPECT_EQ(video.codec, "h264");
        EXPECT_GT(video.level, 0);
        EXPECT_LE(video.level, maxLevel);
        ASSERT_GE(video.frames.size(), 2u);
        EXPECT_GE(video.frames[1].time - video.frames[0].time, 1 / maxRate - 1e-4);
        // A preview shows the export's pictures at its times, though its
        // smaller pictures would fit a faster level.
        RenderOptions preview = previewFittedTo({480, 270});
        preview.rateAsAtFullSize = true;
        renderPingPongVideo(source, output, 0.0, end, speed, 1, nullptr, {}, preview);
        const test::DecodedVideo shown = test::decodeVideo(output);
        ASSERT_EQ(shown.frames.size(), video.frames.size());
        for (std::size_t i = 0; i < shown.frames.size(); ++i)
            EXPECT_NEAR(shown.frames[i].time, video.frames[i].time, 1e-4) << i;
    }
}

} // namespace
} // namespace kavlo

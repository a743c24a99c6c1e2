// End-to-end renders of generated, index-coded sources: every output frame is
// decoded independently and checked against the expected source frame and
// presentation time.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>

namespace kavlo {
namespace {

using test::decodeVideo;
using test::errorText;
using test::makeIndexedVideo;
using test::makeTurnedVideo;
using test::TempDir;

// The options of a preview shown in an area of `area` pixels.
RenderOptions previewFittedTo(RenderSize area) {
    RenderOptions options;
    options.video = H264Settings::forPreview();
    options.fitWithin = area;
    return options;
}

class RenderVideo : public ::testing::Test {
  protected:
    // Two seconds at 30 fps, frames 0...59, key frames a second apart so
    // segments start away from them.
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        source_ = makeIndexedVideo(dir_->path() / "indexed.mp4", {.keyframeInterval = 30});
    }
    static void TearDownTestSuite() { delete dir_; }

    std::filesystem::path out(const std::string& name) const { return dir_->path() / name; }

    // Renders and checks that the output shows source frame first + seq[i]
    // at i / rate for every position i.
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

    static TempDir* dir_;
    static std::filesystem::path source_;
};

TempDir* RenderVideo::dir_ = nullptr;
std::filesystem::path RenderVideo::source_;

TEST_F(RenderVideo, WritesThePingPongSequenceAtTheOutputRate) {
    // 0.5 s ... 1.5 s: source frames 15...44.
    expectPingPong(0.5, 1.5, 1.0, 1, 15, 30);
    expectPingPong(0.5, 1.5, 1.0, 3, 15, 30);
    expectPingPong(0.5, 1.5, 0.5, 3, 15, 30);
    expectPingPong(0.5, 1.5, 2.0, 1, 15, 30);
}

TEST_F(RenderVideo, FittedToASmallerAreaShowsTheSameFramesAtTheSameTimes) {
    // The 160x96 clip in a 100x100 area: 100x60, compressed as a preview.
    const RenderOptions preview = previewFittedTo({100, 100});
    for (int loops : {1, 2}) {
        const auto video = expectPingPong(0.5, 1.5, 2.0, loops, 15, 30, preview);
        ASSERT_FALSE(video.frames.empty());
        EXPECT_EQ(video.frames[0].width, 100);
        EXPECT_EQ(video.frames[0].height, 60);
    }
    // An area larger than the clip changes nothing.
    const auto full = expectPingPong(0.5, 1.0, 1.0, 1, 15, 15, previewFittedTo({400, 90000}));
    ASSERT_FALSE(full.frames.empty());
    EXPECT_EQ(full.frames[0].width, 160);
}

TEST_F(RenderVideo, SamplesTheFrameOnScreenBetweenFrameTimes) {
    // 0.51 lies inside frame 15's interval; ten frames from there.
    expectPingPong(0.51, 0.51 + 10 / 30.0, 1.0, 1, 15, 10);
}

TEST_F(RenderVideo, SelectionAtTheVeryEndOfTheFile) {
    // 1.9 ... 2.0 holds the last three frames.
    expectPingPong(1.9, 2.0, 1.0, 2, 57, 3);
    // A selection running past the end reads only what is there: here
    // three frames instead of 18, and 30 instead of 32, where every picture
    // the 32-frame sequence shows exists but the 30-frame one differs.
    expectPingPong(1.9, 2.5, 1.0, 1, 57, 3);
    expectPingPong(1.0, 1.0 + 32 / 30.0, 1.0, 1, 30, 30);
}

TEST_F(RenderVideo, LoopsBelowOneAndSpeedsBelowTheFloor) {
    expectPingPong(0.0, 0.2, 1.0, 0, 0, 6);
    expectPingPong(0.0, 0.2, 1.0, -3, 0, 6);
    // Speed 0 writes at 30 * 0.01 = 0.3 frames per second.
    expectPingPong(0.0, 0.1, 0.0, 1, 0, 3);
    expectPingPong(0.0, 0.1, -2.0, 1, 0, 3);
}

TEST_F(RenderVideo, ReplacesAnExistingOutputAndWritesAPlainH264Mp4) {
    const auto output = out("existing.mp4");
    std::ofstream(output) << "not a video";
    renderPingPongVideo(source_, output, 1.0, 1.2, 1.0, 2, nullptr);
    const auto video = decodeVideo(output);
    EXPECT_EQ(video.frames.size(), 12u);
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.pixelFormat, "yuv420p");
    EXPECT_FALSE(video.hasDisplayMatrix);
    EXPECT_TRUE(test::indexAtFront(output));
}

TEST_F(RenderVideo, RefusesToWriteOverItsOwnSource) {
    const auto copy = out("source-copy.mp4");
    std::filesystem::copy_file(source_, copy);
    const auto size = std::filesystem::file_size(copy);
    // A "Kavlo" error of its own, not a media failure, so analytics does not
    // count it as an unreadable file.
    const auto expectRefused = [](const std::function<void()>& render) {
        try {
            render();
            ADD_FAILURE() << "rendered over its own source";
        } catch (const Error& e) {
            EXPECT_EQ(e.domain(), kKavloDomain);
            EXPECT_EQ(e.code(), kOutputIsSource);
        }
    };
    expectRefused([&] { renderPingPongVideo(copy, copy, 0.0, 1.0, 1.0, 1, nullptr); });
    expectRefused([&] {
        renderPingPongGIF(copy, dir_->path() / "." / "source-copy.mp4", 0.0, 1.0, 1.0, nullptr);
    });
    ASSERT_TRUE(std::filesystem::exists(copy));
    EXPECT_EQ(std::filesystem::file_size(copy), size);
}

TEST_F(RenderVideo, ReportsProgressInOrderOnTheCallingThreadUpToDone) {
    std::vector<double> reports;
    const auto caller = std::this_thread::get_id();
    bool elsewhere = false;
    renderPingPongVideo(source_, out("progress.mp4"), 0.0, 1.0, 1.0, 3, [&](double p) {
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
}

TEST_F(RenderVideo, FailsWithNotEnoughFramesBeforeWritingAnything) {
    const auto output = out("short.mp4");
    for (auto [start, end] : {std::pair{5.0, 6.0}, std::pair{1.0, 1.0 + 1 / 30.0}}) {
        EXPECT_EQ(errorText([&] { renderPingPongVideo(source_, output, start, end, 1, 1, {}); }),
                  "Kavlo 4 Not enough frames in selected segment")
            << start << "..." << end;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST_F(RenderVideo, CancellationDuringTheWriteStopsIt) {
    std::stop_source stop;
    double last = 0;
    EXPECT_THROW(renderPingPongVideo(
                     source_, out("cancelled.mp4"), 0.0, 1.0, 1.0, 3,
                     [&](double p) {
                         last = p;
                         if (p > 0.5)
                             stop.request_stop();
                     },
                     stop.get_token()),
                 Cancelled);
    EXPECT_LT(last, 0.52);
}

TEST(RenderVideoSources, NoVideoTrackIsCodeOneAndAnUnreadableFileAMediaError) {
    TempDir dir;
    const auto audioOnly = dir / "tone.m4a";
    test::runFfmpeg(
        {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "aac", audioOnly.string()});
    EXPECT_EQ(errorText([&] { renderPingPongVideo(audioOnly, dir / "out.mp4", 0, 1, 1, 1, {}); }),
              "Kavlo 1 No video track");
    std::ofstream(dir / "junk.mp4") << "definitely not a movie";
    EXPECT_TRUE(errorText([&] {
                    renderPingPongVideo(dir / "junk.mp4", dir / "out.mp4", 0, 1, 1, 1, {});
                }).starts_with("FFmpeg "));
}

TEST(RenderVideoSources, TurnsRotatedAndMirroredSourcesUpright) {
    TempDir dir;
    for (const auto& turn : test::kTurnedClips) {
        SCOPED_TRACE(turn.name);
        const auto output = dir / (std::string(turn.name) + "-out.mp4");
        renderPingPongVideo(makeTurnedVideo(dir.path(), turn, 12), output, 0.0, 0.2, 1, 1, {});
        const auto video = decodeVideo(output);
        const std::vector<int> expected = {1, 2, 3, 4, 3, 2};
        ASSERT_EQ(video.frames.size(), expected.size());
        for (std::size_t i = 0; i < video.frames.size(); ++i) {
            EXPECT_EQ(video.frames[i].width, 96);
            EXPECT_EQ(video.frames[i].height, 160);
            EXPECT_EQ(video.frames[i].index, expected[i]);
        }
        EXPECT_FALSE(video.hasDisplayMatrix);
    }
}

TEST(RenderVideoSources, AFittedPictureCoversItsWholeArea) {
    // Upright 96x160 in a 100x104 area: 62x104. One uniform factor (62 / 96)
    // would make the picture 103 rows high and leave the last row black;
    // the bottom-left quarter of the pattern is white.
    TempDir dir;
    const auto source = makeTurnedVideo(dir.path(), test::kTurnedClips[0], 6);
    const auto output = dir / "fitted.mp4";
    renderPingPongVideo(source, output, 0.0, 0.2, 1, 1, {}, {}, previewFittedTo({100, 104}));
    const auto video = decodeVideo(output);
    ASSERT_FALSE(video.frames.empty());
    const auto& frame = video.frames[0];
    ASSERT_EQ(frame.width, 62);
    ASSERT_EQ(frame.height, 104);
    EXPECT_GT(frame.luma[103 * 62 + 8], 128);
    EXPECT_EQ(frame.index, 1);
}

TEST(RenderVideoSources, OddSizesRoundDownToEvenAndScaleToFit) {
    TempDir dir;
    const auto source = makeIndexedVideo(
        dir / "odd.mkv",
        {.width = 161, .height = 97, .frames = 10, .codec = "ffv1", .pixelFormat = "yuv444p"});
    const auto output = dir / "odd-out.mp4";
    renderPingPongVideo(source, output, 0.0, 0.1, 1.0, 1, nullptr);
    const auto video = decodeVideo(output);
    ASSERT_EQ(video.frames.size(), 4u);
    EXPECT_EQ(video.frames[0].width, 160);
    EXPECT_EQ(video.frames[0].height, 96);
    EXPECT_EQ(video.frames[0].index, 0);
    EXPECT_EQ(video.frames[1].index, 1);
}

} // namespace
} // namespace kavlo

// GIF, WebP and WebM renders of generated sources, read back with the
// independent readers of tests/support.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_export.h"
#include "sound_check.h"
#include "support/test_corpus.h"
#include "support/test_gif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::decodeGif;
using test::readGifStructure;
using test::TempDir;

// Frames 0...9 at 30 fps loop as 2...7 and back to 3.
const std::vector<int> kTenFrameCycle = {2, 3, 4, 5, 6, 7, 6, 5, 4, 3};

class RenderFormats : public ::testing::Test {
  protected:
    TempDir dir_;
    // One second at 30 fps, frames 0...29, 160x96.
    const fs::path source_ = test::makeIndexedVideo(dir_ / "indexed.mp4", {.frames = 30});
};

TEST_F(RenderFormats, GifTenFrameSegmentLoopsFramesTwoToSevenAndBackToThree) {
    const auto output = dir_ / "ten.gif";
    std::vector<double> reports;
    const RenderResult result = renderPingPongGIF(source_, output, 0.0, 10 / 30.0, 1.0,
                                                  [&](double p) { reports.push_back(p); });
    EXPECT_EQ(result.sourceFrameCount, 10);
    EXPECT_DOUBLE_EQ(result.frameRate, 30.0);
    // Reading overlaps palette learning; a report per picture written at least.
    ASSERT_GE(reports.size(), 10u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);

    const auto pictures = decodeGif(output);
    EXPECT_EQ(test::frameIndices(pictures), kTenFrameCycle);
    const auto gif = readGifStructure(output);
    EXPECT_EQ(std::pair(gif.loopCount, gif.complete), std::pair(0, true));
    ASSERT_EQ(gif.images.size(), 10u);
    EXPECT_EQ(gif.totalDelay(), 33); // 333 ms
    // Later pictures store only the top half, where the index stripes change.
    for (std::size_t i = 1; i < gif.images.size(); ++i)
        EXPECT_LE(gif.images[i].top + gif.images[i].height, 48) << "picture " << i;
}

TEST_F(RenderFormats, GifDelaysAddUpToTheCycleAtOtherSpeeds) {
    for (double speed : {0.5, 4.0}) {
        SCOPED_TRACE(speed);
        const auto output = dir_ / "speed.gif";
        renderPingPongGIF(source_, output, 0.0, 10 / 30.0, speed, nullptr);
        const auto gif = readGifStructure(output);
        EXPECT_NEAR(gif.totalDelay() * 10.0, 10 * 1000 / (30 * speed), 10.0);
        for (const auto& image : gif.images)
            EXPECT_GE(image.delay, 2);
        EXPECT_EQ(gif.images.size(), speed < 1 ? 10u : 4u);
    }
}

TEST_F(RenderFormats, GifCancellationStopsReadingAndWriting) {
    // While the palette is learnt and while pictures are written; nothing
    // is reported once the stop was asked for.
    for (double at : {0.2, 0.7}) {
        std::stop_source stop;
        int afterStop = 0;
        EXPECT_THROW(renderPingPongGIF(
                         source_, dir_ / "cancelled.gif", 0.0, 1.0, 1.0,
                         [&](double p) {
                             afterStop += stop.stop_requested();
                             if (p > at)
                                 stop.request_stop();
                         },
                         stop.get_token()),
                     Cancelled);
        EXPECT_EQ(afterStop, 0) << at;
    }
}

TEST(RenderFormatSources, GifFlatColoursSurvive) {
    TempDir dir;
    // Four bands 16 high, drawn losslessly.
    const int bands[][3] = {{200, 48, 32}, {32, 160, 64}, {40, 60, 200}, {128, 128, 128}};
    const auto source = dir / "flat.mp4";
    test::generateMedia({"-f", "lavfi", "-i",
                         "color=c=0xc83020:s=64x64:r=30,"
                         "drawbox=y=16:h=16:t=fill:c=0x20a040,drawbox=y=32:h=16:t=fill:c=0x283cc8,"
                         "drawbox=y=48:h=16:t=fill:c=0x808080",
                         "-frames:v", "6", "-c:v", "libx264", "-crf", "0", "-pix_fmt", "yuv420p",
                         source.string()});

    const auto output = dir / "flat.gif";
    renderPingPongGIF(source, output, 0.0, 6 / 30.0, 1.0, nullptr);
    const auto pictures = decodeGif(output);
    ASSERT_EQ(pictures.size(), 6u);
    for (const auto& picture : pictures) {
        for (int i = 0; i < 4; ++i)
            for (int x : {4, 32, 60})
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(picture.at(x, 16 * i + 8)[c], bands[i][c], 6)
                        << "band " << i << " x " << x;
        EXPECT_TRUE(picture.rgb == pictures[0].rgb) << "a still picture changed";
    }
}

TEST_F(RenderFormats, WebpShowsOneCycleInOrderAndKeepsItsLengthInMilliseconds) {
    const auto output = dir_ / "loop.webp";
    std::vector<double> reports;
    renderPingPongWebP(source_, output, 0.0, 10 / 30.0, 1.0,
                       [&](double p) { reports.push_back(p); });
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);

    const test::WebpAnimation webp = test::decodeWebp(output);
    EXPECT_EQ(std::tuple(webp.loopCount, webp.width, webp.height), std::tuple(0, 160, 96));
    EXPECT_EQ(test::frameIndices(webp.pictures), kTenFrameCycle);
    // 33.3 ms a picture, the remainder carried: each appears within half a
    // millisecond of its time and the cycle lasts 333 ms, not 330.
    int appears = 0;
    for (std::size_t k = 0; k < webp.durationsMs.size(); ++k) {
        EXPECT_LE(std::abs(appears - k * 1000.0 / 30), 0.5) << "picture " << k;
        appears += webp.durationsMs[k];
    }
    EXPECT_EQ(appears, 333);

    // At speed 4 a picture would last 8.3 ms, which browsers show as 100: pictures
    // are left out evenly instead, in order, the cycle's length kept.
    renderPingPongWebP(source_, output, 0.0, 10 / 30.0, 4.0, nullptr);
    const test::WebpAnimation fast = test::decodeWebp(output);
    EXPECT_EQ(fast.pictures.size(), 7u);
    EXPECT_TRUE(test::inCycleOrder(test::frameIndices(fast.pictures), kTenFrameCycle));
    int total = 0;
    for (int ms : fast.durationsMs) {
        EXPECT_GE(ms, 11);
        total += ms;
    }
    EXPECT_EQ(total, 83);
}

TEST(RenderFormatSources, WebmShowsEveryPictureOnTimeAndItsSoundFollows) {
    TempDir dir;
    // 44100 Hz, so the sound is resampled on its way to Opus; the left
    // channel's loudness tells the source time, the right channel's chord
    // the exact sample.
    const fs::path source = test::makeIndexedVideo(
        dir / "sound.mp4", {.audio = std::string("(0.6*t-0.2)*sin(2*PI*1000*t)|") + test::kChord,
                            .sampleRate = 44100});
    const auto output = dir / "loop.webm";
    renderPingPongWebM(source, output, 0.5, 1.5, 1.0, 2, nullptr);

    // Frames 15...44 of the source, two cycles.
    const std::vector<int> sequence = pingPongIndexSequence(30, 2);
    const test::DecodedVideo video = test::decodeVideo(output);
    EXPECT_EQ(video.codec, "vp9");
    ASSERT_EQ(video.frames.size(), sequence.size());
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        EXPECT_EQ(video.frames[i].index, 15 + sequence[i]) << "position " << i;
        EXPECT_NEAR(video.frames[i].time - video.frames[0].time, i / 30.0, 0.0005)
            << "position " << i;
    }
    EXPECT_NEAR(video.trackSeconds, sequence.size() / 30.0, 0.001);

    const test::RenderedTimeline timeline{0.5, 30.0, 1.0, sequence};
    test::expectSoundFollowsPicture(source, output, 0, timeline, 0.02, 1e9, 0.001);
    const test::DecodedAudio original = test::decodeAudio(source);
    const test::DecodedAudio audio = test::decodeAudio(output);
    EXPECT_EQ(std::pair(audio.codec, audio.channels), std::pair(std::string("opus"), 2));
    for (double at : {0.0, 1.0, 2.0}) {
        const test::SoundAlignment alignment =
            test::soundAlignmentAt(original, audio, 1, timeline, at, 64);
        EXPECT_LE(std::abs(alignment.lag), 2) << "at " << at << " s";
        EXPECT_GT(alignment.correlation, 0.9) << "at " << at << " s";
    }

    ExportSettings silent{.format = ExportFormat::webm};
    silent.webm.sound = false;
    renderExport(source, output, 0.5, 0.7, 1.0, silent, nullptr);
    EXPECT_EQ(test::decodeVideo(output).frames.size(), pingPongIndexSequence(6, 1).size());
    EXPECT_THROW(test::decodeAudio(output), std::runtime_error);
}

TEST_F(RenderFormats, CommandLineTakesTheFormatFromItsOptionOrTheExtension) {
    const std::string tool = KAVLO_RENDER_TOOL;
    auto run = [&](const std::string& arguments) {
        const fs::path errors = dir_ / "errors.txt";
        const int status = std::system((tool + " " + source_.string() + " --start 0 --end 0.3 " +
                                        arguments + " 2>" + errors.string())
                                           .c_str());
        return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(errors)};
    };
    const auto [badStatus, badText] = run("-o " + (dir_ / "x.mp4").string() + " --format webx");
    EXPECT_EQ(badStatus, 2);
    EXPECT_EQ(badText, "kavlo-render: --format must be mp4, gif, webp or webm, not 'webx'\n");

    // A WebP by its extension; a WebM by the option, whatever the name says.
    EXPECT_EQ(run("-o " + (dir_ / "a.WEBP").string()).first, 0);
    EXPECT_EQ(test::readFile(dir_ / "a.WEBP").substr(8, 4), "WEBP");
    EXPECT_EQ(run("-o " + (dir_ / "b.mp4").string() + " --format webm").first, 0);
    EXPECT_EQ(test::decodeVideo(dir_ / "b.mp4").codec, "vp9");
}

} // namespace
} // namespace kavlo

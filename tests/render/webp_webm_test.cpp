// End-to-end WebP and WebM renders of index-coded sources, read back with
// libwebp's animation decoder and libavformat/libavcodec: the pictures in
// order, when each is shown, and for the WebM the sound that follows them.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_export.h"
#include "sound_check.h"
#include "support/test_corpus.h"
#include "support/test_webp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::vector<int> indicesOf(const std::vector<test::RgbPicture>& pictures) {
    std::vector<int> indices;
    for (const auto& picture : pictures)
        indices.push_back(picture.frameIndex());
    return indices;
}

// Whether `shown` keeps the order of `cycle`, leaving positions out.
bool inCycleOrder(const std::vector<int>& shown, const std::vector<int>& cycle) {
    std::size_t position = 0;
    for (int index : shown) {
        while (position < cycle.size() && cycle[position] != index)
            ++position;
        if (position == cycle.size())
            return false;
    }
    return true;
}

class NewFormats : public ::testing::Test {
  protected:
    TempDir dir_;
    // One second at 30 fps, frames 0...29, 160x96.
    const fs::path source_ = test::makeIndexedVideo(dir_ / "indexed.mp4", {.frames = 30});
};

TEST_F(NewFormats, WebpShowsOneCycleInOrderAndKeepsItsLengthInMilliseconds) {
    const std::vector<int> cycle = {2, 3, 4, 5, 6, 7, 6, 5, 4, 3};
    const auto output = dir_ / "loop.webp";
    std::vector<double> reports;
    renderPingPongWebP(source_, output, 0.0, 10 / 30.0, 1.0,
                       [&](double p) { reports.push_back(p); });
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);

    const test::WebpAnimation webp = test::decodeWebp(output);
    EXPECT_EQ(webp.loopCount, 0);
    EXPECT_EQ(webp.width, 160);
    EXPECT_EQ(webp.height, 96);
    EXPECT_EQ(indicesOf(webp.pictures), cycle);
    // 33.3 ms a picture, the remainder carried: each appears within half a
    // millisecond of its time and the cycle lasts 333 ms, not 330.
    int appears = 0;
    for (std::size_t k = 0; k < webp.durationsMs.size(); ++k) {
        EXPECT_LE(std::abs(appears - k * 1000.0 / 30), 0.5) << "picture " << k;
        appears += webp.durationsMs[k];
    }
    EXPECT_EQ(appears, 333);

    // At speed 4 a picture would last 8.3 ms, which browsers show as 100:
    // pictures are left out evenly instead, in order, the cycle's length
    // kept.
    renderPingPongWebP(source_, output, 0.0, 10 / 30.0, 4.0, nullptr);
    const test::WebpAnimation fast = test::decodeWebp(output);
    EXPECT_EQ(fast.pictures.size(), 7u);
    EXPECT_TRUE(inCycleOrder(indicesOf(fast.pictures), cycle));
    int total = 0;
    for (int ms : fast.durationsMs) {
        EXPECT_GE(ms, 11);
        total += ms;
    }
    EXPECT_EQ(total, 83);
}

TEST(NewFormatsWithSound, WebmShowsEveryPictureOnTimeAndItsSoundFollows) {
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
    EXPECT_EQ(audio.codec, "opus");
    EXPECT_EQ(audio.channels, 2);
    for (double at : {0.0, 1.0, 2.0}) {
        const test::SoundAlignment alignment =
            test::soundAlignmentAt(original, audio, 1, timeline, at, 64);
        EXPECT_LE(std::abs(alignment.lag), 2) << "at " << at << " s";
        EXPECT_GT(alignment.correlation, 0.9) << "at " << at << " s";
    }

    // Without its sound, when the choice leaves it out.
    ExportSettings silent{.format = ExportFormat::webm};
    silent.webm.sound = false;
    renderExport(source, output, 0.5, 0.7, 1.0, silent, nullptr);
    EXPECT_EQ(test::decodeVideo(output).frames.size(), pingPongIndexSequence(6, 1).size());
    EXPECT_THROW(test::decodeAudio(output), std::runtime_error);
}

TEST_F(NewFormats, CancellingLeavesTheDestinationAsItWas) {
    for (ExportFormat format : {ExportFormat::webp, ExportFormat::webm}) {
        SCOPED_TRACE(std::string(exportFormatName(format)));
        const auto output = dir_ / ("old." + std::string(exportFormatName(format)));
        std::ofstream(output) << "old";
        std::stop_source stop;
        EXPECT_THROW(renderExport(
                         source_, output, 0.0, 1.0, 1.0, {.format = format},
                         [&](double p) {
                             if (p > 0.6)
                                 stop.request_stop();
                         },
                         stop.get_token()),
                     Cancelled);
        EXPECT_EQ(test::readFile(output), "old");
        EXPECT_EQ(test::fileNamesIn(dir_.path()).size(), 2u) << "a partial file was left";
        fs::remove(output);
    }
}

TEST_F(NewFormats, CommandLineTakesTheFormatFromItsOptionOrTheExtension) {
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

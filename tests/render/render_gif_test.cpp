// End-to-end GIF renders of generated sources, checked with the independent
// readers of tests/support: the composed pictures through libavformat's gif
// demuxer and libavcodec's decoder, the delays and the loop extension by
// walking the file's blocks.
#include "media/error.h"
#include "render/render_gif.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

using test::decodeGif;
using test::readGifStructure;
using test::TempDir;

std::vector<int> indicesOf(const std::vector<test::RgbPicture>& pictures) {
    std::vector<int> indices;
    for (const auto& picture : pictures)
        indices.push_back(picture.frameIndex());
    return indices;
}

int delaySum(const test::GifStructure& gif) {
    int sum = 0;
    for (const auto& image : gif.images)
        sum += image.delay;
    return sum;
}

class RenderGif : public ::testing::Test {
  protected:
    std::filesystem::path out(const std::string& name) const { return dir_ / name; }

    TempDir dir_;
    // One second at 30 fps, frames 0...29, 160x96.
    const std::filesystem::path source_ =
        test::makeIndexedVideo(dir_ / "indexed.mp4", {.frames = 30});
};

TEST_F(RenderGif, TenFrameSegmentLoopsFramesTwoToSevenAndBackToThree) {
    const auto output = out("ten.gif");
    std::ofstream(output) << "not a gif";
    std::vector<double> reports;
    const RenderResult result = renderPingPongGIF(source_, output, 0.0, 10 / 30.0, 1.0,
                                                  [&](double p) { reports.push_back(p); });
    EXPECT_EQ(result.sourceFrameCount, 10);
    EXPECT_DOUBLE_EQ(result.frameRate, 30.0);
    // Reading overlaps palette learning; a report per picture written at
    // least.
    ASSERT_GE(reports.size(), 10u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);

    const auto pictures = decodeGif(output);
    EXPECT_EQ(indicesOf(pictures), (std::vector<int>{2, 3, 4, 5, 6, 7, 6, 5, 4, 3}));
    for (const auto& picture : pictures) {
        EXPECT_EQ(picture.width, 160);
        EXPECT_EQ(picture.height, 96);
    }
    const auto gif = readGifStructure(output);
    EXPECT_EQ(gif.version, "GIF89a");
    EXPECT_EQ(gif.loopCount, 0);
    EXPECT_TRUE(gif.complete);
    ASSERT_EQ(gif.images.size(), 10u);
    EXPECT_EQ(delaySum(gif), 33); // 333 ms
    // Later pictures store only the top half, where the index stripes change.
    for (std::size_t i = 1; i < gif.images.size(); ++i)
        EXPECT_LE(gif.images[i].top + gif.images[i].height, 48) << "picture " << i;
}

TEST_F(RenderGif, DelaysAddUpToTheCycleAtOtherSpeeds) {
    const std::vector<int> cycle = {2, 3, 4, 5, 6, 7, 6, 5, 4, 3};
    for (double speed : {0.5, 4.0}) {
        SCOPED_TRACE(speed);
        const auto output = out("speed.gif");
        renderPingPongGIF(source_, output, 0.0, 10 / 30.0, speed, nullptr);
        const auto gif = readGifStructure(output);
        EXPECT_NEAR(delaySum(gif) * 10.0, 10 * 1000 / (30 * speed), 10.0);
        for (const auto& image : gif.images)
            EXPECT_GE(image.delay, 2);

        // Pictures left out to keep delays at two hundredths or more are
        // left out evenly, and the rest keep their order.
        const auto shown = indicesOf(decodeGif(output));
        ASSERT_EQ(shown.size(), gif.images.size());
        ASSERT_EQ(shown.size(), speed < 1 ? 10u : 4u);
        std::size_t position = 0;
        for (int index : shown) {
            while (position < cycle.size() && cycle[position] != index)
                ++position;
            ASSERT_LT(position, cycle.size()) << "picture out of order: " << index;
        }
    }
}

TEST_F(RenderGif, CancellationStopsReadingAndWriting) {
    // While the palette is learnt and while pictures are written; nothing
    // is reported once the stop was asked for.
    for (double at : {0.2, 0.7}) {
        std::stop_source stop;
        int afterStop = 0;
        EXPECT_THROW(renderPingPongGIF(
                         source_, out("cancelled.gif"), 0.0, 1.0, 1.0,
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

TEST(RenderGifSources, FlatColoursSurvive) {
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

} // namespace
} // namespace kavlo

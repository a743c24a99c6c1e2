// Colour on the way to the MP4 and the GIF: HDR made SDR as ffmpeg's tone
// mapping makes it, SDR untouched, and full-chroma sources (4:4:4, RGB)
// keeping one-pixel strokes sharp in the GIF.
#include "media/colour.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "support/rendered_frames.h"
#include "support/test_gif.h"
#include "support/test_hdr.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 6;
const char* const kSource = "testsrc2=s=320x180:r=30";

// What the renderer reads of the clip's first frames, as RGB.
std::vector<test::RgbPicture> readPictures(const fs::path& clip) {
    BgraConverter converter;
    std::vector<test::RgbPicture> out;
    for (const Picture& picture : test::readRenderedSegment(clip, 0.0, kFrames / 30.0, 30)) {
        std::vector<uint8_t> bgra(std::size_t(picture.width()) * picture.height() * 4);
        converter.convert(picture, bgra.data(), picture.width() * 4);
        out.push_back(test::RgbPicture::fromBgra(bgra.data(), picture.width(), picture.height()));
    }
    return out;
}

class HdrSources : public ::testing::TestWithParam<test::HdrTransfer> {};

TEST_P(HdrSources, ComeOutInSdrAsFfmpegTonemapsThem) {
    test::TempDir dir;
    const fs::path clip = test::makeHdrClip(dir / "hdr.mov", GetParam(), kSource, kFrames);
    const auto reference = test::toneMappedByFfmpeg(clip, kFrames, dir / "reference.rgb");
    const auto pictures = readPictures(clip);
    ASSERT_EQ(pictures.size(), std::size_t(kFrames));
    ASSERT_EQ(reference.size(), std::size_t(kFrames));
    // Read as SDR, the same clip is off by 30 to 50 levels on average.
    for (int i = 0; i < kFrames; ++i)
        EXPECT_LT(test::meanAbsoluteDifference(pictures[i], reference[i]), 4.0) << "frame " << i;

    renderPingPongVideo(clip, dir / "out.mp4", 0.0, kFrames / 30.0, 1, 1, nullptr);
    const test::DecodedVideo video = test::decodeVideo(dir / "out.mp4");
    EXPECT_EQ((std::vector{video.primaries, video.transfer, video.matrix}),
              std::vector<std::string>(3, "bt709"));

    // The GIF shows the same colours, give or take its palette.
    renderPingPongGIF(clip, dir / "out.gif", 0.0, kFrames / 30.0, 1, nullptr);
    const auto gif = test::decodeGif(dir / "out.gif");
    ASSERT_FALSE(gif.empty());
    // The cycle of six frames starts with the second (edges trimmed).
    EXPECT_LT(test::meanAbsoluteDifference(gif.front(), reference[1]), 8.0);
}

INSTANTIATE_TEST_SUITE_P(Transfers, HdrSources,
                         ::testing::Values(test::HdrTransfer::pq, test::HdrTransfer::hlg),
                         [](const auto& info) {
                             return info.param == test::HdrTransfer::pq ? "PQ" : "HLG";
                         });

TEST(SdrSources, PassAsTheyWere) {
    test::TempDir dir;
    const fs::path clip = dir / "sdr.mp4";
    test::generateMedia({"-f", "lavfi", "-i", kSource, "-frames:v", std::to_string(kFrames), "-vf",
                         "setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709", "-c:v",
                         "libx264", "-crf", "8", "-pix_fmt", "yuv420p", clip.string()});
    test::runFfmpeg({"-i", clip.string(), "-vf",
                     "scale=in_color_matrix=bt709:in_range=tv,format=rgb24", "-f", "rawvideo",
                     (dir / "plain.rgb").string()});
    const auto pictures = readPictures(clip);
    ASSERT_EQ(pictures.size(), std::size_t(kFrames));
    std::ifstream in(dir / "plain.rgb", std::ios::binary);
    for (const auto& picture : pictures) {
        test::RgbPicture plain{picture.width, picture.height,
                               std::vector<uint8_t>(picture.rgb.size())};
        in.read(reinterpret_cast<char*>(plain.rgb.data()), std::streamsize(plain.rgb.size()));
        ASSERT_TRUE(in);
        EXPECT_LT(test::meanAbsoluteDifference(picture, plain), 1.5);
    }
}

// White with one-pixel red lines at x = 20, 41, 62, ... and y = 12, 25, ...,
// stored without loss.
fs::path makeStrokes(const fs::path& path, const char* codec, const char* pixelFormat) {
    // Drawn in the file's own format, so that no step subsamples the colour.
    test::generateMedia({"-f", "lavfi", "-i",
                         std::string("color=c=white:s=128x64:r=30,format=") + pixelFormat +
                             ",drawgrid=x=-1:y=-1:w=21:h=13:t=1:c=red@1",
                         "-frames:v", "6", "-c:v", codec, "-pix_fmt", pixelFormat, "-qp", "0",
                         path.string()});
    return path;
}

TEST(FullChroma, OnePixelRedStrokesStayRedInTheGif) {
    auto isRed = [](const uint8_t* p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; };
    auto isWhite = [](const uint8_t* p) { return p[0] > 220 && p[1] > 220 && p[2] > 220; };
    test::TempDir dir;
    for (const auto& [name, codec, format] :
         {std::tuple{"yuv444.mp4", "libx264", "yuv444p"}, std::tuple{"rgb.mkv", "ffv1", "bgr0"}}) {
        SCOPED_TRACE(name);
        const fs::path source = makeStrokes(dir / name, codec, format);
        renderPingPongGIF(source, dir / "out.gif", 0.0, 0.2, 1.0, nullptr);
        const auto pictures = test::decodeGif(dir / "out.gif");
        ASSERT_FALSE(pictures.empty());
        const test::RgbPicture& p = pictures.front();
        for (int x : {20, 41, 62, 83, 104}) {
            EXPECT_TRUE(isRed(p.at(x, 6))) << "stroke at x " << x;
            EXPECT_TRUE(isWhite(p.at(x - 1, 6)) && isWhite(p.at(x + 1, 6))) << "beside x " << x;
        }
        for (int y : {12, 25, 38, 51}) {
            EXPECT_TRUE(isRed(p.at(10, y))) << "stroke at y " << y;
            EXPECT_TRUE(isWhite(p.at(10, y - 1)) && isWhite(p.at(10, y + 1))) << "beside y " << y;
        }
    }
}

TEST(FullChroma, TheMp4StaysFourTwoZeroAndRgbSourcesAreTaggedAsYuv) {
    test::TempDir dir;
    // H.264 in RGB says so in its stream ("gbr").
    const fs::path source = makeStrokes(dir / "rgb.mp4", "libx264rgb", "bgr0");
    ASSERT_EQ(test::decodeVideo(source).matrix, "gbr");
    renderPingPongVideo(source, dir / "out.mp4", 0.0, 0.2, 1.0, 1, nullptr);
    const test::DecodedVideo video = test::decodeVideo(dir / "out.mp4");
    EXPECT_EQ(video.pixelFormat, "yuv420p");
    // YUV made from RGB says which matrix made it, not "gbr".
    EXPECT_EQ(video.matrix, "bt709");
}

} // namespace
} // namespace kavlo

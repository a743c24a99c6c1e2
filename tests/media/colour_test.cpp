// Colour: an untagged source reads the same whether a player converts its
// frames or the renderer shapes them first, and HDR frames reach the screen
// (scrub picture, thumbnails) tone-mapped as the export maps them.
#include "media/colour.h"
#include "media/converters.h"
#include "media/input_file.h"
#include "media/segment_reader.h"
#include "support/test_hdr.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace kavlo {
namespace {

using Bgra = std::array<int, 3>;

Bgra centre(BgraConverter& converter, const AVFrame* frame, int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    converter.convert(frame, width, height, pixels.data(), width * 4);
    const uint8_t* p = &pixels[(size_t(height / 2) * width + width / 2) * 4];
    return {p[0], p[1], p[2]};
}

TEST(Colour, AnUntaggedSourceKeepsItsMatrixWhenTheRenderTurnsItPastHdHeight) {
    // 720 x 64 orange, untagged: read as BT.601 for its 64 lines. Turned
    // upright it is 720 lines high, which alone would say BT.709.
    test::TempDir dir;
    test::generateMedia({"-f", "lavfi", "-i", "color=c=0xE07020:s=720x64:r=30:d=0.2", "-c:v",
                         "libx264", "-pix_fmt", "yuv420p", "-preset", "ultrafast",
                         (dir / "coded.mp4").string()});
    test::remuxWithDisplayMatrix(dir / "coded.mp4", dir / "turned.mp4", 0, 1, -1, 0);

    BgraConverter converter;
    Bgra player{};
    test::decodeTrack(dir / "turned.mp4", false,
                      [&](const AVStream&, const AVCodecContext&, const AVFrame& frame) {
                          ASSERT_EQ(frame.colorspace, AVCOL_SPC_UNSPECIFIED);
                          player = centre(converter, &frame, frame.width, frame.height);
                      });
    EXPECT_GT(player[2], 200) << "orange, read as BT.601";

    InputFile file((dir / "turned.mp4").string());
    VideoSegmentReader reader(file, {0.0, 0.1, 30, 64, 720});
    const auto picture = reader.next();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->height(), 720);
    const Bgra rendered = centre(converter, picture->frame(), 64, 720);
    for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(rendered[c] - player[c]), 3) << "channel " << c;
}

// libswscale writes rows in whole blocks of pixels; a tight buffer of a
// picture whose rows are not whole blocks must not be written past its end
// (a file whose pixel aspect makes the picture 2 pixels wide did that).
TEST(Colour, ANarrowPictureStaysInsideItsBuffer) {
    const av::FramePtr frame = av::allocFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 32;
    frame->height = 24;
    ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    for (int p = 0; p < 3; ++p)
        std::fill_n(frame->data[p], frame->linesize[p] * (p ? 12 : 24), uint8_t(p ? 128 : 200));
    for (auto quality : {BgraConverter::Quality::fast, BgraConverter::Quality::exact}) {
        BgraConverter converter(quality);
        for (int width : {2, 6, 30, 32}) {
            std::vector<uint8_t> pixels(std::size_t(width) * 24 * 4 + 64, 0xAB);
            converter.convert(frame.get(), width, 24, pixels.data(), width * 4);
            EXPECT_EQ(std::count(pixels.end() - 64, pixels.end(), 0xAB), 64) << width;
            EXPECT_EQ(pixels[std::size_t(width) * 23 * 4 + 3], 255) << width;
        }
    }
}

class HdrOnScreen : public ::testing::TestWithParam<test::HdrTransfer> {};

TEST_P(HdrOnScreen, LooksAsFfmpegTonemapsIt) {
    test::TempDir dir;
    const auto clip = test::makeHdrClip(dir / "hdr.mov", GetParam(), "testsrc2=s=320x180:r=30", 1);
    const auto reference = test::toneMappedByFfmpeg(clip, 1, dir / "reference.rgb");
    ASSERT_EQ(reference.size(), 1u);

    BgraConverter converter(BgraConverter::Quality::fast);
    test::RgbPicture shown;
    test::decodeTrack(clip, false, [&](const AVStream&, const AVCodecContext&, const AVFrame& f) {
        if (!shown.rgb.empty())
            return;
        std::vector<uint8_t> bgra(320 * 180 * 4);
        converter.convert(&f, 320, 180, bgra.data(), 320 * 4);
        shown = test::RgbPicture::fromBgra(bgra.data(), 320, 180);
    });
    // Read as SDR the frame is off by 30 to 50 levels on average.
    EXPECT_LT(test::meanAbsoluteDifference(shown, reference[0]), 4.0);
}

INSTANTIATE_TEST_SUITE_P(Transfers, HdrOnScreen,
                         ::testing::Values(test::HdrTransfer::pq, test::HdrTransfer::hlg));

} // namespace
} // namespace kavlo

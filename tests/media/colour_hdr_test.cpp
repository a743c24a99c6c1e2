// HDR frames reach the screen (scrub picture, thumbnails) tone-mapped as the
// export maps them, not read as SDR.
#include "media/colour.h"
#include "media/converters.h"
#include "support/test_hdr.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

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

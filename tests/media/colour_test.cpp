// Colour: an untagged source reads the same whether a player converts its
// frames or the renderer shapes them first.
#include "media/colour.h"
#include "media/converters.h"
#include "media/input_file.h"
#include "media/segment_reader.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <vector>

namespace kavlo {
namespace {

using test::TempDir;

using Bgra = std::array<int, 3>;

Bgra centre(BgraConverter& converter, const AVFrame* frame, int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    converter.convert(frame, width, height, pixels.data(), width * 4);
    const uint8_t* p = &pixels[(size_t(height / 2) * width + width / 2) * 4];
    return {p[0], p[1], p[2]};
}

void expectNear(const Bgra& a, const Bgra& b) {
    for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(a[c] - b[c]), 3) << "channel " << c;
}

TEST(Colour, AnUntaggedSourceKeepsItsMatrixWhenTheRenderTurnsItPastHdHeight) {
    // 720 x 64 orange, untagged: read as BT.601 for its 64 lines. Turned
    // upright it is 720 lines high, which alone would say BT.709.
    TempDir dir;
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
    expectNear(centre(converter, picture->frame(), 64, 720), player);
}

} // namespace
} // namespace kavlo

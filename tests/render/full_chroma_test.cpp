// Sources with a colour sample at every pixel (4:4:4, RGB: screen
// recordings) keep it on the way to the GIF's palette: one-pixel red
// strokes on white stay red, not a pink smear two pixels wide.
#include "render/render_gif.h"
#include "render/render_video.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

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

bool isRed(const uint8_t* p) {
    return p[0] > 200 && p[1] < 60 && p[2] < 60;
}
bool isWhite(const uint8_t* p) {
    return p[0] > 220 && p[1] > 220 && p[2] > 220;
}

TEST(FullChroma, OnePixelRedStrokesStayRedInTheGif) {
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

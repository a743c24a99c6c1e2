// The writer keeps what a viewer already shows when the new colour is close
// to it, and redraws as soon as it is not: pictures never drift further
// than that from what was asked for.
#include "render/gif_writer.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

IndexedFrame flat(GifColour colour) {
    return {4, 2, std::vector<uint8_t>(8, 0), {colour, {0, 0, 0}}};
}

TEST(GifWriter, KeepsColoursCloseToTheOnesShownAndRedrawsTheRest) {
    test::TempDir dir;
    const auto path = dir / "keep.gif";
    GifWriter writer(path, 4, 2, 18);
    writer.add(flat({100, 100, 100}), 5);
    writer.add(flat({102, 101, 100}), 5); // distance 5 from what is shown: kept
    writer.add(flat({104, 102, 100}), 5); // 20 from what is shown: redrawn
    writer.add(flat({104, 102, 103}), 5); // 9: kept
    writer.finish();

    const auto pictures = test::decodeGif(path);
    ASSERT_EQ(pictures.size(), 4u);
    const uint8_t expected[][3] = {
        {100, 100, 100}, {100, 100, 100}, {104, 102, 100}, {104, 102, 100}};
    for (std::size_t i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(pictures[i].at(3, 1)[c], expected[i][c]) << "picture " << i;
    // A kept picture stores no pixels beyond its placeholder.
    const auto gif = test::readGifStructure(path);
    ASSERT_EQ(gif.images.size(), 4u);
    EXPECT_EQ(gif.images[1].width * gif.images[1].height, 1);
    EXPECT_EQ(gif.images[2].width * gif.images[2].height, 8);

    // With no distance every change is drawn.
    GifWriter exact(dir / "exact.gif", 4, 2, 0);
    exact.add(flat({100, 100, 100}), 5);
    exact.add(flat({101, 100, 100}), 5);
    exact.finish();
    EXPECT_EQ(test::decodeGif(dir / "exact.gif")[1].at(0, 0)[0], 101);
}

} // namespace
} // namespace kavlo

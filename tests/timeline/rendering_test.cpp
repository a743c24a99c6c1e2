// What the bar draws, read back from its pixels. Thumbnails are flat colours
// at whole seconds. The bar is 348 wide with a 64-point strip; it shows
// 3..6 s of a 10 s video at 100 points per second, with the selection 4..5 s
// between x = 124 and 224. Tiles start every 0.76 s.
#include "timeline/timeline_painting.h"
#include "timeline_test_support.h"

#include <algorithm>
#include <random>

namespace kavlo::test {
namespace {

QColor colourOf(int second) {
    return QColor::fromHsv(second * 33, 200, 220);
}

QColor halved(const QColor& c) {
    return QColor(c.red() / 2, c.green() / 2, c.blue() / 2);
}

std::vector<TimelineThumbnail> flatThumbnails() {
    std::vector<TimelineThumbnail> list;
    for (int i = 0; i <= 10; ++i) {
        QImage image(32, 18, QImage::Format_RGB32);
        image.fill(colourOf(i));
        list.push_back({QUuid::createUuid(), static_cast<double>(i), image});
    }
    // The bar must not rely on the list being sorted.
    std::shuffle(list.begin(), list.end(), std::mt19937(7));
    return list;
}

class TimelineRendering : public ::testing::Test {
  protected:
    void SetUp() override {
        bar.resize(348, 80);
        bar.setInputs(inputs(3, 4, 3));
        bar.show();
    }

    TimelineBarInputs inputs(double start, double end, double playhead, bool loaded = true) {
        return {.duration = 10,
                .start = start,
                .end = end,
                .playhead = playhead,
                .maxLoopDuration = 3,
                .thumbnails = thumbnails,
                .isLoaded = loaded};
    }
    QImage render(double start, double end, double playhead, bool loaded = true) {
        bar.setInputs(inputs(start, end, playhead, loaded));
        return renderWidget(bar);
    }

    std::vector<TimelineThumbnail> thumbnails = flatThumbnails();
    TimelineBar bar;
};

bool isAccent(const QColor& c) {
    return near(c, timelineAccentColor(), 1);
}
bool isWhite(const QColor& c) {
    return c.red() > 240 && c.green() > 240 && c.blue() > 240;
}

TEST_F(TimelineRendering, TilesShowTheNearestThumbnailAndTheOutsideIsDimmed) {
    const QImage image = render(4, 5, 4.5);
    EXPECT_TRUE(near(pixelAt(image, 50, 32), halved(colourOf(3))));  // tile at 3.04 s
    EXPECT_TRUE(near(pixelAt(image, 150, 32), colourOf(4)));         // tile at 3.80 s
    EXPECT_TRUE(near(pixelAt(image, 200, 32), colourOf(5)));         // tile at 4.56 s
    EXPECT_TRUE(near(pixelAt(image, 300, 32), halved(colourOf(5)))); // tile at 5.32 s
}

TEST_F(TimelineRendering, HandlesAndBorderAreAccentWithSquareInnerCorners) {
    const QImage image = render(4, 5, 4.5);
    EXPECT_TRUE(isAccent(pixelAt(image, 112, 10)));
    EXPECT_TRUE(isAccent(pixelAt(image, 236, 54)));
    EXPECT_TRUE(isAccent(pixelAt(image, 123.5, 0.5)));  // start handle, inner corner
    EXPECT_FALSE(isAccent(pixelAt(image, 100.5, 0.5))); // start handle, outer corner
    EXPECT_TRUE(isAccent(pixelAt(image, 224.5, 63.5)));
    EXPECT_FALSE(isAccent(pixelAt(image, 247.5, 63.5)));
    EXPECT_TRUE(isAccent(pixelAt(image, 150, 2)));  // top border
    EXPECT_TRUE(isAccent(pixelAt(image, 150, 62))); // bottom border
    EXPECT_FALSE(isAccent(pixelAt(image, 150, 5)));
    EXPECT_EQ(pixelAt(image, 110, 32), QColor(Qt::black)); // the chevron, by its tip
    // The strip's own rounded corners.
    EXPECT_EQ(pixelAt(image, 0, 0).alpha(), 0);
    EXPECT_EQ(pixelAt(image, 0, 32).alpha(), 255);
}

TEST_F(TimelineRendering, PlayheadStaysInsideTheSelection) {
    auto whiteColumns = [](const QImage& image) {
        std::vector<int> xs;
        for (int x = 0; x < 348; ++x)
            if (isWhite(pixelAt(image, x, 32)))
                xs.push_back(x);
        return xs;
    };
    auto centre = [](const std::vector<int>& xs) { return (xs.front() + xs.back()) / 2.0; };

    const auto inside = whiteColumns(render(4, 5, 4.5));
    ASSERT_FALSE(inside.empty());
    EXPECT_NEAR(centre(inside), 174, 1);
    EXPECT_LE(inside.back() - inside.front(), 4);

    const auto late = whiteColumns(render(4, 5, 9));
    ASSERT_FALSE(late.empty());
    EXPECT_NEAR(centre(late), 224, 1);
    const auto early = whiteColumns(render(4, 5, 0.5));
    ASSERT_FALSE(early.empty());
    EXPECT_NEAR(centre(early), 124, 1);
}

TEST_F(TimelineRendering, WithoutAVideoOnlyTheThumbnailsAreDrawn) {
    const QImage image = render(4, 5, 4.5, false);
    for (int x = 0; x < 348; x += 2)
        for (int y = 0; y < 64; y += 2)
            ASSERT_FALSE(isAccent(pixelAt(image, x, y))) << x << "," << y;
    EXPECT_TRUE(near(pixelAt(image, 50, 32), colourOf(3)));

    thumbnails.clear();
    const QImage bare = render(4, 5, 4.5);
    EXPECT_EQ(pixelAt(bare, 170, 32), QColor(Qt::black));
}

// Runs in the second pass of the suite, on a screen of device pixel ratio 2.
TEST_F(TimelineRendering, HiDpiEdgesLandOnDevicePixels) {
    if (bar.devicePixelRatioF() != 2)
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    // The start edge at x = 124.5: between device pixels 248 and 249. A
    // strip drawn at 1x and scaled up would blend them both.
    const QImage image = render(4.005, 5, 4.8);
    EXPECT_EQ(image.width(), 696);
    EXPECT_TRUE(isAccent(image.pixelColor(248, 20)));
    EXPECT_TRUE(near(image.pixelColor(249, 20), colourOf(4)));
}

} // namespace
} // namespace kavlo::test

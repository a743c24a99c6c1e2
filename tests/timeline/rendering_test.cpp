// What the bar draws, read back from its pixels. Thumbnails are flat colours
// at whole seconds, listed out of order. The bar is 348 wide with a 64-point
// strip showing 3..6 s of a 10 s video at 100 points per second; the
// selection 4..5 s lies between x = 124 and 224. Tiles start every 0.76 s.
#include "timeline/timeline_painting.h"
#include "timeline_test_support.h"

#include <QPaintEvent>
#include <QTest>

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
bool isAccent(const QColor& c) {
    return near(c, timelineAccentColor(), 1);
}

class TimelineRendering : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i <= 10; ++i) {
            QImage image(32, 18, QImage::Format_RGB32);
            image.fill(colourOf(i));
            thumbnails.push_back({QUuid(), static_cast<double>(i), image});
        }
        std::shuffle(thumbnails.begin(), thumbnails.end(), std::mt19937(7));
        bar.resize(348, 80);
        bar.setInputs({10, 3, 4, 3, 3, thumbnails, true}); // the window starts at 3 s
        bar.show();
    }
    QImage render(double start, double end, double playhead, bool loaded = true) {
        bar.setInputs({10, start, end, playhead, 3, thumbnails, loaded});
        return renderWidget(bar);
    }
    // The x of the playhead's white core on the middle row.
    double playheadAt(double playhead) {
        const QImage image = render(4, 5, playhead);
        std::vector<int> xs;
        for (int x = 0; x < 348; ++x)
            if (near(pixelAt(image, x, 32), Qt::white, 15))
                xs.push_back(x);
        return xs.empty() || xs.back() - xs.front() > 4 ? -1 : (xs.front() + xs.back() + 1) / 2.0;
    }

    std::vector<TimelineThumbnail> thumbnails;
    TimelineBar bar;
};

TEST_F(TimelineRendering, TilesShowTheNearestThumbnailTheOutsideIsDimmedAndTheSelectionFramed) {
    const QImage image = render(4, 5, 4.5);
    EXPECT_TRUE(near(pixelAt(image, 50, 32), halved(colourOf(3))));  // tile at 3.04 s
    EXPECT_TRUE(near(pixelAt(image, 150, 32), colourOf(4)));         // tile at 3.80 s
    EXPECT_TRUE(near(pixelAt(image, 200, 32), colourOf(5)));         // tile at 4.56 s
    EXPECT_TRUE(near(pixelAt(image, 300, 32), halved(colourOf(5)))); // tile at 5.32 s
    EXPECT_EQ(pixelAt(image, 0, 0).alpha(), 0);                      // the strip's rounded corner
    // Handles and border in the accent, with square inner corners.
    EXPECT_TRUE(isAccent(pixelAt(image, 112, 10)));
    EXPECT_TRUE(isAccent(pixelAt(image, 236, 54)));
    EXPECT_TRUE(isAccent(pixelAt(image, 123.5, 0.5)));  // start handle: inner corner
    EXPECT_FALSE(isAccent(pixelAt(image, 100.5, 0.5))); // and rounded outer corner
    EXPECT_TRUE(isAccent(pixelAt(image, 224.5, 63.5)));
    EXPECT_FALSE(isAccent(pixelAt(image, 247.5, 63.5)));
    EXPECT_TRUE(isAccent(pixelAt(image, 150, 2)));  // top border, 4 tall
    EXPECT_TRUE(isAccent(pixelAt(image, 150, 62))); // bottom border
    EXPECT_FALSE(isAccent(pixelAt(image, 150, 5)));
    EXPECT_EQ(pixelAt(image, 110, 32), QColor(Qt::black)); // the chevron, by its tip
}

TEST_F(TimelineRendering, PlayheadStaysInsideTheSelection) {
    EXPECT_NEAR(playheadAt(4.5), 174, 1);
    EXPECT_NEAR(playheadAt(9), 224, 1);
    EXPECT_NEAR(playheadAt(0.5), 124, 1);
}

// Records the regions the bar repaints.
struct PaintSpy : QObject {
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

TEST_F(TimelineRendering, MovingThePlayheadRepaintsOnlyItsOldAndNewPlaces) {
    render(4, 5, 4.2);
    PaintSpy spy;
    bar.installEventFilter(&spy);
    QApplication::processEvents(); // paints left from setInputs()
    spy.painted = QRegion();

    // Less than a device pixel: nothing to draw again.
    bar.setPlayhead(4.2 + 0.4 / 100 / bar.devicePixelRatioF());
    QTest::qWait(40);
    EXPECT_TRUE(spy.painted.isEmpty()) << "repainted for a sub-pixel move";

    // Moves closer together than a screen refresh still end drawn where the
    // last one went.
    bar.setPlayhead(4.5);
    bar.setPlayhead(4.7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.painted.contains(QPoint(194, 32)); }, 1000))
        << "the new place, 4.7 s, never repainted";
    QTest::qWait(40);
    bar.removeEventFilter(&spy);
    for (const QRect& r : spy.painted)
        EXPECT_LT(r.width(), 16) << "repainted more than the playhead";
    EXPECT_TRUE(spy.painted.contains(QPoint(144, 32))); // the old place, 4.2 s

    // What is left on screen is what a full update would draw.
    const QImage moved = renderWidget(bar);
    EXPECT_EQ(moved, render(4, 5, 4.7));
}

TEST_F(TimelineRendering, WithoutAVideoOnlyTheThumbnailsAreDrawn) {
    const QImage image = render(4, 5, 4.5, false);
    for (int x = 0; x < 348; x += 2)
        for (int y = 0; y < 64; y += 2)
            ASSERT_FALSE(isAccent(pixelAt(image, x, y))) << x << "," << y;
    EXPECT_TRUE(near(pixelAt(image, 50, 32), colourOf(3)));
}

// Runs in the suite's second pass, on a screen of device pixel ratio 2.
TEST_F(TimelineRendering, HiDpiEdgesLandOnDevicePixels) {
    if (bar.devicePixelRatioF() != 2)
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    // The start edge at x = 124.5 falls between device pixels 248 and 249; a
    // strip drawn at 1x and scaled up would blend them both.
    const QImage image = render(4.005, 5, 4.8);
    EXPECT_TRUE(isAccent(image.pixelColor(248, 20)));
    EXPECT_TRUE(near(image.pixelColor(249, 20), colourOf(4)));
}

} // namespace
} // namespace kavlo::test

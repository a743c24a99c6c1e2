// Where times land on the bar, the tile slots, and when the window resets;
// and what the bar draws, read back from its pixels. Thumbnails are flat colours
// at whole seconds, listed out of order. The bar is 348 wide with a 64-point
// strip showing 3..6 s of a 10 s video at 100 points per second; the
// selection 4..5 s lies between x = 124 and 224. Tiles start every 0.76 s.
#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_painting.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

#include <QPaintEvent>
#include <QTest>

#include <algorithm>
#include <random>
#include <tuple>

namespace kavlo::test {
namespace {

std::vector<TimelineThumbnail> thumbnailsAt(std::initializer_list<double> times) {
    std::vector<TimelineThumbnail> list;
    for (double t : times)
        list.push_back({QUuid(), t, QImage()});
    return list;
}

TEST(TimelineGeometry, ChildrenCoverTheStripAndSpanTheTrackAtAnyWidth) {
    const TimelineGeometry narrow = timelineGeometry(40, 80, 10, 3, 0);
    // Both handles still inside the strip.
    EXPECT_EQ(std::tuple(narrow.trackEnd, narrow.trackWidth, narrow.startHandleCenter(5),
                         narrow.endHandleCenter(5)),
              std::tuple(25, 1, 12, 36));

    TimelineBar bar;
    bar.resize(40, 80);
    bar.show();
    auto* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    EXPECT_EQ(scrollbar->width(), 1);
    bar.resize(348, 80);
    EXPECT_EQ(bar.findChild<TimelineInteractionWidget*>()->geometry(), QRect(0, 0, 348, 64));
    EXPECT_EQ(scrollbar->geometry(), QRect(24, 70, 300, 10));
}

TEST(TimelineGeometry, TheWindowIsClampedToTheVideoAndTheSelectionToTheWindow) {
    const TimelineGeometry empty = timelineGeometry(400, 80, 0, 0, 5);
    EXPECT_EQ(std::pair(empty.visibleDuration, empty.visibleStart), std::pair(0.001, 0.0));
    EXPECT_EQ(timelineGeometry(400, 80, 2, 2, 0).x(2), 376); // the whole video on the track

    const TimelineGeometry g = timelineGeometry(348, 80, 10, 3, 3); // shows 3..6 s
    const SelectionGeometry s = selectionGeometry(g, 1, 9, 0);
    EXPECT_EQ(s.startHandle(), QRectF(0, 0, 24, 64));
    EXPECT_EQ(s.endHandle(), QRectF(324, 0, 24, 64));
    EXPECT_EQ(s.playheadX, 24);
    const SelectionGeometry reversed = selectionGeometry(g, 5, 4, 4.5);
    EXPECT_EQ(std::tuple(reversed.lo, reversed.hi, reversed.borderWidth()),
              std::tuple(124, 224, 0));
}

TEST(TimelineTiles, SlotsAreAnchoredToTheTileStepAndSlideWithTheWindow) {
    const auto thumbs = thumbnailsAt({0, 2, 4, 6, 8, 10});
    const auto tiles = tileSlots(timelineGeometry(348, 80, 10, 3, 3.1), 10, thumbs);
    ASSERT_EQ(tiles.size(), 11u); // ceil(348 / 76) + 6, all within the video
    for (const TileSlot& tile : tiles)
        EXPECT_NEAR(tile.time / 0.76, std::round(tile.time / 0.76), 1e-9);
    EXPECT_LE(tiles.front().left, 0);
    EXPECT_GE(tiles.back().left + kTileWidth, 348);

    const auto slid = tileSlots(timelineGeometry(348, 80, 10, 3, 3.15), 10, thumbs);
    ASSERT_EQ(slid.size(), tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i) {
        EXPECT_EQ(slid[i].time, tiles[i].time);
        EXPECT_NEAR(slid[i].left, tiles[i].left - 5, 1e-9);
    }
    // Absurd times make no tiles rather than overflow an index.
    EXPECT_TRUE(tileSlots(timelineGeometry(400, 80, 1e300, 3, 1e300), 1e300, thumbs).empty());
    EXPECT_TRUE(tileSlots(timelineGeometry(400, 80, NAN, 3, 0), NAN, thumbs).empty());
}

TEST(TimelineTiles, NearestThumbnailIgnoresListOrderAndTiesGoToTheFirst) {
    const auto thumbs = thumbnailsAt({9, 1, 5, 3, 7});
    EXPECT_EQ(nearestThumbnail(thumbs, 3.9, 10), 3);
    EXPECT_EQ(nearestThumbnail(thumbs, 4, 10), 2); // 5 and 3 tie: 5 is listed first
    EXPECT_EQ(nearestThumbnail(thumbnailsAt({3, 5}), 4, 10), 0);
    EXPECT_EQ(nearestThumbnail(thumbs, -50, 10), 1); // times are held in the video
    EXPECT_EQ(nearestThumbnail(thumbs, 50, 10), 0);
    EXPECT_EQ(nearestThumbnail({}, 4, 10), -1);
    for (const TileSlot& tile : tileSlots(timelineGeometry(400, 80, 0, 0, 0), 0, thumbs))
        EXPECT_EQ(tile.thumbnail, 1); // a video of no length: all from the one nearest 0
}

TEST(TimelineViewport, ResetsForANewDurationOrZoomOnly) {
    TimelineBar bar;
    bar.resize(348, 80);
    bar.setInputs({10, 9, 10, 9, 3, {}, true});
    bar.show();
    EXPECT_EQ(bar.viewportStart(), 7); // as far as the video's end allows
    bar.setInputs({10, 4, 5, 4.5, 3, {}, true});
    EXPECT_EQ(bar.viewportStart(), 7); // the selection alone never scrolls
    bar.setInputs({10, 4, 5, 4.5, 2, {}, true});
    EXPECT_EQ(bar.viewportStart(), 4);
    bar.setInputs({20, 12, 13, 12, 3, {}, true}); // a new video
    EXPECT_EQ(bar.viewportStart(), 12);
}

class TimelineRendering : public ::testing::Test {
  protected:
    static QColor colourOf(int second) { return QColor::fromHsv(second * 33, 200, 220); }
    static QColor halved(const QColor& c) { return {c.red() / 2, c.green() / 2, c.blue() / 2}; }
    static bool isAccent(const QColor& c) { return near(c, timelineAccentColor(), 1); }

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

TEST_F(TimelineRendering, NearestThumbnailsDimmedOutsideTheFramedSelectionWhichHoldsThePlayhead) {
    const QImage image = render(4, 5, 4.5);
    EXPECT_TRUE(near(pixelAt(image, 50, 32), halved(colourOf(3))));  // tile at 3.04 s
    EXPECT_TRUE(near(pixelAt(image, 150, 32), colourOf(4)));         // tile at 3.80 s
    EXPECT_TRUE(near(pixelAt(image, 200, 32), colourOf(5)));         // tile at 4.56 s
    EXPECT_TRUE(near(pixelAt(image, 300, 32), halved(colourOf(5)))); // tile at 5.32 s
    EXPECT_EQ(pixelAt(image, 0, 0).alpha(), 0);                      // the strip's rounded corner
    // Handles, their square inner and rounded outer corners, the border 4 tall: accent or not.
    const std::tuple<double, double, bool> points[] = {
        {112, 10, true},     {236, 54, true},     {123.5, 0.5, true},
        {100.5, 0.5, false}, {224.5, 63.5, true}, {247.5, 63.5, false},
        {150, 2, true},      {150, 62, true},     {150, 5, false}};
    for (const auto& [x, y, accent] : points)
        EXPECT_EQ(isAccent(pixelAt(image, x, y)), accent) << x << "," << y;
    EXPECT_EQ(pixelAt(image, 110, 32), QColor(Qt::black)); // the chevron, by its tip

    EXPECT_NEAR(playheadAt(4.5), 174, 1);
    EXPECT_NEAR(playheadAt(9), 224, 1);
    EXPECT_NEAR(playheadAt(0.5), 124, 1);
}

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

    const QImage moved = renderWidget(bar);
    EXPECT_EQ(moved, render(4, 5, 4.7));
}

TEST_F(TimelineRendering, NewThumbnailsRedrawTheStripOnlyWhenAVisibleTileChanges) {
    render(4, 5, 4.2);
    PaintSpy spy;
    bar.installEventFilter(&spy);
    QApplication::processEvents();
    spy.painted = QRegion();
    const auto replaced = [&](double time, const QColor& colour) {
        QImage image(32, 18, QImage::Format_RGB32);
        image.fill(colour);
        for (TimelineThumbnail& thumbnail : thumbnails)
            thumbnail.image = thumbnail.time == time ? image : thumbnail.image;
        bar.setInputs({10, 4, 5, 4.2, 3, thumbnails, true});
        QApplication::processEvents();
    };
    replaced(10, Qt::red); // the tiles reach 0.76..8.36 s: nearest to none
    EXPECT_FALSE(spy.painted.intersects(QRect(0, 0, 348, 64))) << "redrawn for one out of view";
    replaced(5, Qt::blue); // the key frame's picture replaced by the exact one
    EXPECT_TRUE(spy.painted.contains(QPoint(200, 32)));
    EXPECT_TRUE(near(pixelAt(renderWidget(bar), 200, 32), QColor(Qt::blue)));
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

    // Thumbnails made at the tile's device size are copied pixel for pixel:
    // columns one device pixel wide stay apart.
    QImage stripes(tilePixelSize(64, 2), QImage::Format_RGB32);
    for (int x = 0; x < stripes.width(); ++x)
        for (int y = 0; y < stripes.height(); ++y)
            stripes.setPixelColor(x, y, x % 2 ? Qt::white : Qt::black);
    for (TimelineThumbnail& thumbnail : thumbnails)
        thumbnail.image = stripes;
    const QImage sharp = render(4, 5, 4.5, false);
    for (int x = 0; x < 40; ++x) // the tile at 3.04 s starts at x = 28
        ASSERT_EQ(sharp.pixelColor(56 + x, 30), stripes.pixelColor(x, 30)) << x;
}

} // namespace
} // namespace kavlo::test

// Where times land on the bar, the tile slots, and when the window resets.
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

namespace kavlo::test {
namespace {

std::vector<TimelineThumbnail> thumbnailsAt(std::initializer_list<double> times) {
    std::vector<TimelineThumbnail> list;
    for (double t : times)
        list.push_back({QUuid::createUuid(), t, QImage()});
    return list;
}

TEST(TimelineGeometry, TrackKeepsAUsableWidthOnANarrowBar) {
    const TimelineGeometry g = timelineGeometry(40, 80, 10, 3, 0);
    EXPECT_EQ(g.trackEnd, 25);
    EXPECT_EQ(g.trackWidth, 1);
    EXPECT_EQ(g.scrollbarRect().width(), 1);
    EXPECT_EQ(g.stripHeight, 64);

    TimelineBar bar;
    bar.resize(40, 80);
    bar.show();
    EXPECT_EQ(bar.findChild<TimelineViewportScrollbar*>()->width(), 1);
    // Handles stay inside the strip even when they cannot both fit.
    EXPECT_EQ(g.startHandleCenter(5), 12);
    EXPECT_EQ(g.endHandleCenter(5), 36);
}

TEST(TimelineGeometry, VisibleWindowIsClampedToTheVideo) {
    const TimelineGeometry empty = timelineGeometry(400, 80, 0, 0, 5);
    EXPECT_EQ(empty.visibleDuration, 0.001);
    EXPECT_EQ(empty.maximumViewportStart, 0);
    EXPECT_EQ(empty.visibleStart, 0);

    const TimelineGeometry whole = timelineGeometry(400, 80, 2, 2, 0);
    EXPECT_EQ(whole.visibleDuration, 2);
    EXPECT_EQ(whole.maximumViewportStart, 0);
    EXPECT_EQ(whole.x(2), 376); // the video's end at the track's end

    const TimelineGeometry zoomed = timelineGeometry(348, 80, 10, 3, 20);
    EXPECT_EQ(zoomed.visibleStart, 7);
    EXPECT_EQ(zoomed.pixelsPerSecond, 100);
    EXPECT_EQ(zoomed.x(8), 124);
}

TEST(TimelineGeometry, SelectionBeyondTheWindowStopsAtTheEdges) {
    const TimelineGeometry g = timelineGeometry(348, 80, 10, 3, 3); // shows 3..6 s
    const SelectionGeometry s = selectionGeometry(g, 1, 9, 0);
    EXPECT_EQ(s.left, 24);
    EXPECT_EQ(s.right, 324);
    EXPECT_EQ(s.startHandle(), QRectF(0, 0, 24, 64));
    EXPECT_EQ(s.endHandle(), QRectF(324, 0, 24, 64));
    EXPECT_EQ(s.playheadX, 24); // confined to the clamped selection

    // Reversed: the dims still go from the earlier edge to the later one.
    const SelectionGeometry reversed = selectionGeometry(g, 5, 4, 4.5);
    EXPECT_EQ(reversed.lo, 124);
    EXPECT_EQ(reversed.hi, 224);
    EXPECT_EQ(reversed.borderWidth(), 0);
}

TEST(TimelineTiles, SlotsAreAnchoredToMultiplesOfTheTileStep) {
    const auto thumbs = thumbnailsAt({0, 2, 4, 6, 8, 10});
    const TimelineGeometry g = timelineGeometry(348, 80, 10, 3, 3.1);
    const double step = secondsPerTile(g.pixelsPerSecond);
    EXPECT_DOUBLE_EQ(step, 0.76);
    const auto tiles = tileSlots(g, 10, thumbs);
    ASSERT_FALSE(tiles.empty());
    for (const TileSlot& tile : tiles) {
        const double k = tile.time / step;
        EXPECT_NEAR(k, std::round(k), 1e-9);
        EXPECT_NEAR(tile.left, g.x(tile.time), 1e-9);
    }
    // The row covers the whole strip, edge to edge.
    EXPECT_LE(tiles.front().left, 0);
    EXPECT_GE(tiles.back().left + kTileWidth, 348);

    // Scrolling a little slides the same tiles instead of re-cutting them.
    const auto slid = tileSlots(timelineGeometry(348, 80, 10, 3, 3.15), 10, thumbs);
    ASSERT_EQ(slid.size(), tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i) {
        EXPECT_EQ(slid[i].time, tiles[i].time);
        EXPECT_NEAR(slid[i].left, tiles[i].left - 5, 1e-9);
    }
}

TEST(TimelineTiles, OnlyTheSlotsThatCanBeVisibleAreMade) {
    std::vector<TimelineThumbnail> many;
    for (int i = 0; i <= 3600; ++i)
        many.push_back({QUuid(), i * 1.0, QImage()});
    const auto tiles = tileSlots(timelineGeometry(400, 80, 3600, 3, 1800), 3600, many);
    EXPECT_LE(static_cast<int>(tiles.size()), tileSlotCount(400));
    EXPECT_EQ(tileSlotCount(400), 12);
}

TEST(TimelineTiles, AbsurdTimesMakeNoTilesRatherThanOverflow) {
    const auto thumbs = thumbnailsAt({0, 1});
    EXPECT_TRUE(tileSlots(timelineGeometry(400, 80, 1e300, 3, 1e300), 1e300, thumbs).empty());
    EXPECT_TRUE(tileSlots(timelineGeometry(400, 80, NAN, 3, 0), NAN, thumbs).empty());
}

TEST(TimelineTiles, NearestThumbnailIgnoresListOrderAndTiesGoToTheFirst) {
    const auto thumbs = thumbnailsAt({9, 1, 5, 3, 7});
    EXPECT_EQ(nearestThumbnail(thumbs, 3.9, 10), 3);
    EXPECT_EQ(nearestThumbnail(thumbs, 4, 10), 2); // 5 and 3 tie: 5 is listed first
    EXPECT_EQ(nearestThumbnail(thumbnailsAt({3, 5}), 4, 10), 0);
    EXPECT_EQ(nearestThumbnail(thumbs, -50, 10), 1); // times held in the video
    EXPECT_EQ(nearestThumbnail(thumbs, 50, 10), 0);
    EXPECT_EQ(nearestThumbnail({}, 4, 10), -1);

    // A video of no length draws every tile from the thumbnail nearest 0.
    const auto tiles = tileSlots(timelineGeometry(400, 80, 0, 0, 0), 0, thumbs);
    ASSERT_FALSE(tiles.empty());
    for (const TileSlot& tile : tiles)
        EXPECT_EQ(tile.thumbnail, 1);
}

TEST(TimelineViewport, ResetsForANewDurationOrZoomOnly) {
    EXPECT_EQ(resetViewportStart(10, 3, 4), 4);
    EXPECT_EQ(resetViewportStart(10, 3, 9), 7);
    EXPECT_EQ(resetViewportStart(10, 3, -1), 0);

    TimelineBar bar;
    bar.resize(348, 80);
    TimelineBarInputs in;
    in.duration = 10;
    in.start = 4;
    in.end = 5;
    in.maxLoopDuration = 3;
    in.isLoaded = true;
    bar.setInputs(in);
    bar.show();
    EXPECT_EQ(bar.viewportStart(), 4);
    in.start = 6;
    in.end = 7;
    in.playhead = 6.5;
    bar.setInputs(in);
    EXPECT_EQ(bar.viewportStart(), 4); // the selection alone never scrolls
    in.maxLoopDuration = 2;
    bar.setInputs(in);
    EXPECT_EQ(bar.viewportStart(), 6);
    in.duration = 20;
    in.start = 12;
    bar.setInputs(in); // a new video
    EXPECT_EQ(bar.viewportStart(), 12);
}

} // namespace
} // namespace kavlo::test

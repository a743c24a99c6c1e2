// Where times land on the bar, the tile slots, and when the window resets.
#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

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
    EXPECT_EQ(narrow.trackEnd, 25);
    EXPECT_EQ(narrow.trackWidth, 1);
    EXPECT_EQ(narrow.startHandleCenter(5), 12); // both handles still inside the strip
    EXPECT_EQ(narrow.endHandleCenter(5), 36);

    TimelineBar bar;
    bar.resize(40, 80);
    bar.show();
    auto* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    EXPECT_EQ(scrollbar->width(), 1);
    bar.resize(348, 80);
    EXPECT_EQ(bar.findChild<TimelineInteractionWidget*>()->geometry(), QRect(0, 0, 348, 64));
    EXPECT_EQ(scrollbar->geometry(), QRect(24, 70, 300, 10));
}

TEST(TimelineGeometry, VisibleWindowIsClampedToTheVideo) {
    const TimelineGeometry empty = timelineGeometry(400, 80, 0, 0, 5);
    EXPECT_EQ(empty.visibleDuration, 0.001);
    EXPECT_EQ(empty.visibleStart, 0);
    EXPECT_EQ(timelineGeometry(400, 80, 2, 2, 0).x(2), 376); // the whole video on the track
    const TimelineGeometry zoomed = timelineGeometry(348, 80, 10, 3, 20);
    EXPECT_EQ(zoomed.visibleStart, 7);
    EXPECT_EQ(zoomed.x(8), 124);
}

TEST(TimelineGeometry, SelectionBeyondTheWindowStopsAtTheEdges) {
    const TimelineGeometry g = timelineGeometry(348, 80, 10, 3, 3); // shows 3..6 s
    const SelectionGeometry s = selectionGeometry(g, 1, 9, 0);
    EXPECT_EQ(s.startHandle(), QRectF(0, 0, 24, 64));
    EXPECT_EQ(s.endHandle(), QRectF(324, 0, 24, 64));
    EXPECT_EQ(s.playheadX, 24);
    const SelectionGeometry reversed = selectionGeometry(g, 5, 4, 4.5);
    EXPECT_EQ(reversed.lo, 124);
    EXPECT_EQ(reversed.hi, 224);
    EXPECT_EQ(reversed.borderWidth(), 0);
}

TEST(TimelineTiles, SlotsAreAnchoredToTheTileStepAndSlideWithTheWindow) {
    const auto thumbs = thumbnailsAt({0, 2, 4, 6, 8, 10});
    const TimelineGeometry g = timelineGeometry(348, 80, 10, 3, 3.1);
    const auto tiles = tileSlots(g, 10, thumbs);
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

} // namespace
} // namespace kavlo::test

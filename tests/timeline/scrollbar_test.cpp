// The viewport scrollbar: its metrics, and drags on it through a bar 448
// wide, whose scrollbar is 400 wide. The video is 10 s with 3 s visible, so
// the thumb is 120 wide and travels 280 points over viewport starts 0..7.
#include "timeline/scroll_metrics.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

namespace kavlo::test {
namespace {

TEST(ScrollMetrics, ThumbStandsForTheVisibleWindow) {
    const ScrollMetrics m = scrollMetrics(400, 10, 3, 3.5, 22);
    EXPECT_DOUBLE_EQ(m.thumbWidth, 120);
    EXPECT_DOUBLE_EQ(m.travel, 280);
    EXPECT_DOUBLE_EQ(m.maximumViewportStart, 7);
    EXPECT_DOUBLE_EQ(m.thumbLeft, 140);
    EXPECT_DOUBLE_EQ(*m.viewportStartAt(200, 60), 3.5);
    // A viewport start beyond either end puts the thumb at that end.
    EXPECT_DOUBLE_EQ(scrollMetrics(400, 10, 3, 20, 22).thumbLeft, 280);
    EXPECT_DOUBLE_EQ(scrollMetrics(400, 10, 3, -4, 22).thumbLeft, 0);
}

TEST(ScrollMetrics, ThumbKeepsItsMinimumWidthWithinTheBar) {
    EXPECT_DOUBLE_EQ(scrollMetrics(400, 1000, 3, 0, 22).thumbWidth, 22);
    const ScrollMetrics narrow = scrollMetrics(10, 1000, 3, 0, 22);
    EXPECT_DOUBLE_EQ(narrow.thumbWidth, 10);
    EXPECT_DOUBLE_EQ(narrow.travel, 0);
    EXPECT_FALSE(narrow.viewportStartAt(5, 0).has_value());
}

TEST(ScrollMetrics, WholeVideoVisibleFillsTheBar) {
    for (double duration : {2.0, 0.0}) {
        const ScrollMetrics m = scrollMetrics(400, duration, std::max(duration, 0.001), 0, 22);
        EXPECT_DOUBLE_EQ(m.thumbWidth, 400);
        EXPECT_DOUBLE_EQ(m.travel, 0);
        EXPECT_DOUBLE_EQ(m.thumbLeft, 0);
        EXPECT_FALSE(m.canScroll());
    }
}

class ScrollbarDrag : public ::testing::Test {
  protected:
    void SetUp() override {
        bar.resize(448, 80);
        bar.setInputs(inputs(3.5)); // the window starts at 3.5 s: thumb at 140..260
        bar.show();
        bar.setInputs(inputs(5));
        recorder.feedBack = true;
        recorder.attach(bar);
        scrollbar = bar.findChild<TimelineViewportScrollbar*>();
        ASSERT_EQ(scrollbar->width(), 400);
        ASSERT_DOUBLE_EQ(scrollbar->metrics().thumbLeft, 140);
    }

    static TimelineBarInputs inputs(double start) {
        return {.duration = 10,
                .start = start,
                .end = start + 1,
                .playhead = start,
                .maxLoopDuration = 3,
                .thumbnails = {},
                .isLoaded = true};
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineViewportScrollbar* scrollbar = nullptr;
};

TEST_F(ScrollbarDrag, PressOnTheTrackCentresTheThumbUnderThePointer) {
    press(scrollbar, 330, 5);
    release(scrollbar, 330, 5);
    // The thumb's left edge goes to 330 - 60 = 270 of 280: 6.75 s.
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 6.75);
    EXPECT_DOUBLE_EQ(scrollbar->metrics().thumbLeft, 270);
    ASSERT_EQ(recorder.calls.size(), 2u);
    expectMoveLoop(recorder.calls[0], 5 + 6.75 - 3.5, true);
    expectMoveLoop(recorder.calls[1], 5 + 6.75 - 3.5, false);
}

TEST_F(ScrollbarDrag, ThumbIsHeldWhereItWasTaken) {
    press(scrollbar, 150, 5); // 10 points into the thumb: nothing moves
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 3.5);
    drag(scrollbar, 178, 5);
    drag(scrollbar, 206, 5);
    release(scrollbar, 206, 5);
    ASSERT_EQ(recorder.calls.size(), 4u);
    expectMoveLoop(recorder.calls[0], 5, true);
    expectMoveLoop(recorder.calls[1], 5.7, true);
    expectMoveLoop(recorder.calls[2], 6.4, true);
    expectMoveLoop(recorder.calls[3], 6.4, false);
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 4.9);
}

TEST_F(ScrollbarDrag, PressAfterALostReleaseStartsAFreshDrag) {
    press(scrollbar, 150, 5);
    drag(scrollbar, 178, 5); // window at 4.2 s, selection at 5.7 s
    // No release arrives (a popup took the pointer); the next press is on
    // the track right of the thumb, which now spans 168..288.
    press(scrollbar, 330, 5);
    expectMoveLoop(recorder.calls.back(), 5.7 + 6.75 - 4.2, true);
    release(scrollbar, 330, 5);
}

TEST_F(ScrollbarDrag, DraggingBeyondTheEndsStopsTheWindowAndTheSelection) {
    press(scrollbar, 200, 5);
    drag(scrollbar, 1000, 5);
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 7);
    drag(scrollbar, 2000, 5);
    drag(scrollbar, -500, 5);
    release(scrollbar, -900, 5);
    expectMoveLoop(recorder.calls.at(1), 8.5, true);
    expectMoveLoop(recorder.calls.at(2), 8.5, true);
    expectMoveLoop(recorder.calls.at(3), 1.5, true);
    expectMoveLoop(recorder.calls.at(4), 1.5, false);
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 0);
}

TEST_F(ScrollbarDrag, NoTravelLeftMidDragRepeatsTheLastPosition) {
    press(scrollbar, 200, 5);
    drag(scrollbar, 228, 5); // 0.7 s on
    bar.resize(60, 80);      // a 12-point scrollbar: the thumb fills it
    ASSERT_EQ(scrollbar->metrics().travel, 0);
    drag(scrollbar, 5, 5);
    release(scrollbar, 5, 5);
    ASSERT_EQ(recorder.calls.size(), 3u);
    expectMoveLoop(recorder.calls[2], 5.7, false);
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 4.2);
    EXPECT_FALSE(scrollbar->isDragging());
}

TEST_F(ScrollbarDrag, PressesDoNothingWhenTheWholeVideoIsVisible) {
    TimelineBarInputs in = inputs(0.5);
    in.duration = 2;
    in.maxLoopDuration = 2;
    bar.setInputs(in);
    recorder.calls.clear();
    press(scrollbar, 300, 5);
    drag(scrollbar, 100, 5);
    release(scrollbar, 100, 5);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(scrollbar->isDragging());
}

} // namespace
} // namespace kavlo::test

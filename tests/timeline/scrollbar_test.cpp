// The viewport scrollbar: its metrics, and drags through a bar 448 wide,
// whose scrollbar is 400 wide. With 3 of 10 s visible the thumb is 120 wide
// and travels 280 points over viewport starts 0..7.
#include "timeline/scroll_metrics.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

namespace kavlo::test {
namespace {

// The thumb's place and size within the drags below come from these.
TEST(ScrollMetrics, ThumbIsClampedToTheTrackAndKeepsItsMinimumWidthButFitsTheBar) {
    EXPECT_DOUBLE_EQ(scrollMetrics(400, 10, 3, 20, 22).thumbLeft, 280);
    EXPECT_DOUBLE_EQ(scrollMetrics(400, 10, 3, -4, 22).thumbLeft, 0);
    EXPECT_DOUBLE_EQ(scrollMetrics(400, 1000, 3, 0, 22).thumbWidth, 22);
    EXPECT_DOUBLE_EQ(scrollMetrics(10, 1000, 3, 0, 22).thumbWidth, 10);
    for (double duration : {2.0, 0.0}) { // the whole video visible
        const ScrollMetrics m = scrollMetrics(400, duration, std::max(duration, 0.001), 0, 22);
        EXPECT_DOUBLE_EQ(m.thumbWidth, 400);
        EXPECT_FALSE(m.viewportStartAt(200, 0).has_value());
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
    }
    static TimelineBarInputs inputs(double start) {
        return {10, start, start + 1, start, 3, {}, true};
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineViewportScrollbar* scrollbar = nullptr;
};

TEST_F(ScrollbarDrag, PressOnTheTrackCentresTheThumbUnderThePointer) {
    press(scrollbar, 330, 5); // thumb's left edge to 270 of 280: 6.75 s
    release(scrollbar, 330, 5);
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 6.75);
    EXPECT_DOUBLE_EQ(scrollbar->metrics().thumbLeft, 270);
    EXPECT_EQ(recorder.calls, (Calls{moveLoop(8.25, true), moveLoop(8.25, false)}));
}

TEST_F(ScrollbarDrag, ThumbIsHeldWhereItWasTaken) {
    press(scrollbar, 150, 5); // 10 points into the thumb: nothing moves
    drag(scrollbar, 178, 5);
    drag(scrollbar, 206, 5);
    release(scrollbar, 206, 5);
    EXPECT_EQ(recorder.calls, (Calls{moveLoop(5, true), moveLoop(5.7, true), moveLoop(6.4, true),
                                     moveLoop(6.4, false)}));
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 4.9);
}

TEST_F(ScrollbarDrag, DraggingBeyondTheEndsStopsTheWindowAndTheSelection) {
    press(scrollbar, 200, 5);
    drag(scrollbar, 1000, 5);
    drag(scrollbar, 2000, 5);
    drag(scrollbar, -500, 5);
    release(scrollbar, -900, 5);
    EXPECT_EQ(recorder.calls, (Calls{moveLoop(5, true), moveLoop(8.5, true), moveLoop(8.5, true),
                                     moveLoop(1.5, true), moveLoop(1.5, false)}));
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 0);
}

TEST_F(ScrollbarDrag, NoTravelLeftMidDragRepeatsTheLastPosition) {
    press(scrollbar, 200, 5);
    drag(scrollbar, 228, 5); // 0.7 s on
    bar.resize(60, 80);      // a 12-point scrollbar: the thumb fills it
    ASSERT_EQ(scrollbar->metrics().travel, 0);
    drag(scrollbar, 5, 5);
    release(scrollbar, 5, 5);
    EXPECT_EQ(recorder.calls,
              (Calls{moveLoop(5, true), moveLoop(5.7, true), moveLoop(5.7, false)}));
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 4.2);
}

TEST_F(ScrollbarDrag, PressAfterALostReleaseStartsAFreshDrag) {
    press(scrollbar, 150, 5);
    drag(scrollbar, 178, 5);  // window at 4.2 s, selection at 5.7 s, thumb at 168..288
    press(scrollbar, 330, 5); // the release never came (a popup took the pointer)
    release(scrollbar, 330, 5);
    EXPECT_EQ(recorder.calls.back(), moveLoop(5.7 + 6.75 - 4.2, false));
}

} // namespace
} // namespace kavlo::test

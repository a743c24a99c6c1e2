// Pointer interaction on the strip, driven with mouse events. The bar is 348
// wide, so its track is 300 points for 3 visible seconds: 100 points per
// second. The window shows 3..6 s of a 10 s video and the selection is 4..5,
// so the selection's edges are at x = 124 and 224 and the handle centres at
// 112 and 236.
#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

#include <array>

namespace kavlo::test {
namespace {

TimelineBarInputs loadedInputs(double start, double end, double duration = 10) {
    return {.duration = duration,
            .start = start,
            .end = end,
            .playhead = start,
            .maxLoopDuration = std::min(duration, 3.0),
            .thumbnails = {},
            .isLoaded = true};
}

class TimelineInteraction : public ::testing::Test {
  protected:
    void SetUp() override {
        bar.resize(348, 80);
        bar.setInputs(loadedInputs(3, 4)); // puts the window's left edge at 3 s
        bar.show();
        bar.setInputs(loadedInputs(4, 5)); // moves the selection, not the window
        recorder.attach(bar);
        layer = bar.findChild<TimelineInteractionWidget*>();
        ASSERT_NE(layer, nullptr);
    }

    // What a press at x grabs: 0 start handle, 1 end handle, 2 the strip.
    int grabbedAt(double x) {
        recorder.calls.clear();
        press(layer, x);
        release(layer, x);
        const Call& c = recorder.calls.at(0);
        return c.kind == Call::moveLoop ? 2 : c.handle == TrimHandle::start ? 0 : 1;
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineInteractionWidget* layer = nullptr;
};

TEST_F(TimelineInteraction, PressAndReleaseInPlaceReportTheSameValueTwice) {
    press(layer, 112);
    release(layer, 112);
    ASSERT_EQ(recorder.calls.size(), 2u);
    expectTrim(recorder.calls[0], TrimHandle::start, 4, true);
    expectTrim(recorder.calls[1], TrimHandle::start, 4, false);

    recorder.calls.clear();
    press(layer, 170);
    release(layer, 170);
    ASSERT_EQ(recorder.calls.size(), 2u);
    expectMoveLoop(recorder.calls[0], 4, true);
    expectMoveLoop(recorder.calls[1], 4, false);
    EXPECT_EQ(bar.viewportStart(), 3);
}

TEST_F(TimelineInteraction, DragStepsAreMeasuredFromThePressWhileTheSessionFollows) {
    recorder.feedBack = true;
    press(layer, 236);
    drag(layer, 256);
    drag(layer, 286);
    release(layer, 286);
    ASSERT_EQ(recorder.calls.size(), 4u);
    expectTrim(recorder.calls[0], TrimHandle::end, 5.0, true);
    expectTrim(recorder.calls[1], TrimHandle::end, 5.2, true);
    expectTrim(recorder.calls[2], TrimHandle::end, 5.5, true);
    expectTrim(recorder.calls[3], TrimHandle::end, 5.5, false);
}

TEST_F(TimelineInteraction, HandlesStopAtTheEdgesOfTheVisibleWindow) {
    // The video goes on left of 3 s, but a handle drag does not scroll.
    press(layer, 112);
    drag(layer, -400);
    release(layer, -400);
    expectTrim(recorder.calls.at(1), TrimHandle::start, 3, true);
    expectTrim(recorder.calls.at(2), TrimHandle::start, 3, false);

    recorder.calls.clear();
    press(layer, 236);
    drag(layer, 2000);
    release(layer, 2000);
    expectTrim(recorder.calls.at(2), TrimHandle::end, 6, false);
    EXPECT_EQ(bar.viewportStart(), 3);
}

TEST_F(TimelineInteraction, HandleZonesIncludeTheirBoundary) {
    EXPECT_EQ(grabbedAt(100), 0);
    EXPECT_EQ(grabbedAt(124), 0);
    EXPECT_EQ(grabbedAt(99), 2);
    EXPECT_EQ(grabbedAt(125), 2);
    EXPECT_EQ(grabbedAt(223), 2);
    EXPECT_EQ(grabbedAt(224), 1);
    EXPECT_EQ(grabbedAt(248), 1);
    EXPECT_EQ(grabbedAt(249), 2);
}

TEST_F(TimelineInteraction, StartHandleWinsWhereTheHandlesOverlap) {
    // start later than end: centres at 122 and 126.
    bar.setInputs(loadedInputs(4.1, 4.0));
    EXPECT_EQ(grabbedAt(124), 0);
    EXPECT_EQ(grabbedAt(136), 1);
}

TEST_F(TimelineInteraction, StripDragPansTheWindowAndCarriesTheSelection) {
    recorder.feedBack = true;
    press(layer, 170);
    drag(layer, 120); // 0.5 s to later times
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 3.5);
    drag(layer, 220); // back past the press: 0.5 s earlier than at the press
    release(layer, 220);
    ASSERT_EQ(recorder.calls.size(), 4u);
    expectMoveLoop(recorder.calls[1], 4.5, true);
    expectMoveLoop(recorder.calls[2], 3.5, true);
    expectMoveLoop(recorder.calls[3], 3.5, false);
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 2.5);
    EXPECT_DOUBLE_EQ(bar.layoutGeometry().visibleStart, 2.5);
}

TEST_F(TimelineInteraction, StripDragPastTheVideoStartLeavesTheSelectionAlone) {
    bar.setInputs(loadedInputs(0, 1, 20)); // a new video: the window starts at 0
    bar.setInputs(loadedInputs(0.5, 1.5, 20));
    recorder.calls.clear();
    press(layer, 200);
    drag(layer, 300);
    drag(layer, 600);
    release(layer, 600);
    ASSERT_EQ(recorder.calls.size(), 4u);
    for (const Call& c : recorder.calls)
        EXPECT_NEAR(c.value, 0.5, 1e-12);
    EXPECT_EQ(bar.viewportStart(), 0);

    // With the whole video in view the strip cannot pan either way.
    bar.setInputs(loadedInputs(0.5, 1, 2));
    recorder.calls.clear();
    press(layer, 250);
    drag(layer, 20);
    drag(layer, 340);
    release(layer, 340);
    for (const Call& c : recorder.calls)
        expectMoveLoop(c, 0.5, c.dragging);
    EXPECT_EQ(bar.viewportStart(), 0);
}

TEST_F(TimelineInteraction, NothingHappensWithoutAVideo) {
    TimelineBarInputs in = loadedInputs(4, 5);
    in.isLoaded = false;
    bar.setInputs(in);
    EXPECT_FALSE(layer->isVisible());
    EXPECT_NE(bar.childAt(170, 20), layer);

    auto* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    for (QWidget* w : {static_cast<QWidget*>(&bar), static_cast<QWidget*>(layer),
                       static_cast<QWidget*>(scrollbar)}) {
        hover(w, 112);
        press(w, 112);
        drag(w, 300);
        release(w, 300);
    }
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(layer->testAttribute(Qt::WA_SetCursor));
}

TEST_F(TimelineInteraction, CursorFollowsThePointerAndTheDrag) {
    auto cursor = [&] { return layer->cursor().shape(); };
    hover(layer, 112);
    EXPECT_EQ(cursor(), Qt::SizeHorCursor);
    hover(layer, 170);
    EXPECT_EQ(cursor(), Qt::OpenHandCursor);
    hover(layer, 248);
    EXPECT_EQ(cursor(), Qt::SizeHorCursor);

    recorder.feedBack = true; // the selection pans along and stays on the screen
    press(layer, 170);
    EXPECT_EQ(cursor(), Qt::ClosedHandCursor);
    drag(layer, 236); // over a handle, but still panning
    EXPECT_EQ(cursor(), Qt::ClosedHandCursor);
    release(layer, 236);
    EXPECT_EQ(cursor(), Qt::SizeHorCursor);

    recorder.feedBack = false; // the start handle stays at 112
    press(layer, 112);
    drag(layer, 170); // off the handle, still trimming
    EXPECT_EQ(cursor(), Qt::SizeHorCursor);
    release(layer, 170);
    EXPECT_EQ(cursor(), Qt::OpenHandCursor);

    // The start handle moves under the resting pointer.
    const TimelineGeometry g = bar.layoutGeometry();
    bar.setInputs(loadedInputs(g.visibleStart + (176 - 24) / g.pixelsPerSecond, 5));
    EXPECT_EQ(cursor(), Qt::SizeHorCursor);
}

// The owner may swap its callbacks from inside one; the running one must stay
// alive until it returns (the sanitizer build catches it otherwise).
TEST_F(TimelineInteraction, CallbacksMayReplaceThemselves) {
    int calls = 0;
    std::array<double, 8> payload{};
    payload[7] = 1;
    bar.setOnTrim([&, payload](TrimHandle, double, bool) {
        bar.setOnTrim([&](TrimHandle, double, bool) { ++calls; });
        calls += static_cast<int>(payload[7]);
    });
    bar.setOnMoveLoop([&, payload](double, bool) {
        bar.setOnMoveLoop([&](double, bool) { ++calls; });
        calls += static_cast<int>(payload[7]);
    });
    press(layer, 112);
    release(layer, 112);
    press(layer, 170);
    release(layer, 170);
    EXPECT_EQ(calls, 4);
}

TEST_F(TimelineInteraction, LayerCoversTheStripAndTheScrollbarSpansTheTrack) {
    auto* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    EXPECT_EQ(layer->geometry(), QRect(0, 0, 348, 64));
    EXPECT_EQ(scrollbar->geometry(), QRect(24, 70, 300, 10));
    EXPECT_EQ(bar.childAt(1, 1), layer);
    EXPECT_EQ(bar.childAt(347, 63), layer);
    EXPECT_EQ(bar.childAt(30, 75), scrollbar);
    EXPECT_EQ(scrollbar->accessibleName(), QStringLiteral("Timeline scrollbar"));
}

} // namespace
} // namespace kavlo::test

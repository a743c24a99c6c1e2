// Pointer interaction on the strip and on the viewport scrollbar. The strip
// tests' bar is 348 wide: its track is 300 points for 3 visible seconds, 100
// points per second. It shows 3..6 s of a 10 s video with the selection at
// 4..5 s, so the selection's edges are at x = 124 and 224 and the handle
// centres at 112 and 236. The scrollbar drags go through a bar 448 wide,
// whose scrollbar is 400 wide: with 3 of 10 s visible the thumb is 120 wide
// and travels 280 points over viewport starts 0..7.
#include "timeline/scroll_metrics.h"
#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

#include <array>

namespace kavlo::test {
namespace {

constexpr TrimHandle kStart = TrimHandle::start, kEnd = TrimHandle::end;

TimelineBarInputs loaded(double start, double end, double duration = 10) {
    return {duration, start, end, start, std::min(duration, 3.0), {}, true};
}
void stroke(QWidget* w, std::initializer_list<int> xs, int y = 20) {
    press(w, *xs.begin(), y);
    for (auto x = xs.begin() + 1; x != xs.end(); ++x)
        drag(w, *x, y);
    release(w, *(xs.end() - 1), y);
}

class TimelineInteraction : public ::testing::Test {
  protected:
    void SetUp() override {
        bar.resize(348, 80);
        bar.setInputs(loaded(3, 4)); // the window's left edge goes to 3 s
        bar.show();
        bar.setInputs(loaded(4, 5)); // moves the selection, not the window
        recorder.attach(bar);
        layer = bar.findChild<TimelineInteractionWidget*>();
    }
    Call click(int x) {
        recorder.calls.clear();
        stroke(layer, {x});
        return recorder.calls.at(0);
    }
    void sendToWindow(QEvent::Type type) {
        QEvent event(type);
        QApplication::sendEvent(&bar, &event);
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineInteractionWidget* layer = nullptr;
};

TEST_F(TimelineInteraction, EveryStepIsMeasuredFromThePress) {
    click(112);
    EXPECT_EQ(recorder.calls, (Calls{trim(kStart, 4, true), trim(kStart, 4, false)}));

    recorder.calls.clear();
    recorder.feedBack = true; // the end moves under the drag
    stroke(layer, {236, 256, 286});
    EXPECT_EQ(recorder.calls, (Calls{trim(kEnd, 5, true), trim(kEnd, 5.2, true),
                                     trim(kEnd, 5.5, true), trim(kEnd, 5.5, false)}));
}

TEST_F(TimelineInteraction, HandleZonesIncludeTheirBoundaryTheStartWinsAndDragsStopAtTheWindow) {
    stroke(layer, {112, -400}); // the video goes on left of 3 s; a handle drag does not scroll
    stroke(layer, {236, 2000});
    EXPECT_EQ(recorder.calls[2], trim(kStart, 3, false));
    EXPECT_EQ(recorder.calls[5], trim(kEnd, 6, false));
    EXPECT_EQ(bar.viewportStart(), 3);

    EXPECT_EQ(click(100), trim(kStart, 4, true));
    EXPECT_EQ(click(124), trim(kStart, 4, true));
    EXPECT_EQ(click(224), trim(kEnd, 5, true));
    EXPECT_EQ(click(248), trim(kEnd, 5, true));
    for (int x : {99, 125, 223, 249})
        EXPECT_EQ(click(x), moveLoop(4, true)) << x;

    bar.setInputs(loaded(4.1, 4.0)); // reversed: centres at 122 and 126
    EXPECT_EQ(click(124), trim(kStart, 4.1, true));
    EXPECT_EQ(click(136), trim(kEnd, 4.0, true));
}

TEST_F(TimelineInteraction, StripDragPansTheWindowAndCarriesTheSelection) {
    recorder.feedBack = true;
    press(layer, 170);
    drag(layer, 120); // 0.5 s on
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 3.5);
    drag(layer, 220); // 0.5 s back from the press
    release(layer, 220);
    EXPECT_EQ(recorder.calls, (Calls{moveLoop(4, true), moveLoop(4.5, true), moveLoop(3.5, true),
                                     moveLoop(3.5, false)}));
    EXPECT_DOUBLE_EQ(bar.layoutGeometry().visibleStart, 2.5);

    // Past the video's start neither the window nor the selection moves.
    bar.setInputs(loaded(0, 1, 20)); // a new video: the window starts at 0
    bar.setInputs(loaded(0.5, 1.5, 20));
    recorder.calls.clear();
    stroke(layer, {200, 600});
    EXPECT_EQ(recorder.calls,
              (Calls{moveLoop(0.5, true), moveLoop(0.5, true), moveLoop(0.5, false)}));
    EXPECT_EQ(bar.viewportStart(), 0);
}

TEST_F(TimelineInteraction, NothingHappensWithoutAVideo) {
    TimelineBarInputs in = loaded(4, 5);
    in.isLoaded = false;
    bar.setInputs(in);
    EXPECT_NE(bar.childAt(170, 20), layer);
    QWidget* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    for (QWidget* w : {static_cast<QWidget*>(layer), scrollbar}) {
        hover(w, 112);
        stroke(w, {112, 300});
    }
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(layer->testAttribute(Qt::WA_SetCursor));
}

TEST_F(TimelineInteraction, CursorFollowsThePointerAndTheDrag) {
    auto shape = [&] { return layer->cursor().shape(); };
    hover(layer, 112);
    EXPECT_EQ(shape(), Qt::SizeHorCursor);
    hover(layer, 170);
    EXPECT_EQ(shape(), Qt::OpenHandCursor);

    recorder.feedBack = true; // the selection pans along and stays put on the screen
    press(layer, 170);
    EXPECT_EQ(shape(), Qt::ClosedHandCursor);
    drag(layer, 236); // over a handle, still panning
    EXPECT_EQ(shape(), Qt::ClosedHandCursor);
    release(layer, 236);
    EXPECT_EQ(shape(), Qt::SizeHorCursor);

    recorder.feedBack = false; // the start handle stays at 112
    press(layer, 112);
    drag(layer, 170); // off the handle, still trimming
    EXPECT_EQ(shape(), Qt::SizeHorCursor);
    release(layer, 170);
    EXPECT_EQ(shape(), Qt::OpenHandCursor);

    // The start handle moves under the resting pointer.
    const TimelineGeometry g = bar.layoutGeometry();
    bar.setInputs(loaded(g.visibleStart + (176 - 24) / g.pixelsPerSecond, 5));
    EXPECT_EQ(shape(), Qt::SizeHorCursor);
}

// The owner may swap a callback from inside it; the running one must stay
// alive until it returns (the sanitizer build catches it otherwise).
TEST_F(TimelineInteraction, CallbacksMayReplaceThemselves) {
    int calls = 0;
    std::array<double, 8> payload{};
    payload[7] = 1;
    bar.setOnTrim([&, payload](TrimHandle, double, bool) {
        bar.setOnTrim([&](TrimHandle, double, bool) { ++calls; });
        calls += static_cast<int>(payload[7]);
    });
    stroke(layer, {112});
    EXPECT_EQ(calls, 2);
}

TEST_F(TimelineInteraction,
       LostReleaseADeactivatedBlockedOrHiddenWindowEndsTheDragOnceFromTheEventLoop) {
    for (QEvent::Type type : {QEvent::WindowDeactivate, QEvent::WindowBlocked, QEvent::Hide}) {
        recorder.calls.clear();
        press(layer, 236);
        drag(layer, 256);
        if (type == QEvent::Hide)
            bar.hide();
        else
            sendToWindow(type);
        // Not from inside the event: the window may be on its way out.
        EXPECT_EQ(recorder.calls.size(), 2u);
        QApplication::processEvents();
        drag(layer, 300); // the release, when it does come, changes nothing
        release(layer, 300);
        QApplication::processEvents();
        EXPECT_EQ(recorder.calls,
                  (Calls{trim(kEnd, 5, true), trim(kEnd, 5.2, true), trim(kEnd, 5.2, false)}))
            << type;
        bar.show();
    }
}

TEST_F(TimelineInteraction, LostReleaseAPressOrAMotionWithTheButtonUpEndsTheLostDragAtOnce) {
    press(layer, 112);
    drag(layer, 132);
    press(layer, 236); // the release went to a popup
    hover(layer, 250);
    EXPECT_EQ(recorder.calls,
              (Calls{trim(kStart, 4, true), trim(kStart, 4.2, true), trim(kStart, 4.2, false),
                     trim(kEnd, 5, true), trim(kEnd, 5, false)}));
}

TEST_F(TimelineInteraction, LostReleaseAScrollbarDragEndsWhereItWasLastReported) {
    auto* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    press(scrollbar, 150, 5); // into the thumb, at 90..180 of 300
    drag(scrollbar, 171, 5);  // 21 of 210 points of travel for 7 s: 0.7 s on
    sendToWindow(QEvent::WindowDeactivate);
    QApplication::processEvents();
    release(scrollbar, 171, 5);
    EXPECT_EQ(recorder.calls,
              (Calls{moveLoop(4, true), moveLoop(4.7, true), moveLoop(4.7, false)}));
}

TEST(TimelineTeardown, ABarDestroyedMidDragCallsNobody) {
    bool released = false;
    auto* bar = new TimelineBar;
    bar->resize(348, 80);
    bar->setInputs(loaded(4, 5));
    bar->show();
    bar->setOnTrim([&](TrimHandle, double, bool dragging) { released = !dragging; });
    press(bar->findChild<TimelineInteractionWidget*>(), 236);
    delete bar;
    QApplication::processEvents();
    EXPECT_FALSE(released);
}

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
        bar.setInputs(loaded(3.5, 4.5)); // the window starts at 3.5 s: thumb at 140..260
        bar.show();
        bar.setInputs(loaded(5, 6));
        recorder.feedBack = true;
        recorder.attach(bar);
        scrollbar = bar.findChild<TimelineViewportScrollbar*>();
        ASSERT_EQ(scrollbar->width(), 400);
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineViewportScrollbar* scrollbar = nullptr;
};

TEST_F(ScrollbarDrag, PressOnTheTrackCentresTheThumbUnderThePointer) {
    stroke(scrollbar, {330}, 5); // thumb's left edge to 270 of 280: 6.75 s
    EXPECT_DOUBLE_EQ(bar.viewportStart(), 6.75);
    EXPECT_DOUBLE_EQ(scrollbar->metrics().thumbLeft, 270);
    EXPECT_EQ(recorder.calls, (Calls{moveLoop(8.25, true), moveLoop(8.25, false)}));
}

TEST_F(ScrollbarDrag, ThumbIsHeldWhereItWasTaken) {
    stroke(scrollbar, {150, 178, 206}, 5); // 10 points into the thumb: nothing moves
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

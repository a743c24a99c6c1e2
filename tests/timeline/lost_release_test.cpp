// Drags whose release never arrives. The bar is laid out as in the
// interaction tests: 348 wide, showing 3..6 s of a 10 s video at 100 points
// per second, the selection at 4..5 s with handle centres at 112 and 236.
// Each lost drag must still end with exactly one call with `dragging` false,
// so that the session leaves scrubbing and renders its preview.
#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

#include <algorithm>

namespace kavlo::test {
namespace {

constexpr TrimHandle kStart = TrimHandle::start;
constexpr TrimHandle kEnd = TrimHandle::end;

int releases(const Calls& calls) {
    return static_cast<int>(
        std::count_if(calls.begin(), calls.end(), [](const Call& c) { return !c.dragging; }));
}

class LostRelease : public ::testing::Test {
  protected:
    void SetUp() override {
        bar.resize(348, 80);
        bar.setInputs({10, 3, 4, 3, 3, {}, true});
        bar.show();
        bar.setInputs({10, 4, 5, 4, 3, {}, true});
        recorder.attach(bar);
        layer = bar.findChild<TimelineInteractionWidget*>();
        scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    }
    static void sendToWindow(QWidget& w, QEvent::Type type) {
        QEvent event(type);
        QApplication::sendEvent(w.window(), &event);
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineInteractionWidget* layer = nullptr;
    TimelineViewportScrollbar* scrollbar = nullptr;
};

TEST_F(LostRelease, DeactivatedOrBlockedWindowEndsTheDragOnceFromTheEventLoop) {
    for (QEvent::Type type : {QEvent::WindowDeactivate, QEvent::WindowBlocked}) {
        recorder.calls.clear();
        press(layer, 236);
        drag(layer, 256);
        sendToWindow(bar, type);
        // Not from inside the event: the window may be on its way out.
        EXPECT_EQ(releases(recorder.calls), 0);
        QApplication::processEvents();
        EXPECT_EQ(recorder.calls.back(), trim(kEnd, 5.2, false));
        // The release, when it does come, and further motion change nothing.
        drag(layer, 300);
        release(layer, 300);
        QApplication::processEvents();
        EXPECT_EQ(releases(recorder.calls), 1) << type;
        EXPECT_FALSE(layer->isDragging());
    }
}

TEST_F(LostRelease, HidingTheBarEndsTheDrag) {
    press(layer, 170); // the strip: a move of the whole selection
    drag(layer, 150);
    bar.hide();
    QApplication::processEvents();
    EXPECT_EQ(recorder.calls,
              (Calls{moveLoop(4, true), moveLoop(4.2, true), moveLoop(4.2, false)}));
}

TEST_F(LostRelease, APressOrAMotionWithTheButtonUpEndsTheLostDragAtOnce) {
    press(layer, 112);
    drag(layer, 132);
    press(layer, 236); // the release went to a popup
    EXPECT_EQ(recorder.calls, (Calls{trim(kStart, 4, true), trim(kStart, 4.2, true),
                                     trim(kStart, 4.2, false), trim(kEnd, 5, true)}));
    recorder.calls.clear();
    hover(layer, 250);
    EXPECT_EQ(recorder.calls, (Calls{trim(kEnd, 5, false)}));
    release(layer, 250);
    EXPECT_EQ(recorder.calls.size(), 1u);
}

TEST_F(LostRelease, ScrollbarDragEndsWhereItWasLastReported) {
    press(scrollbar, 150, 5); // into the thumb, at 90..180
    drag(scrollbar, 171, 5);  // 21 of 210 points of travel for 7 s: 0.7 s on
    sendToWindow(bar, QEvent::WindowDeactivate);
    QApplication::processEvents();
    release(scrollbar, 171, 5);
    EXPECT_EQ(recorder.calls,
              (Calls{moveLoop(4, true), moveLoop(4.7, true), moveLoop(4.7, false)}));
}

TEST(LostReleaseTeardown, ABarDestroyedMidDragCallsNobody) {
    bool called = false;
    auto* bar = new TimelineBar;
    bar->resize(348, 80);
    bar->setInputs({10, 4, 5, 4, 3, {}, true});
    bar->show();
    bar->setOnTrim([&](TrimHandle, double, bool dragging) { called = !dragging; });
    press(bar->findChild<TimelineInteractionWidget*>(), 236);
    delete bar;
    QApplication::processEvents();
    EXPECT_FALSE(called);
}

} // namespace
} // namespace kavlo::test

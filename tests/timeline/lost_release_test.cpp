// Drags whose release never arrives. The bar is laid out as in the
// interaction tests: 348 wide, showing 3..6 s of a 10 s video at 100 points
// per second, the selection at 4..5 s with handle centres at 112 and 236.
// Each lost drag must still end with exactly one call with `dragging` false.
#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_viewport_scrollbar.h"
#include "timeline_test_support.h"

namespace kavlo::test {
namespace {

class LostRelease : public ::testing::Test {
  protected:
    void SetUp() override {
        bar.resize(348, 80);
        bar.setInputs({10, 3, 4, 3, 3, {}, true});
        bar.show();
        bar.setInputs({10, 4, 5, 4, 3, {}, true});
        recorder.attach(bar);
        layer = bar.findChild<TimelineInteractionWidget*>();
    }
    void sendToWindow(QEvent::Type type) {
        QEvent event(type);
        QApplication::sendEvent(&bar, &event);
    }

    TimelineBar bar;
    Recorder recorder;
    TimelineInteractionWidget* layer = nullptr;
};

TEST_F(LostRelease, ADeactivatedBlockedOrHiddenWindowEndsTheDragOnceFromTheEventLoop) {
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
                  (Calls{trim(TrimHandle::end, 5, true), trim(TrimHandle::end, 5.2, true),
                         trim(TrimHandle::end, 5.2, false)}))
            << type;
        bar.show();
    }
}

TEST_F(LostRelease, APressOrAMotionWithTheButtonUpEndsTheLostDragAtOnce) {
    press(layer, 112);
    drag(layer, 132);
    press(layer, 236); // the release went to a popup
    hover(layer, 250);
    EXPECT_EQ(recorder.calls,
              (Calls{trim(TrimHandle::start, 4, true), trim(TrimHandle::start, 4.2, true),
                     trim(TrimHandle::start, 4.2, false), trim(TrimHandle::end, 5, true),
                     trim(TrimHandle::end, 5, false)}));
}

TEST_F(LostRelease, AScrollbarDragEndsWhereItWasLastReported) {
    auto* scrollbar = bar.findChild<TimelineViewportScrollbar*>();
    press(scrollbar, 150, 5); // into the thumb, at 90..180 of 300
    drag(scrollbar, 171, 5);  // 21 of 210 points of travel for 7 s: 0.7 s on
    sendToWindow(QEvent::WindowDeactivate);
    QApplication::processEvents();
    release(scrollbar, 171, 5);
    EXPECT_EQ(recorder.calls,
              (Calls{moveLoop(4, true), moveLoop(4.7, true), moveLoop(4.7, false)}));
}

TEST(LostReleaseTeardown, ABarDestroyedMidDragCallsNobody) {
    bool released = false;
    auto* bar = new TimelineBar;
    bar->resize(348, 80);
    bar->setInputs({10, 4, 5, 4, 3, {}, true});
    bar->show();
    bar->setOnTrim([&](TrimHandle, double, bool dragging) { released = !dragging; });
    press(bar->findChild<TimelineInteractionWidget*>(), 236);
    delete bar;
    QApplication::processEvents();
    EXPECT_FALSE(released);
}

} // namespace
} // namespace kavlo::test

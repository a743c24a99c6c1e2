// Trim drags, moves and the Mark cycle on a loaded 3 s clip at 30 fps, with
// the players faked and the timers moved by hand.
#include "model_fixture.h"
#include "timeline/timeline_bar.h"
#include "timeline/timeline_interaction_widget.h"

#include <QApplication>

namespace kavlo::test {
namespace {

class Editing : public ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        loadAndSettle(silentClip());
        firstPreview = player->itemPath();
        ASSERT_FALSE(firstPreview.empty());
        events.clear();
    }
    // The looping preview reaches player time t; the playhead follows.
    void playTo(double t) {
        reveal();
        player->seek(t, 0);
        player->landSeek();
        player->deliver();
    }

    std::string firstPreview;
};

TEST_F(Editing, ADragScrubsTheHandleAndItsReleaseRendersAgain) {
    model->trim(TrimHandle::end, 1.5, true);
    EXPECT_EQ(model->scrubbing(), TrimHandle::end);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(model->scrubOverlayVisible()); // until the scrub picture is there
    ASSERT_FALSE(scrub->seeks().empty());
    EXPECT_DOUBLE_EQ(scrub->seeks().back().timeSeconds, 1.5);
    EXPECT_DOUBLE_EQ(scrub->seeks().back().toleranceSeconds, 1.0 / 30);
    landScrub();
    EXPECT_TRUE(model->scrubOverlayVisible());

    // Switching handles mid-drag scrubs the other one, from a hidden overlay.
    const auto generation = model->previewRevealGeneration();
    model->trim(TrimHandle::start, 0.4, true);
    EXPECT_EQ(model->scrubbing(), TrimHandle::start);
    EXPECT_GT(model->previewRevealGeneration(), generation);
    EXPECT_FALSE(model->scrubOverlayVisible());
    EXPECT_DOUBLE_EQ(model->playhead(), 0.4);

    model->trim(TrimHandle::start, 0.5, false);
    EXPECT_FALSE(model->scrubbing());
    EXPECT_TRUE(model->scrubOverlayVisible()); // the last frame stays until the reveal
    EXPECT_TRUE(model->busy());
    EXPECT_EQ(eventNames(),
              (std::vector<QString>{"mac_app_trim_changed", "mac_app_preview_started"}));
    EXPECT_EQ(events[0].properties.value("interaction"), "start_handle");
    EXPECT_EQ(events[0].properties.value("loop_duration_bucket"), "1_3s");
    settle();
    EXPECT_EQ(model->preparedPreview().trimStart, 0.5);
    EXPECT_NE(player->itemPath(), firstPreview);
    EXPECT_EQ(player->looping(), Player::Looping::on);
    EXPECT_TRUE(player->isPlaying());
}

TEST_F(Editing, AReleaseWithoutADragSeeksThePreviewThenRenders) {
    playTo(0.3);
    model->trim(TrimHandle::end, 0.5, false);
    // Source 0.5 s is forward frame 15 of the prepared preview.
    EXPECT_DOUBLE_EQ(player->seeks().back().timeSeconds, 0.5);
    EXPECT_EQ(count("mac_app_trim_changed"), 1);
    EXPECT_EQ(count("mac_app_preview_started"), 1);
}

TEST_F(Editing, MovingKeepsTheLengthAndLogsTheMove) {
    model->moveLoop(-4, true);
    EXPECT_EQ(model->scrubbing(), TrimHandle::start);
    model->moveLoop(2.5, false);
    EXPECT_DOUBLE_EQ(model->start(), 2.0);
    EXPECT_DOUBLE_EQ(model->end(), 3.0);
    EXPECT_DOUBLE_EQ(model->playhead(), 2.0);
    ASSERT_EQ(count("mac_app_trim_changed"), 1);
    EXPECT_EQ(events[0].properties.value("interaction"), "move_loop");
}

TEST_F(Editing, ThreeQuickMarksRenderOnceAFifthOfASecondAfterTheLast) {
    playTo(0.5); // the playhead on frame 15
    ASSERT_DOUBLE_EQ(model->playhead(), 0.5);
    model->markFrame();
    EXPECT_EQ(model->status(), "Marked start frame 15");
    EXPECT_DOUBLE_EQ(model->start(), 0.5);
    timers->advance(ms(100));
    model->markFrame(); // the end cannot come before start plus a frame
    EXPECT_EQ(model->status(), "Marked end frame 16");
    EXPECT_DOUBLE_EQ(model->end(), 0.5 + 1.0 / 30);
    timers->advance(ms(100));
    model->markFrame();
    EXPECT_EQ(model->status(), "Restored previous start/end");
    EXPECT_EQ(model->start(), 0);
    EXPECT_EQ(model->end(), 1.0);
    EXPECT_EQ(model->scrubbing(), TrimHandle::start);

    timers->advance(ms(299));
    EXPECT_EQ(count("mac_app_preview_started"), 0);
    timers->advance(ms(1));
    EXPECT_EQ(count("mac_app_preview_started"), 1);
    EXPECT_FALSE(model->scrubbing());
    timers->advance(ms(1000));
    EXPECT_EQ(count("mac_app_preview_started"), 1);
}

TEST_F(Editing, TheThirdMarkRestoresTheSelectionOfTheFirstEvenAfterADrag) {
    playTo(0.5);
    model->markFrame(); // remembers 0..1, marks the start at 0.5
    timers->advance(ms(300));
    model->trim(TrimHandle::end, 2.0, true);
    model->trim(TrimHandle::end, 2.0, false);
    model->markFrame(); // the playhead is on the dragged end
    EXPECT_EQ(model->status(), "Marked end frame 60");
    model->markFrame();
    EXPECT_EQ(model->start(), 0);
    EXPECT_EQ(model->end(), 1.0);
}

TEST_F(Editing, ADragDuringARevealKeepsTheOverlayTheRevealWouldHaveHidden) {
    // The preview installed by the load is being revealed: it has not started.
    ASSERT_TRUE(model->scrubOverlayVisible());
    model->trim(TrimHandle::end, 1.2, true);
    landScrub();
    timers->advance(ms(2000)); // every reveal poll runs out
    EXPECT_TRUE(model->scrubOverlayVisible());
    EXPECT_EQ(model->scrubbing(), TrimHandle::end);
}

TEST_F(Editing, ARevealHidesTheOverlayOnceThePreviewPlaysOrAfterItsLastPoll) {
    ASSERT_TRUE(model->scrubOverlayVisible());
    reveal();
    EXPECT_FALSE(model->scrubOverlayVisible());

    model->trim(TrimHandle::end, 1.5, false);
    settle();
    ASSERT_TRUE(model->scrubOverlayVisible()); // a preview that never starts playing
    timers->advance(ms(89 * 16));
    EXPECT_TRUE(model->scrubOverlayVisible());
    timers->advance(ms(16));
    EXPECT_FALSE(model->scrubOverlayVisible());
}

TEST_F(Editing, ARenderFinishingDuringADragIsKeptButNotShown) {
    model->trim(TrimHandle::end, 1.5, false);
    model->trim(TrimHandle::start, 0.2, true); // a new drag before the render is back
    settle();
    ASSERT_TRUE(model->preparedPreview().file);
    const fs::path prepared = *model->preparedPreview().file;
    EXPECT_EQ(model->preparedPreview().trimStart, 0);
    EXPECT_EQ(player->itemPath(), firstPreview); // the old preview, paused
    EXPECT_EQ(count("mac_app_preview_succeeded"), 1);

    model->trim(TrimHandle::start, 0.2, false);
    settle();
    EXPECT_EQ(player->itemPath(), model->preparedPreview().file->string());
    EXPECT_EQ(previewFiles(), std::vector<fs::path>{*model->preparedPreview().file});
    EXPECT_FALSE(fs::exists(prepared));
}

TEST_F(Editing, ADragWhoseReleaseIsLostStillEndsAndRenders) {
    TimelineBar bar;
    bar.resize(348, 80); // 100 points a second; the end handle's centre at 136
    auto feed = [&] {
        bar.setInputs({model->duration(),
                       model->start(),
                       model->end(),
                       model->playhead(),
                       3,
                       {},
                       model->url().has_value()});
    };
    feed();
    bar.show();
    QObject::connect(model.get(), &Model::selectionChanged, &bar, feed);
    bar.setOnTrim([&](TrimHandle h, double t, bool dragging) { model->trim(h, t, dragging); });
    auto* layer = bar.findChild<TimelineInteractionWidget*>();
    QTest::mousePress(layer, Qt::LeftButton, Qt::NoModifier, QPoint(136, 20));
    QTest::mouseMove(layer, QPoint(156, 20));
    EXPECT_EQ(model->scrubbing(), TrimHandle::end);

    QEvent deactivate(QEvent::WindowDeactivate); // an alert opened
    QApplication::sendEvent(&bar, &deactivate);
    ASSERT_TRUE(waitFor([&] { return !model->scrubbing(); }));
    EXPECT_DOUBLE_EQ(model->end(), 1.2);
    EXPECT_EQ(count("mac_app_trim_changed"), 1);
    EXPECT_EQ(count("mac_app_preview_started"), 1);
    settle();
    EXPECT_EQ(model->preparedPreview().file->string(), player->itemPath());
}

} // namespace
} // namespace kavlo::test

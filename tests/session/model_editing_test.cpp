// Trim drags, moves and the Mark cycle on a loaded 3 s clip at 30 fps, with
// the players faked and the timers moved by hand.
#include "model_fixture.h"

namespace kavlo::test {
namespace {

class Editing : public ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        loadAndSettle(silentClip());
        firstPreview = player->itemPath();
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

TEST_F(Editing, ADragScrubsItsHandleAndItsReleaseRendersAgain) {
    model->trim(TrimHandle::end, 1.5, true);
    EXPECT_EQ(model->scrubbing(), TrimHandle::end);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(model->scrubOverlayVisible()); // until the scrub picture is there
    EXPECT_DOUBLE_EQ(scrub->seeks().back().timeSeconds, 1.5);
    EXPECT_DOUBLE_EQ(scrub->seeks().back().toleranceSeconds, 1.0 / 30);
    landScrub();
    EXPECT_TRUE(model->scrubOverlayVisible());

    model->trim(TrimHandle::start, 0.4, true); // the other handle, same drag
    EXPECT_EQ(model->scrubbing(), TrimHandle::start);
    EXPECT_FALSE(model->scrubOverlayVisible());
    model->trim(TrimHandle::start, 0.5, false);
    EXPECT_FALSE(model->scrubbing());
    // The release leaves the cores to the render: its seek gives up, and
    // with no frame of this handle's drag landed the preview before stays.
    EXPECT_FALSE(scrub->landSeek());
    EXPECT_FALSE(model->scrubOverlayVisible());
    EXPECT_EQ(eventNames(),
              (std::vector<QString>{"mac_app_trim_changed", "mac_app_preview_started"}));
    EXPECT_EQ(events[0].properties.value("interaction"), "start_handle");
    settle();
    EXPECT_EQ(model->preparedPreview().trimStart, 0.5);
    EXPECT_NE(player->itemPath(), firstPreview);
    EXPECT_TRUE(player->isPlaying() && player->looping() == Player::Looping::on);
    playTo(0.2); // the playhead counts from the new preview's start
    EXPECT_NEAR(model->playhead(), 0.7, 1e-9);
}

TEST_F(Editing, AReleaseWithoutADragSeeksThePreviewAndAMoveKeepsTheLength) {
    playTo(0.3);
    model->trim(TrimHandle::end, 0.5, false);
    EXPECT_DOUBLE_EQ(player->seeks().back().timeSeconds, 0.5); // forward frame 15
    model->moveLoop(2.5, false);
    EXPECT_EQ(std::pair(model->start(), model->end()), std::pair(2.5, 3.0));
    EXPECT_EQ(events.back().name, "mac_app_preview_started");
    EXPECT_EQ(events[events.size() - 2].properties.value("interaction"), "move_loop");
}

TEST_F(Editing, ThreeQuickMarksRenderOnceAFifthOfASecondAfterTheLast) {
    playTo(0.5); // the playhead on frame 15
    model->markFrame();
    EXPECT_EQ(model->status(), "Marked start frame 15");
    timers->advance(ms(100));
    model->markFrame(); // the end cannot come before start plus a frame
    EXPECT_EQ(model->status(), "Marked end frame 16");
    timers->advance(ms(100));
    model->markFrame();
    EXPECT_EQ(model->status(), "Restored previous start/end");
    EXPECT_EQ(std::pair(model->start(), model->end()), std::pair(0.0, 1.0));

    timers->advance(ms(299));
    EXPECT_EQ(count("mac_app_preview_started"), 0);
    timers->advance(ms(1));
    EXPECT_EQ(count("mac_app_preview_started"), 1);
    EXPECT_FALSE(model->scrubbing());
}

TEST_F(Editing, TheThirdMarkRestoresTheSelectionOfTheFirstEvenAfterADrag) {
    playTo(0.5);
    model->markFrame(); // remembers 0..1
    timers->advance(ms(300));
    model->trim(TrimHandle::end, 2.0, true);
    model->trim(TrimHandle::end, 2.0, false);
    model->markFrame(); // the playhead is on the dragged end
    EXPECT_EQ(model->status(), "Marked end frame 60");
    model->markFrame();
    EXPECT_EQ(std::pair(model->start(), model->end()), std::pair(0.0, 1.0));
}

TEST_F(Editing, TheRevealHidesTheOverlayWhenThePreviewPlaysButNotOverANewerDrag) {
    ASSERT_TRUE(model->scrubOverlayVisible()); // the load's preview has not started yet
    model->trim(TrimHandle::end, 1.2, true);
    landScrub();
    timers->advance(ms(2000)); // every reveal poll runs out
    EXPECT_TRUE(model->scrubOverlayVisible());

    model->trim(TrimHandle::end, 1.2, false);
    settle();
    reveal();
    EXPECT_FALSE(model->scrubOverlayVisible());
    model->trim(TrimHandle::end, 1.5, false);
    settle(); // a preview that never starts is revealed after 90 polls
    timers->advance(ms(89 * 16));
    EXPECT_TRUE(model->scrubOverlayVisible());
    timers->advance(ms(16));
    EXPECT_FALSE(model->scrubOverlayVisible());
}

TEST_F(Editing, ARenderFinishingDuringADragIsKeptButNotShown) {
    model->trim(TrimHandle::end, 1.5, false);
    model->trim(TrimHandle::start, 0.2, true); // a new drag before the render is back
    settle();
    const fs::path prepared = model->preparedPreview().file.value();
    EXPECT_EQ(model->preparedPreview().trimStart, 0);
    EXPECT_EQ(player->itemPath(), firstPreview);

    model->trim(TrimHandle::start, 0.2, false);
    settle();
    EXPECT_EQ(previewFiles(), std::vector<fs::path>{player->itemPath()});
    EXPECT_FALSE(fs::exists(prepared));
}

} // namespace
} // namespace kavlo::test

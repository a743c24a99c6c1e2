// The Model's state: what a new one holds, what a load resets, how changes
// are announced, and what a load makes of various files.
#include "model_fixture.h"

#include <cmath>

namespace kavlo::test {
namespace {

TEST_F(ModelTest, ANewModelShowsNoVideoAndIgnoresEditsThatNeedOne) {
    EXPECT_FALSE(model->url());
    EXPECT_EQ(model->start(), 0);
    EXPECT_EQ(model->end(), 1.0);
    EXPECT_EQ(model->duration(), 1.0);
    EXPECT_EQ(model->exportSpeed(), 1.0);
    EXPECT_EQ(model->fps(), 30);
    EXPECT_DOUBLE_EQ(model->videoAspect(), 16.0 / 9);
    EXPECT_TRUE(model->status().isEmpty());
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->scrubOverlayVisible());
    model->markFrame();
    model->prepareSmoothPreview();
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(model->status().isEmpty());
    EXPECT_EQ(player->observerCount(), 1);
}

TEST_F(ModelTest, ALoadResetsTheSessionButKeepsSpeedAndFrameRate) {
    loadAndSettle(silentClip());
    model->setExportSpeed(2.0);
    model->markFrame(); // the mark cycle is remembered...
    model->trim(TrimHandle::end, 2.5, false);
    settle();
    ASSERT_TRUE(model->preparedPreview().file);

    model->loadVideo(largerClip(), VideoLoadSource::dragDrop);
    EXPECT_FALSE(model->url());
    EXPECT_EQ(model->start(), 0);
    EXPECT_EQ(model->end(), 1.0);
    EXPECT_EQ(model->duration(), 1.0);
    EXPECT_EQ(model->playhead(), 0);
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->scrubOverlayVisible());
    EXPECT_FALSE(model->preparedPreview().file);
    EXPECT_EQ(model->exportSpeed(), 2.0);
    EXPECT_EQ(model->fps(), 30);
    EXPECT_EQ(model->status(), "Loading larger-4s.mp4...");
    EXPECT_FALSE(player->hasItem());
    EXPECT_FALSE(scrub->hasItem());
    // ...until the load: the preview this session no longer shows is gone.
    EXPECT_TRUE(previewFiles().empty());

    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    EXPECT_EQ(model->duration(), 4.0);
    model->markFrame(); // ...and starts again at the first press
    EXPECT_TRUE(model->status().startsWith("Marked start frame "));
}

TEST_F(ModelTest, SlotsReadTheWholeSelectionOnceItHasChanged) {
    const fs::path brief = makeIndexedVideo(temp / "brief.mp4", {.rate = "40", .frames = 2});
    struct Seen {
        double start, end, duration;
    };
    std::vector<Seen> onDuration, onSelection;
    QObject::connect(model.get(), &Model::durationChanged, [&] {
        onDuration.push_back({model->start(), model->end(), model->duration()});
    });
    QObject::connect(model.get(), &Model::selectionChanged, [&] {
        onSelection.push_back({model->start(), model->end(), model->duration()});
    });
    model->loadVideo(brief, VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    // A 0.05 s clip counts as 0.1 s, selected whole; the end never showed
    // past the duration, not even between the two changes.
    ASSERT_EQ(onDuration.size(), 1u);
    EXPECT_DOUBLE_EQ(onDuration[0].duration, 0.1);
    EXPECT_DOUBLE_EQ(onDuration[0].end, 0.1);
    ASSERT_EQ(onSelection.size(), 1u);
    EXPECT_DOUBLE_EQ(onSelection[0].end, 0.1);
}

TEST_F(ModelTest, APortraitClipTakesTheShapeItIsShownIn) {
    const fs::path stored = makeIndexedVideo(temp / "stored.mp4", {.height = 90, .frames = 30});
    const fs::path turned = temp / "portrait.mp4";
    remuxWithDisplayMatrix(stored, turned, 0, 1, -1, 0);
    model->loadVideo(turned, VideoLoadSource::openWith);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    EXPECT_DOUBLE_EQ(model->videoAspect(), 0.5625);
    EXPECT_EQ(model->end(), 1.0);
}

TEST_F(ModelTest, AFileWithoutVideoFailsToLoadWithItsReason) {
    const fs::path sound = temp / "sound.m4a";
    runFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac", sound.string()});
    model->loadVideo(sound, VideoLoadSource::commandLine);
    ASSERT_TRUE(waitFor([&] { return count("mac_app_video_load_failed") == 1; }));
    EXPECT_EQ(model->status(), "Could not load video: No video track found.");
    EXPECT_FALSE(model->url());
    EXPECT_FALSE(model->busy());
    const UsageEvent& failed = events.back();
    EXPECT_EQ(failed.properties.value("reason"), "no_video_track");
    EXPECT_EQ(failed.properties.value("source"), "command_line");
    EXPECT_EQ(failed.properties.value("file_type"), "m4a");
}

TEST_F(ModelTest, OfTwoQuickLoadsOnlyTheSecondArrivesAndNothingFails) {
    QStringList statuses;
    QObject::connect(model.get(), &Model::statusChanged,
                     [&] { statuses.push_back(model->status()); });
    model->loadVideo(largerClip(), VideoLoadSource::picker);
    model->loadVideo(silentClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    EXPECT_EQ(model->url(), silentClip());
    EXPECT_EQ(model->duration(), 3.0);
    EXPECT_EQ(count("mac_app_video_load_started"), 2);
    EXPECT_EQ(count("mac_app_video_load_succeeded"), 1);
    EXPECT_EQ(count("mac_app_preview_succeeded"), 1);
    for (const QString& status : statuses) {
        EXPECT_FALSE(status.startsWith("Could not")) << status.toStdString();
        EXPECT_NE(status, "larger-4s.mp4");
    }
}

TEST_F(ModelTest, AFileNameThatIsNotUtf8Loads) {
    const fs::path odd = temp / "caf\xe9 clip.mp4"; // Latin-1, not UTF-8
    fs::copy_file(silentClip(), odd);
    loadAndSettle(odd);
    EXPECT_EQ(model->url(), odd);
    EXPECT_EQ(count("mac_app_preview_succeeded"), 1);
    EXPECT_TRUE(model->status().endsWith(" clip.mp4")) << model->status().toStdString();
}

} // namespace
} // namespace kavlo::test

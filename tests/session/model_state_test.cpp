// What a load resets and makes of various files, and the ways files come
// into the session: the open panel, the example, a converted source.
#include "fake_converter.h"
#include "model_fixture.h"

#include <fstream>

namespace kavlo::test {
namespace {

TEST_F(ModelTest, ANewModelShowsNoVideoAndIgnoresEditsThatNeedOne) {
    EXPECT_FALSE(model->url());
    model->markFrame();
    model->prepareSmoothPreview();
    model->exportMP4(1);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(model->status().isEmpty());
    EXPECT_FALSE(model->busy());
}

TEST_F(ModelTest, ALoadResetsTheSessionButKeepsSpeedAndFrameRate) {
    loadAndSettle(silentClip());
    model->setExportSpeed(2.0);
    model->markFrame(); // the mark cycle starts...
    model->trim(TrimHandle::end, 2.5, false);
    settle();

    model->loadVideo(otherClip(), VideoLoadSource::dragDrop);
    EXPECT_FALSE(model->url());
    EXPECT_EQ(std::tuple(model->start(), model->end(), model->duration(), model->playhead()),
              std::tuple(0.0, 1.0, 1.0, 0.0));
    EXPECT_FALSE(model->busy() || model->scrubOverlayVisible() || model->preparedPreview().file);
    EXPECT_EQ(std::pair(model->exportSpeed(), model->fps()), std::pair(2.0, 30.0));
    EXPECT_EQ(model->status(), "Loading other-2s.mp4...");
    EXPECT_FALSE(player->hasItem() || scrub->hasItem());
    EXPECT_TRUE(previewFiles().empty()); // nothing shows the old preview any more

    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    EXPECT_EQ(model->duration(), 2.0);
    model->markFrame(); // ...and begins again after a load
    EXPECT_TRUE(model->status().startsWith("Marked start frame "));
}

TEST_F(ModelTest, ALoadTakesAShortClipWholeAPortraitUprightAndRefusesSound) {
    const fs::path brief = makeIndexedVideo(temp / "brief.mp4", {.rate = "40", .frames = 2});
    std::vector<std::pair<double, double>> seen; // (end, duration) when a slot ran
    auto record = [&] { seen.emplace_back(model->end(), model->duration()); };
    QObject::connect(model.get(), &Model::durationChanged, record);
    QObject::connect(model.get(), &Model::selectionChanged, record);
    model->loadVideo(brief, VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    // 0.05 s counts as 0.1 s; the end never showed past the duration.
    EXPECT_EQ(seen, (std::vector<std::pair<double, double>>{{0.1, 0.1}, {0.1, 0.1}}));

    const fs::path stored = makeIndexedVideo(temp / "stored.mp4", {.height = 90, .frames = 30});
    remuxWithDisplayMatrix(stored, temp / "portrait.mp4", 0, 1, -1, 0);
    model->loadVideo(temp / "portrait.mp4", VideoLoadSource::openWith);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    EXPECT_DOUBLE_EQ(model->videoAspect(), 0.5625);

    const fs::path sound = temp / "sound.m4a";
    runFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac", sound.string()});
    model->loadVideo(sound, VideoLoadSource::commandLine);
    ASSERT_TRUE(waitFor([&] { return count("mac_app_video_load_failed") == 1; }));
    EXPECT_EQ(model->status(), "Could not load video: No video track found.");
    EXPECT_FALSE(model->url());
    EXPECT_EQ(events.back().properties.value("reason"), "no_video_track");
    EXPECT_EQ(events.back().properties.value("source"), "command_line");
}

TEST_F(ModelTest, OfTwoQuickLoadsOnlyTheSecondArrivesAndNothingFails) {
    model->loadVideo(otherClip(), VideoLoadSource::picker);
    model->loadVideo(silentClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    EXPECT_EQ(model->url(), silentClip());
    EXPECT_EQ(count("mac_app_video_load_succeeded"), 1);
    EXPECT_EQ(count("mac_app_preview_succeeded"), 1);
    for (const QString& status : statuses)
        EXPECT_TRUE(!status.startsWith("Could not") && status != "other-2s.mp4") << status;
}

TEST_F(ModelTest, TheOpenPanelAndTheExampleLoadWithTheirSource) {
    model->chooseVideo();
    EXPECT_EQ(eventNames(), (std::vector<QString>{"mac_app_video_picker_opened",
                                                  "mac_app_video_picker_canceled"}));
    panels.openAnswer = silentClip();
    model->chooseVideo();
    EXPECT_EQ(events.back().properties,
              (AnalyticsProperties{
                  {"source", "picker"}, {"file_type", "mp4"}, {"file_size_bucket", "under_10mb"}}));
    model->loadExampleVideo(); // none bundled
    EXPECT_EQ(events.size(), 4u);

    exampleVideo = silentClip();
    create();
    model->loadExampleVideo();
    EXPECT_EQ(events.back().properties.value("source"), "example");
}

TEST_F(ModelTest, ThumbnailsArriveOnlyForTheVideoLoadedNow) {
    std::vector<qsizetype> delivered;
    QObject::connect(model.get(), &Model::thumbnailsChanged,
                     [&] { delivered.push_back(model->thumbnails().size()); });
    // 10 s of 64x36: a strip of 20 thumbnails.
    model->loadVideo(sharedClip("ten-seconds.mp4", {.width = 64, .height = 36, .frames = 300}),
                     VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    model->loadVideo(silentClip(), VideoLoadSource::picker); // before its strip is done
    delivered.clear();
    ASSERT_TRUE(waitFor([&] { return !model->thumbnails().isEmpty(); }));
    QTest::qWait(200); // a stale strip would come now
    // Filled with the second video's 12 images only (key frames first,
    // then exact ones in their place).
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered, std::vector<qsizetype>(delivered.size(), 12));
    EXPECT_EQ(model->thumbnails().back().time, 3.0);
}

TEST_F(ModelTest, AConvertedSourcePlaysFromItsCopyUnderItsOwnNameUntilTheNextLoad) {
    const fs::path broken = temp / "holiday.avi";
    std::ofstream(broken) << "not a container the media layer opens";
    const FakeConverter converter(temp.path(), "cp " + shellQuoted(silentClip()) + " \"$out\"",
                                  "exit 1");
    ffmpegCandidates = {converter.program()};
    create();
    loadAndSettle(broken);
    ASSERT_TRUE(model->url());
    const fs::path copy = *model->url();
    EXPECT_TRUE(copy.filename().string().starts_with("kavlo-source-")) << copy;
    EXPECT_TRUE(statuses.contains("Converting unsupported container..."));
    EXPECT_EQ(model->status(), "holiday.avi"); // after the preview, the opened file's name

    model->loadVideo(silentClip(), VideoLoadSource::picker);
    EXPECT_FALSE(fs::exists(copy));

    loadAndSettle(broken);
    const fs::path second = *model->url();
    model.reset();
    EXPECT_FALSE(fs::exists(second));
}

} // namespace
} // namespace kavlo::test

// The preview render with the real renderer: cancellation by a newer render
// or a load, failures, and the files a session leaves behind.
#include "model_fixture.h"
#include "session/preview_area.h"

#include <thread>

namespace kavlo::test {
namespace {

class Preview : public ModelTest {
  protected:
    // A preview file not in `known`, once a render has created it. Events
    // wait meanwhile, so no result of that render is applied yet.
    fs::path newPreviewFile(const std::vector<fs::path>& known = {}) {
        for (int i = 0; i < 60000; ++i, std::this_thread::sleep_for(ms(1)))
            for (const fs::path& file : previewFiles())
                if (std::find(known.begin(), known.end(), file) == known.end())
                    return file;
        ADD_FAILURE() << "no render created its file";
        return {};
    }
};

TEST_F(Preview, ANewerRenderCancelsTheRunningOneSilentlyAndItsFileGoes) {
    loadAndSettle(largerClip());
    const std::vector<fs::path> before = previewFiles();
    events.clear();
    model->trim(TrimHandle::end, 3.0, false);
    const fs::path cancelled = newPreviewFile(before);
    // Then three quick speed changes: only the last is prepared.
    for (double speed : {0.5, 2.0, 1.5}) {
        model->setExportSpeed(speed);
        model->prepareSmoothPreview();
    }
    settle();
    EXPECT_TRUE(waitFor([&] { return !fs::exists(cancelled); }));
    EXPECT_EQ(eventNames(),
              (std::vector<QString>{"mac_app_trim_changed", "mac_app_preview_started",
                                    "mac_app_preview_started", "mac_app_preview_started",
                                    "mac_app_preview_started", "mac_app_preview_succeeded"}));
    EXPECT_EQ(model->preparedPreview().speed, 1.5);
    EXPECT_EQ(events.back().properties.value("speed"), "1.5");
    EXPECT_EQ(model->status(), "larger-4s.mp4");
    EXPECT_EQ(previewFiles(), std::vector<fs::path>{player->itemPath()});
}

TEST_F(Preview, RendersNoLargerThanItsAreaAndAgainOnceTheAreaOutgrowsIt) {
    const auto width = [](const fs::path& file) {
        const DecodedVideo video = decodeVideo(file);
        return video.frames.empty() ? 0 : video.frames[0].width;
    };
    // The 160x96 clip in an 80x80 area: 80x48.
    model->setPreviewPixelSize({80, 80});
    loadAndSettle(silentClip());
    ASSERT_TRUE(model->preparedPreview().reduced);
    EXPECT_EQ(width(*model->preparedPreview().file), 80);
    events.clear();

    // A picture 1 % larger would look no sharper; nor one as large in a
    // drag, whose release renders anyway.
    model->setPreviewPixelSize({81, 81});
    timers->advance(kPreviewResizeDelay);
    model->trim(TrimHandle::end, 0.8, true);
    model->setPreviewPixelSize({120, 120});
    timers->advance(kPreviewResizeDelay);
    EXPECT_EQ(count("mac_app_preview_started"), 0);
    model->trim(TrimHandle::end, 0.8, false);
    settle();
    EXPECT_EQ(width(*model->preparedPreview().file), 120);

    // A window resized step by step renders once it stays put, at its size:
    // the source's own, which no larger area improves on.
    events.clear();
    for (int side : {130, 150, 170, 300}) {
        model->setPreviewPixelSize({side, side});
        timers->advance(kPreviewResizeDelay / 2);
    }
    EXPECT_EQ(count("mac_app_preview_started"), 0);
    timers->advance(kPreviewResizeDelay);
    EXPECT_EQ(count("mac_app_preview_started"), 1);
    settle();
    EXPECT_FALSE(model->preparedPreview().reduced);
    EXPECT_EQ(width(*model->preparedPreview().file), 160);
    model->setPreviewPixelSize({600, 600});
    timers->advance(kPreviewResizeDelay);
    EXPECT_EQ(count("mac_app_preview_started"), 1);
}

TEST_F(Preview, ALoadOrTheModelsEndCancelsTheRunningRenderAndItsFileGoes) {
    model->loadVideo(largerClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    const fs::path cancelled = newPreviewFile();
    model->loadVideo(silentClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    EXPECT_TRUE(waitFor([&] { return !fs::exists(cancelled); }));
    EXPECT_EQ(count("mac_app_preview_succeeded"), 1);
    EXPECT_EQ(count("mac_app_preview_failed"), 0);

    const std::vector<fs::path> loaded = previewFiles();
    model->loadVideo(largerClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    newPreviewFile(loaded);
    model.reset();
    EXPECT_TRUE(waitFor([&] { return previewFiles().empty(); }));
    QTest::qWait(50); // a result on its way must find nobody
}

TEST_F(Preview, AFailedRenderLetsThePreviousPreviewLoopOn) {
    fs::copy_file(silentClip(), temp / "going.mp4");
    loadAndSettle(temp / "going.mp4");
    const std::string looping = player->itemPath();
    model->trim(TrimHandle::end, 1.5, true);
    landScrub();
    fs::remove(temp / "going.mp4");
    model->trim(TrimHandle::end, 1.5, false);
    settle();
    EXPECT_TRUE(model->status().startsWith("Preview failed: ")) << model->status();
    EXPECT_EQ(events.back().properties.value("reason"), "media");
    EXPECT_TRUE(player->isPlaying() && !model->scrubOverlayVisible()); // the drag had paused it
    EXPECT_EQ(previewFiles(), std::vector<fs::path>{looping});
}

TEST_F(Preview, AfterAHundredPreviewsAtMostTwoFilesRemainAndNoneAfterTheSession) {
    loadAndSettle(silentClip());
    for (int i = 0; i < 100; ++i) {
        if (i % 8 == 5)
            model->trim(TrimHandle::start, 0, true); // finishes during a drag
        if (i % 8 == 6)
            model->trim(TrimHandle::start, 0, false);
        else
            model->prepareSmoothPreview();
        if (i % 4 == 3) {
            settle();
            ASSERT_TRUE(waitFor([&] { return previewFiles().size() <= 2; })) << i;
        }
    }
    model.reset();
    EXPECT_TRUE(waitFor([&] { return previewFiles().empty(); }));
}

} // namespace
} // namespace kavlo::test

// The preview render with the real renderer: cancellation by a newer render,
// a shown frame or a load, failures, and the files a session leaves behind.
#include "model_fixture.h"

#include <thread>

namespace kavlo::test {
namespace {

class Preview : public ModelTest {
  protected:
    // A preview file other than those in `known`, once its render has
    // created it. Events are not processed meanwhile, so no result of the
    // render is applied before the test acts.
    fs::path waitForNewPreviewFile(const std::vector<fs::path>& known = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const fs::path& file : previewFiles())
                if (std::find(known.begin(), known.end(), file) == known.end())
                    return file;
            std::this_thread::sleep_for(ms(1));
        }
        ADD_FAILURE() << "no render created its file";
        return {};
    }
    bool waitUntilGone(const fs::path& file) {
        return waitFor([&] { return !fs::exists(file); });
    }
};

TEST_F(Preview, ANewerRenderCancelsTheRunningOneWhichDeletesItsFile) {
    loadAndSettle(largerClip());
    const std::vector<fs::path> before = previewFiles();
    events.clear();
    model->trim(TrimHandle::end, 3.0, false);
    const fs::path cancelled = waitForNewPreviewFile(before);
    model->prepareSmoothPreview();
    settle();
    EXPECT_TRUE(waitUntilGone(cancelled));
    // Nothing tells of the cancelled render.
    EXPECT_EQ(eventNames(),
              (std::vector<QString>{"mac_app_trim_changed", "mac_app_preview_started",
                                    "mac_app_preview_started", "mac_app_preview_succeeded"}));
    EXPECT_EQ(model->status(), "larger-4s.mp4");
    EXPECT_EQ(previewFiles(), std::vector<fs::path>{player->itemPath()});
}

TEST_F(Preview, ALoadCancelsTheRunningRender) {
    model->loadVideo(largerClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    const fs::path cancelled = waitForNewPreviewFile();
    model->loadVideo(silentClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    EXPECT_TRUE(waitUntilGone(cancelled));
    EXPECT_EQ(count("mac_app_preview_started"), 2);
    EXPECT_EQ(count("mac_app_preview_succeeded"), 1);
    EXPECT_EQ(count("mac_app_preview_failed"), 0);
    EXPECT_EQ(model->preparedPreview().file->string(), player->itemPath());
}

TEST_F(Preview, AShownFrameCancelsTheRenderSilently) {
    loadAndSettle(largerClip());
    const std::vector<fs::path> before = previewFiles();
    model->trim(TrimHandle::end, 3.0, false);
    const fs::path cancelled = waitForNewPreviewFile(before);
    events.clear();
    model->markFrame();
    EXPECT_FALSE(model->busy());
    EXPECT_EQ(model->progress(), 0);
    const QString marked = model->status();
    EXPECT_TRUE(waitUntilGone(cancelled));
    QTest::qWait(50); // anything the cancelled render might still say
    EXPECT_EQ(model->status(), marked);
    EXPECT_TRUE(events.empty());
}

TEST_F(Preview, OnlyTheLastOfThreeQuickSpeedChangesIsPrepared) {
    loadAndSettle(silentClip());
    events.clear();
    for (double speed : {0.5, 2.0, 1.5}) {
        model->setExportSpeed(speed);
        model->prepareSmoothPreview();
    }
    settle();
    EXPECT_EQ(model->preparedPreview().speed, 1.5);
    EXPECT_EQ(count("mac_app_preview_started"), 3);
    ASSERT_EQ(count("mac_app_preview_succeeded"), 1);
    EXPECT_EQ(events.back().properties.value("speed"), "1.5");
    EXPECT_TRUE(waitFor([&] { return previewFiles().size() == 1; }));
}

TEST_F(Preview, AFailedRenderKeepsThePreviousPreviewLooping) {
    const fs::path copy = temp / "going.mp4";
    fs::copy_file(silentClip(), copy);
    loadAndSettle(copy);
    const std::string looping = player->itemPath();
    model->trim(TrimHandle::end, 1.5, true);
    landScrub();
    fs::remove(copy);
    events.clear();
    model->trim(TrimHandle::end, 1.5, false);
    settle();
    EXPECT_TRUE(model->status().startsWith("Preview failed: ")) << model->status().toStdString();
    ASSERT_EQ(count("mac_app_preview_failed"), 1);
    EXPECT_EQ(events.back().properties.value("reason"), "media");
    EXPECT_EQ(player->itemPath(), looping);
    EXPECT_TRUE(player->isPlaying()); // the drag had paused it
    EXPECT_FALSE(model->scrubOverlayVisible());
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
    settle();
    EXPECT_TRUE(waitFor([&] { return previewFiles().size() <= 2; }));
    model.reset();
    EXPECT_TRUE(waitFor([&] { return previewFiles().empty(); }));
}

TEST_F(Preview, AModelDestroyedWhileRenderingDropsTheResultAndItsFile) {
    model->loadVideo(largerClip(), VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->url().has_value(); }));
    waitForNewPreviewFile();
    model.reset();
    EXPECT_TRUE(waitFor([&] { return previewFiles().empty(); }));
    QTest::qWait(50); // a result on its way must find nobody
}

} // namespace
} // namespace kavlo::test

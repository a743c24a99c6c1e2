// What the Model says over the video (its Notice) through loads,
// conversions, previews, marks and exports, and the faults around them.
#include "fake_converter.h"
#include "model_fixture.h"

#include <fstream>
#include <thread>

namespace kavlo::test {
namespace {

using Kind = Notice::Kind;

class Notices : public ModelTest {
  protected:
    std::vector<fs::path> sourceFiles() const { return tempFiles("kavlo-source-"); }
    fs::path notAVideo() const {
        const fs::path file = temp / "notavideo.mp4";
        std::ofstream(file) << "not a video at all";
        return file;
    }
};

TEST_F(Notices, ASpeedChosenRightAfterAMarkStillInstallsItsPreview) {
    loadAndSettle(silentClip());
    model->markFrame();
    EXPECT_EQ(model->notice().kind, Kind::marked);
    timers->advance(ms(100)); // within the mark's 0.3 s
    model->setExportSpeed(2.0);
    model->prepareSmoothPreview();
    EXPECT_FALSE(model->scrubbing()) << "the shown frame is over";
    settle();
    EXPECT_EQ(model->preparedPreview().speed, 2.0);
    EXPECT_EQ(player->itemPath(), model->preparedPreview().file->string())
        << "the finished render was never installed";
}

TEST_F(Notices, AnExportsNoticeOutlastsPreviewsAndMarksAndTwoReadAsOne) {
    loadAndSettle(largerClip());
    panels.saveAnswer = temp / "one.mp4";
    model->exportMP4(2);
    EXPECT_EQ(model->notice().text, "Exporting MP4…");
    panels.saveAnswer = temp / "two.gif";
    model->exportGIF();
    EXPECT_EQ(model->notice().kind, Kind::exporting);
    EXPECT_EQ(model->notice().text, "Exporting 2 files…");

    // A mark and the preview after it neither replace the notice nor free
    // the export's controls.
    std::vector<Notice> seen;
    QObject::connect(model.get(), &Model::noticeChanged, [&] { seen.push_back(model->notice()); });
    model->markFrame();
    timers->advance(ms(300));
    ASSERT_TRUE(waitFor([&] { return model->runningExports() == 0; }));
    EXPECT_FALSE(model->busy());
    ASSERT_FALSE(seen.empty());
    for (size_t i = 0; i + 1 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, Kind::exporting) << seen[i].text;
        if (i > 0 && seen[i].text == seen[i - 1].text) {
            EXPECT_GE(*seen[i].progress, *seen[i - 1].progress) << "a preview's progress mixed in";
        }
    }
    EXPECT_EQ(seen.back().kind, Kind::saved);
    EXPECT_TRUE(seen.back().file == temp / "one.mp4" || seen.back().file == temp / "two.gif");
}

TEST_F(Notices, ALoadDuringTheSavePanelDropsTheExportWithAWord) {
    struct LoadingPanels : FakePanels {
        Model* model = nullptr;
        std::optional<fs::path> chooseSaveLocation(const QString&, const std::optional<fs::path>&,
                                                   ExportFormat) override {
            model->loadVideo(otherClip(), VideoLoadSource::dragDrop);
            return fs::path("/nowhere/clip-kavlo.mp4");
        }
    } loading;
    activePanels = &loading;
    create();
    loading.model = model.get();
    loadAndSettle(silentClip());
    model->exportMP4(1);
    EXPECT_EQ(model->runningExports(), 0);
    EXPECT_EQ(model->notice().kind, Kind::failed);
    EXPECT_EQ(model->notice().text, "silent-3s.mp4 was not exported: another video was opened "
                                    "while choosing where to save it.");
    EXPECT_EQ(count("mac_app_export_started"), 0);
}

TEST_F(Notices, ConversionsShowAndCancelAndANonVideoReadsInWords) {
    // A converter that takes its time: the notice tells, and Cancel stops it.
    const FakeConverter slow(temp.path(), "exit 1", "exec sleep 30");
    ffmpegCandidates = {slow.program()};
    create();
    const fs::path file = notAVideo();
    model->loadVideo(file, VideoLoadSource::picker);
    EXPECT_EQ(model->notice().text, "Opening notavideo.mp4…");
    ASSERT_TRUE(waitFor([&] { return slow.runs().size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return model->notice().kind == Kind::converting; }));
    EXPECT_EQ(model->notice().text, "Converting notavideo.mp4 for Kavlo…");
    model->cancelLoad();
    EXPECT_EQ(model->notice().kind, Kind::none);
    EXPECT_FALSE(model->url());
    ASSERT_TRUE(waitFor([&] { return sourceFiles().empty(); }, 20000));

    // The converter's words stay in the status (and the log), not over the video.
    const FakeConverter failing(temp.path(), "exit 1",
                                "echo '[mov @ 0x55] moov atom not found' >&2; exit 1");
    ffmpegCandidates = {failing.program()};
    create();
    model->loadVideo(file, VideoLoadSource::picker);
    ASSERT_TRUE(waitFor([&] { return model->notice().kind == Kind::failed; }));
    EXPECT_EQ(model->notice().text, "notavideo.mp4 is not a video Kavlo can open.");
    EXPECT_EQ(model->status(), "Could not load video: moov atom not found");
    EXPECT_TRUE(sourceFiles().empty());
}

TEST_F(Notices, AConvertedCopyWhoseLoadResultNeverArrivesIsDeleted) {
    const FakeConverter copying(temp.path(), "cp " + shellQuoted(silentClip()) + " \"$out\"",
                                "exit 1");
    ffmpegCandidates = {copying.program()};
    create();
    model->loadVideo(notAVideo(), VideoLoadSource::picker);
    // No event is processed: the load's result waits in the queue when the
    // window closes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (copying.runs().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(ms(20));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    model.reset();
    EXPECT_TRUE(sourceFiles().empty());
}

} // namespace
} // namespace kavlo::test

// Files into the session: the open panel, the example, the thumbnails of
// the video loaded now, and a source that has to be converted first.
#include "fake_converter.h"
#include "model_fixture.h"

#include <fstream>

namespace kavlo::test {
namespace {

// 10 s of 64x36: a strip of 20 thumbnails.
const fs::path& tenSecondClip() {
    static const fs::path path =
        makeIndexedVideo(clipDir() / "ten-seconds.mp4", {.width = 64, .height = 36, .frames = 300});
    return path;
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
    model->loadVideo(tenSecondClip(), VideoLoadSource::picker);
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
    QStringList statuses;
    QObject::connect(model.get(), &Model::statusChanged,
                     [&] { statuses.push_back(model->status()); });
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

// Exports from the session: the save panel, the render in the background,
// what the status and the events say, and what lands in the file.
#include "model_fixture.h"
#include "render/ping_pong.h"
#include "support/test_gif.h"

#include <map>

namespace kavlo::test {
namespace {

class Export : public ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        QObject::connect(model.get(), &Model::exportFinished,
                         [this](const fs::path& file, bool ok) {
                             finished.push_back({file, ok});
                         });
    }
    std::vector<int> expectedIndices(int loops) const {
        const int first = static_cast<int>(std::lround(model->preparedPreview().trimStart * 30));
        std::vector<int> indices =
            pingPongIndexSequence(model->preparedPreview().sourceFrames, loops);
        for (int& i : indices)
            i += first;
        return indices;
    }
    static std::vector<int> decodedIndices(const fs::path& file) {
        return frameIndices(decodeVideo(file));
    }

    std::vector<std::pair<fs::path, bool>> finished;
};

TEST_F(Export, AnMp4HoldsThePingPongOfTheSelectionAndSaysWhereItWent) {
    // Names that are not UTF-8 (Latin-1 bytes) load and export.
    const fs::path odd = temp / "d\xe9j\xe0 vu.mp4";
    fs::copy_file(silentClip(), odd);
    loadAndSettle(odd);
    model->trim(TrimHandle::start, 0.5, false);
    settle();
    events.clear();
    panels.saveAnswer = temp / "sortie \xff.mp4";
    model->exportMP4(2);
    EXPECT_EQ(panels.proposedNames, std::vector{QStringLiteral("d\uFFFDj\uFFFD vu-kavlo.mp4")});
    EXPECT_EQ(panels.proposedFolders, std::vector<std::optional<fs::path>>{temp.path()});
    EXPECT_EQ(model->status(), "Exporting MP4...");
    EXPECT_TRUE(model->busy() && model->runningExports() == 1);
    ASSERT_TRUE(waitFor([&] { return finished.size() >= 1; }));
    EXPECT_EQ(finished[0], std::pair(*panels.saveAnswer, true)) << model->status();
    EXPECT_TRUE(model->status().startsWith(u"Saved sortie \uFFFD.mp4 · "))
        << model->status().toStdString();
    EXPECT_FALSE(model->busy() || model->runningExports());
    EXPECT_EQ(eventNames(),
              (std::vector<QString>{"mac_app_export_selected", "mac_app_export_started",
                                    "mac_app_export_succeeded"}));
    EXPECT_EQ(events[1].properties.value("loops"), "2");
    EXPECT_TRUE(events[2].properties.contains("render_time_bucket"));
    EXPECT_EQ(decodedIndices(*panels.saveAnswer), expectedIndices(2));
}

TEST_F(Export, ACancelledSavePanelChangesNothing) {
    // The bundled example proposes no folder: it lives among the program's files.
    exampleVideo = silentClip();
    create();
    model->loadExampleVideo();
    ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }));
    events.clear();
    const QString status = model->status();
    model->exportGIF();
    EXPECT_EQ(eventNames(),
              (std::vector<QString>{"mac_app_export_selected", "mac_app_export_save_canceled"}));
    EXPECT_EQ(events[1].properties, (AnalyticsProperties{{"format", "gif"}}));
    EXPECT_EQ(panels.proposedNames, std::vector<QString>{"silent-3s-kavlo.gif"});
    EXPECT_EQ(panels.proposedFolders, std::vector<std::optional<fs::path>>{std::nullopt});
    EXPECT_EQ(model->status(), status);
    EXPECT_FALSE(model->busy() || model->runningExports());

    // Opened by another spelling of its path, as a command line names it.
    loadAndSettle(exampleVideo.parent_path() / "." / exampleVideo.filename());
    model->exportGIF();
    EXPECT_EQ(panels.proposedFolders.back(), std::nullopt);
}

TEST_F(Export, ExportsRunSideBySideThroughANewLoadAndFailuresSayWhy) {
    loadAndSettle(silentClip());
    events.clear();
    panels.saveAnswer = temp / "first.mp4";
    model->exportMP4(1);
    panels.saveAnswer = temp / "second.gif";
    model->exportGIF();
    panels.saveAnswer = temp / "third.webm";
    model->exportWebM(2);
    EXPECT_EQ(model->status(), "Exporting WebM...");
    panels.saveAnswer = temp / "no-such-folder" / "fourth.webp";
    model->exportWebP();
    EXPECT_EQ(model->runningExports(), 4);
    EXPECT_EQ(panels.proposedNames,
              (std::vector<QString>{"silent-3s-kavlo.mp4", "silent-3s-kavlo.gif",
                                    "silent-3s-kavlo.webm", "silent-3s-kavlo.webp"}));
    const std::vector<int> once = expectedIndices(1), twice = expectedIndices(2);
    model->loadVideo(otherClip(), VideoLoadSource::dragDrop);
    ASSERT_TRUE(waitFor([&] { return finished.size() >= 4; }));
    std::sort(finished.begin(), finished.end());
    EXPECT_EQ(finished, (std::vector<std::pair<fs::path, bool>>{
                            {temp / "first.mp4", true},
                            {temp / "no-such-folder" / "fourth.webp", false},
                            {temp / "second.gif", true},
                            {temp / "third.webm", true}}));
    EXPECT_EQ(decodedIndices(temp / "first.mp4"), once);
    EXPECT_GT(decodeGif(temp / "second.gif").size(), 10u);
    EXPECT_EQ(decodedIndices(temp / "third.webm"), twice);
    // A GIF and a WebP repeat forever: one loop is written.
    std::map<QString, QString> loops;
    for (const UsageEvent& e : events) {
        if (e.name == "mac_app_export_started")
            loops[e.properties.value("format")] = e.properties.value("loops");
        if (e.name == "mac_app_export_failed") {
            EXPECT_EQ(e.properties.value("format"), "webp");
        }
    }
    EXPECT_EQ(loops, (std::map<QString, QString>{
                         {"gif", "1"}, {"mp4", "1"}, {"webm", "2"}, {"webp", "1"}}));
    EXPECT_EQ(count("mac_app_export_succeeded"), 3);
    EXPECT_EQ(count("mac_app_export_failed"), 1);
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [](const QString& status) {
        return status.startsWith("WebP export failed: ");
    })) << statuses.join(" | ").toStdString();
    EXPECT_EQ(model->runningExports(), 0);
}

} // namespace
} // namespace kavlo::test
